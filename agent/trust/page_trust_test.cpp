// Version pages signed with throw-away keys whose private halves were not kept.
#include "agent/trust/page_trust.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "agent/trust/base64.h"

namespace {

// A day before the test pages expire (2099-01-31T00:00:00Z): near enough to be believed.
constexpr std::int64_t kNow = 4073414400;

struct PageCase {
  std::string name;
  std::string block;
  std::string why;  // "" when the page is trusted
};

// The table of signed blocks shared with the publish tool's verify (signed_pages.txt).
struct SignedPages {
  ReleaseKeys keys;
  std::vector<PageCase> cases;

  const PageCase& Named(const std::string& name) const {
    for (const PageCase& c : cases) {
      if (c.name == name) return c;
    }
    throw std::out_of_range("no page case " + name);
  }
};

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool lineBreak = text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n';
    out += lineBreak ? '\n' : text[i];
    i += lineBreak ? 1 : 0;
  }
  return out;
}

const SignedPages& Table() {
  static const SignedPages table = [] {
    SignedPages loaded;
    std::ifstream file(KIVO_SIGNED_PAGES);
    std::string key1, key2;
    for (std::string line; std::getline(file, line);) {
      if (line.empty() || line[0] == '#') continue;
      const std::size_t tab = line.find('\t');
      const std::string first = line.substr(0, tab), rest = line.substr(tab + 1);
      if (first == "key1" || first == "key2") {
        (first == "key1" ? key1 : key2) = rest;
        continue;
      }
      const std::size_t second = rest.find('\t');
      const std::string why = rest.substr(0, second);
      loaded.cases.push_back({first, Unescaped(rest.substr(second + 1)), why == "ok" ? "" : why});
    }
    loaded.keys = ReleaseKeysFrom(key1, key2);
    return loaded;
  }();
  return table;
}

std::string Page(const std::string& block) {
  return "<html>Kivo9Version:1204:Kivo9VersionEnd\n<!--\n" + block + "\n-->\n</html>\n";
}

std::string WhyRefused(const std::string& page, const PageExpectation& expected,
                       const ReleaseKeys& keys = Table().keys) {
  return TrustedPageFields(page, expected, keys).why();
}

constexpr PageExpectation kTestPage{"testver", L"1204", kNow};

TEST(PageTrustTest, EachPageIsTrustedOrRefusedForItsReason) {
  ASSERT_GT(Table().cases.size(), 10u) << KIVO_SIGNED_PAGES;
  for (const PageCase& c : Table().cases) {
    EXPECT_EQ(WhyRefused(Page(c.block), kTestPage), c.why) << c.name;
  }
}

// The field rules shared with the publish tool (signed_fields.txt), the signature aside.
TEST(PageTrustTest, SignedFieldsAreReadByTheSharedRules) {
  std::ifstream file(KIVO_SIGNED_FIELDS);
  int cases = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t first = line.find('\t'), second = line.find('\t', first + 1);
    const std::string name = line.substr(0, first);
    const std::string expected = line.substr(first + 1, second - first - 1);
    const auto fields = ParseSignedFields(Unescaped(line.substr(second + 1)));
    EXPECT_EQ(fields ? "ok" : fields.why(), expected) << name;
    ++cases;
  }
  EXPECT_GE(cases, 5) << KIVO_SIGNED_FIELDS;
}

TEST(PageTrustTest, TrustedFieldsCarryThePackages) {
  const auto fields = TrustedPageFields(Page(Table().Named("good").block), kTestPage, Table().keys);
  ASSERT_TRUE(fields) << fields.why();
  EXPECT_EQ(fields->sequence, 1765238400u);
  EXPECT_EQ(fields->expires, 4073500800);  // 2099-01-31
  ASSERT_NE(fields->Package(L"zhcn"), nullptr);
  EXPECT_EQ(fields->Package(L"zhcn")->size, 7340032u);
  EXPECT_EQ(platform::HexDigest(fields->Package(L"")->sha256),
            "2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d");
  EXPECT_EQ(fields->Package(L"zh"), nullptr);
  EXPECT_EQ(fields->rollout.share, kWholeFleet) << "no share line: every installation";

  const auto staged =
      TrustedPageFields(Page(Table().Named("staged").block), kTestPage, Table().keys);
  ASSERT_TRUE(staged) << staged.why();
  EXPECT_EQ(staged->rollout.share, 500u);
  EXPECT_EQ(staged->rollout.salt, "00112233445566778899aabbccddeeff");
  EXPECT_EQ(staged->rollout.previousVersion, "1203");
  ASSERT_EQ(staged->rollout.previousPackages.size(), 1u);
  EXPECT_EQ(staged->rollout.previousPackages[0].size, 12u);
  EXPECT_EQ(staged->packages.size(), 2u) << "prevpkg lines are not the release's own";
}

TEST(PageTrustTest, EveryAlteredByteOfTheBlockIsRefused) {
  const std::string page = Page(Table().Named("good").block);
  const std::size_t start = page.find("Kivo9Signed:1");
  const std::size_t end = page.find(":Kivo9SignedEnd") + 15;
  for (std::size_t at = start; at < end; ++at) {
    std::string altered = page;
    altered[at] ^= 0x01;
    EXPECT_NE(WhyRefused(altered, kTestPage), "") << at;
  }
}

TEST(PageTrustTest, APageCountsFromAWeekAndADayBeforeItsExpiryToADayAfter) {
  const std::string page = Page(Table().Named("expired").block);  // expires 2020-01-01T00:00:00Z
  EXPECT_EQ(WhyRefused(page, {"testver", L"1204", 1577836800 + kClockSkewSeconds}), "");
  EXPECT_EQ(WhyRefused(page, {"testver", L"1204", 1577836801 + kClockSkewSeconds}), "expired");
  // A page may not be signed for longer than the publish tool allows, plus the skew.
  const std::string later = Page(Table().Named("good").block);  // expires 2099-01-31T00:00:00Z
  const std::int64_t earliest = 4073500800 - kLongestExpirySeconds - kClockSkewSeconds;
  EXPECT_EQ(WhyRefused(later, {"testver", L"1204", earliest}), "");
  EXPECT_EQ(WhyRefused(later, {"testver", L"1204", earliest - 1}), "expires too far ahead");
}

TEST(PageTrustTest, PagesWithoutAUsableFrameOrKey) {
  const std::string good = Table().Named("good").block;
  const std::size_t sig = good.find("Kivo9Sig:k1:") + 12;
  const struct {
    std::string page;
    std::string why;
  } cases[] = {
      {"Kivo9Version:1204:Kivo9VersionEnd", "no signed block"},
      {Page(good.substr(0, good.find(":Kivo9SignedEnd"))), "signed block without signature or end"},
      {Page(good.substr(0, sig) + "!" + good.substr(sig + 1)), "malformed signature line"},
      {Page(good.substr(0, sig - 2) + "3" + good.substr(sig - 1)), "malformed signature line"},
  };
  for (const auto& c : cases) EXPECT_EQ(WhyRefused(c.page, kTestPage), c.why) << c.page;
  const ReleaseKeys onlySecond{{std::nullopt, Table().keys.slots[1]}};
  EXPECT_EQ(WhyRefused(Page(good), kTestPage, onlySecond), "signed with unknown key k1");
  EXPECT_EQ(WhyRefused(Page(Table().Named("slot2").block), kTestPage, onlySecond), "");
}

TEST(ReleaseKeysTest, OnlyP256PublicKeysAreAccepted) {
  EXPECT_FALSE(Table().keys.slots[0] == std::nullopt);
  EXPECT_TRUE(Table().keys.RequireSignatures());
  EXPECT_FALSE(ReleaseKeysFrom("", "").RequireSignatures());
  EXPECT_THROW(ReleaseKeysFrom("MFkw", ""), std::invalid_argument);
  // An RSA key's info, and a P-256 one cut short.
  EXPECT_EQ(
      PointFromPublicKeyInfo("MCwwDQYJKoZIhvcNAQEBBQADGwAwGAIRAMp0wXPTlfyRbJHpXiMIxKMCAwEAAQ=="),
      std::nullopt);
}

TEST(Base64Test, DecodesStrictly) {
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_EQ(DecodeBase64("Zg=="), "f");
  EXPECT_EQ(DecodeBase64("Zm8="), "fo");
  EXPECT_EQ(DecodeBase64("Zm9v"), "foo");
  EXPECT_EQ(DecodeBase64("+/8="), "\xfb\xff");
  for (const char* bad : {"Zg=", "Zh==", "Zm9=", "Z===", "Zg==Zg==", "Zm 9v", "Zm9v\n", "=Zm9"}) {
    EXPECT_EQ(DecodeBase64(bad), std::nullopt) << bad;
  }
}

TEST(UtcTimeTest, OnlyValidTimesInTheOneForm) {
  EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseUtcTime("2024-02-29T23:59:59Z"), 1709251199);
  for (const char* bad : {"2023-02-29T00:00:00Z", "2027-13-01T00:00:00Z", "2027-01-31T24:00:00Z",
                          "2027-01-31 00:00:00Z", "2027-01-31T00:00:00", "+027-01-31T00:00:00Z",
                          "1969-12-31T23:59:59Z"}) {
    EXPECT_EQ(ParseUtcTime(bad), std::nullopt) << bad;
  }
}

}  // namespace
