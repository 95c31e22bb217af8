// Version pages signed with throw-away keys whose private halves were not kept.
#include "agent/trust/page_trust.h"

#include <gtest/gtest.h>

#include "agent/trust/base64.h"

namespace {

const ReleaseKeys kKeys = ReleaseKeysFrom(
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAERjUI68avFOWVvcifuV9ozk+fnd8fkIg7nfSAEOGUnlvlJuRV/o0+OpK/"
    "JYm5ofB9rgztO/Jm2XIy9rSx19BF2Q==",
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEF7uIw3Ry4rQ8v1o7gnzY+nuxWePa/2soSXpm40GO/bpiyOclcELYK8XVE/"
    "4ZxtMbr/xbkG90syjIfaSbGEpCIw==");

// A day before the test pages expire (2099-01-31T00:00:00Z): near enough to be believed.
constexpr std::int64_t kNow = 4073414400;

struct PageCase {
  const char* name;
  std::string block;
  std::string why;  // "" when the page is trusted
};

const PageCase kCases[] = {
    {"good",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\nexp=2099-01-31T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\nKivo9Sig:k1:JxMpT3Mqzc1EoxGozJvIDRaC4/Xq1kLXc7NT88VmV0KY6RWTGQQ45Z9in"
     "13nOg9N9WDhzUCxsgUu7rdVJ40J+A==\n:Kivo9SignedEnd",
     ""},
    {"slot2",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\nexp=2099-01-31T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\nKivo9Sig:k2:bPDx5446CGBm/jA0mJfN6YMf5StDesnUFLkMLHzx7DpctHpmpyMz1d0ov"
     "AnsjyeXi4Mh3FMd3UdSuVFATFboIw==\n:Kivo9SignedEnd",
     ""},
    {"otherkey",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\nexp=2099-01-31T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\nKivo9Sig:k1:x7ZuFEzfKWztVL527C3OU6rRi+UVVnnTfsLr5Mg4ZV4IoJVVrqQ96eGkA"
     "gn+BNmtzy3hgazQmiG8FmkMl1FeUA==\n:Kivo9SignedEnd",
     "bad signature"},
    {"normal",
     "Kivo9Signed:1\nchan=ver\nv=1204\nseq=1765238400\nexp=2099-01-31T00:00:00Z\npkg=z"
     "hcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\npk"
     "g=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfuture="
     "field\nKivo9Sig:k1:IcHeHM1dpoh405s26RQA0fZZGmpnU0y0doPmKBRWcLMBpEd/lJgb0xCiVh1Rc"
     "4L/x/dGFGr8DI4ZImDcBUV9Uw==\n:Kivo9SignedEnd",
     "wrong channel ver (expected testver)"},
    {"v1205",
     "Kivo9Signed:1\nchan=testver\nv=1205\nseq=1765238400\nexp=2099-01-31T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\nKivo9Sig:k1:6aZnernc/rLjZ8Ft7OqqQFODWIoTHjbR36EfANJNA+YSgGu1AQ+2TuSqP"
     "ZNrhB4wmG2AZjaekwuDiUUl1BmwNg==\n:Kivo9SignedEnd",
     "version mismatch: signed 1205, marker 1204"},
    {"expired",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\nexp=2020-01-01T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\nKivo9Sig:k1:ztVrHO61CctKIrcr5zZh6A1GSLYEFgPSMNf7PAfJNCbtIlBJ/32t1Bure"
     "K9ONS+qDosXKAyJglB7uPvqfuTeqQ==\n:Kivo9SignedEnd",
     "expired"},
    {"twice",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\nexp=2099-01-31T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\nv=1204\nKivo9Sig:k1:j0da/vFzGM+CoyJKuzS1pgj+teUINloHXUWAA9xZsKVmcXxpF"
     "zDv1cSz5hOf+Jou2KDDv7LUPKYBHpF7a5oh1w==\n:Kivo9SignedEnd",
     "signed field given twice: v"},
    {"noexp",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\npkg=zhcn 7340032 2872b52844"
     "a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\npkg=- 12 2872b52844a8db6"
     "62e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfuture=field\nKivo9Sig:k1:gRc"
     "2y+cOnmIx8AA26WM1KQ80nmkDJYUZjCobvyfZBnx7lBEk9sYVOWaNo6rGfD97v3aXrOBhEWMDPUJmz0c"
     "Jbw==\n:Kivo9SignedEnd",
     "signed field missing"},
    {"badpkg",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\nexp=2099-01-31T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\npkg=en 12 2872B52844A8DB662E8FC730F5AF5565F75817A1172397AF0C1A48F8D0D"
     "C292D\nKivo9Sig:k1:CNoLHmdOAaLZ5pVlhqbQvQcMAcYsp4HG3y2TMpm4CFs8sC6vnzlKJ7gMtDpa7"
     "VNfFxx/y5rB9nELEsZ5OU/CFw==\n:Kivo9SignedEnd",
     "malformed pkg line"},
    {"dupepkg",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\nexp=2099-01-31T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\npkg=zhcn 1 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0"
     "dc292d\nKivo9Sig:k1:ByTyxtBEfNhkRYbguODnjCML9Q6j/CpqMq8wwGQ6vXOO4cqq+dVr72E+4DPz"
     "7yDmWoYlTS9CrK/ZgL/nzIq1Jg==\n:Kivo9SignedEnd",
     "pkg line given twice"},
    {"noequals",
     "Kivo9Signed:1\nchan=testver\nv=1204\nseq=1765238400\nexp=2099-01-31T00:00:00Z\np"
     "kg=zhcn 7340032 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d"
     "\npkg=- 12 2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d\nfut"
     "ure=field\njunk\nKivo9Sig:k1:udBtkHeVvbY7IgyaTmpcaVHeFrqiBto2veQOBDubToIYZS8kdis"
     "KnaMLhnjzkl02ViwwGPB84FZb4sHhpNdvlA==\n:Kivo9SignedEnd",
     "signed line without '='"},
};

std::string Page(const std::string& block) {
  return "<html>Kivo9Version:1204:Kivo9VersionEnd\n<!--\n" + block + "\n-->\n</html>\n";
}

std::string WhyRefused(const std::string& page, const PageExpectation& expected,
                       const ReleaseKeys& keys = kKeys) {
  std::string why;
  const auto fields = TrustedPageFields(page, expected, keys, why);
  return fields ? "" : why;
}

constexpr PageExpectation kTestPage{"testver", L"1204", kNow};

TEST(PageTrustTest, EachPageIsTrustedOrRefusedForItsReason) {
  for (const PageCase& c : kCases) {
    EXPECT_EQ(WhyRefused(Page(c.block), kTestPage), c.why) << c.name;
  }
}

TEST(PageTrustTest, TrustedFieldsCarryThePackages) {
  std::string why;
  const auto fields = TrustedPageFields(Page(kCases[0].block), kTestPage, kKeys, why);
  ASSERT_TRUE(fields) << why;
  EXPECT_EQ(fields->sequence, 1765238400u);
  EXPECT_EQ(fields->expires, 4073500800);  // 2099-01-31
  ASSERT_NE(fields->Package(L"zhcn"), nullptr);
  EXPECT_EQ(fields->Package(L"zhcn")->size, 7340032u);
  EXPECT_EQ(platform::HexDigest(fields->Package(L"")->sha256),
            "2872b52844a8db662e8fc730f5af5565f75817a1172397af0c1a48f8d0dc292d");
  EXPECT_EQ(fields->Package(L"zh"), nullptr);
}

TEST(PageTrustTest, EveryAlteredByteOfTheBlockIsRefused) {
  const std::string page = Page(kCases[0].block);
  const std::size_t start = page.find("Kivo9Signed:1");
  const std::size_t end = page.find(":Kivo9SignedEnd") + 15;
  for (std::size_t at = start; at < end; ++at) {
    std::string altered = page;
    altered[at] ^= 0x01;
    EXPECT_NE(WhyRefused(altered, kTestPage), "") << at;
  }
}

TEST(PageTrustTest, APageCountsFromAWeekAndADayBeforeItsExpiryToADayAfter) {
  const std::string page = Page(kCases[5].block);  // expires 2020-01-01T00:00:00Z
  EXPECT_EQ(WhyRefused(page, {"testver", L"1204", 1577836800 + kClockSkewSeconds}), "");
  EXPECT_EQ(WhyRefused(page, {"testver", L"1204", 1577836801 + kClockSkewSeconds}), "expired");
  // A page may not be signed for longer than the publish tool allows, plus the skew.
  const std::string later = Page(kCases[0].block);  // expires 2099-01-31T00:00:00Z
  const std::int64_t earliest = 4073500800 - kLongestExpirySeconds - kClockSkewSeconds;
  EXPECT_EQ(WhyRefused(later, {"testver", L"1204", earliest}), "");
  EXPECT_EQ(WhyRefused(later, {"testver", L"1204", earliest - 1}), "expires too far ahead");
}

TEST(PageTrustTest, PagesWithoutAUsableFrameOrKey) {
  const std::string good = kCases[0].block;
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
  const ReleaseKeys onlySecond{{std::nullopt, kKeys.slots[1]}};
  EXPECT_EQ(WhyRefused(Page(good), kTestPage, onlySecond), "signed with unknown key k1");
  EXPECT_EQ(WhyRefused(Page(kCases[1].block), kTestPage, onlySecond), "");
}

TEST(ReleaseKeysTest, OnlyP256PublicKeysAreAccepted) {
  EXPECT_FALSE(kKeys.slots[0] == std::nullopt);
  EXPECT_TRUE(kKeys.RequireSignatures());
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
