#include "platform/numbers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

TEST(ParseDecimal, AcceptsDigitsAloneWithinTheBound) {
  const struct {
    const char* text;
    std::uint64_t max;
    std::optional<std::uint64_t> value;
  } cases[] = {
      {"0", UINT64_MAX, 0},
      {"007", UINT64_MAX, 7},
      {"18446744073709551615", UINT64_MAX, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, std::nullopt},
      {"99999999999999999999", UINT64_MAX, std::nullopt},
      {"65535", 65535, 65535},
      {"65536", 65535, std::nullopt},
      {"7", 5, std::nullopt},
      {"", UINT64_MAX, std::nullopt},
      {"+1", UINT64_MAX, std::nullopt},
      {"-1", UINT64_MAX, std::nullopt},
      {" 1", UINT64_MAX, std::nullopt},
      {"1 ", UINT64_MAX, std::nullopt},
      {"1x", UINT64_MAX, std::nullopt},
      {"0x10", UINT64_MAX, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ParseDecimal(std::string_view(c.text), c.max), c.value) << c.text;
    const std::wstring wide(c.text, c.text + std::char_traits<char>::length(c.text));
    EXPECT_EQ(platform::ParseDecimal(std::wstring_view(wide), c.max), c.value) << c.text;
  }
  EXPECT_EQ(platform::ParseDecimal(std::wstring_view(L"1\u0661")), std::nullopt) << "ASCII only";
}

TEST(ParseHexDigest, ReadsBackWhatHexDigestWritesAndNothingElse) {
  platform::Sha256Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(i * 37 + 5);
  const std::string hex = platform::HexDigest(digest);
  EXPECT_EQ(platform::ParseHexDigest(hex), digest);
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(upper, hex);
  EXPECT_EQ(platform::ParseHexDigest(upper), std::nullopt);
  EXPECT_EQ(platform::ParseHexDigest(hex.substr(1)), std::nullopt);
  EXPECT_EQ(platform::ParseHexDigest(hex + "0"), std::nullopt);
  EXPECT_EQ(platform::ParseHexDigest(hex.substr(0, 63) + "g"), std::nullopt);
  EXPECT_EQ(platform::ParseHexDigest(""), std::nullopt);
}

}  // namespace
