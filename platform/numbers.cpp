#include "platform/numbers.h"

namespace platform {

namespace {

template <typename Char>
std::optional<std::uint64_t> Decimal(std::basic_string_view<Char> text, std::uint64_t max) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const Char c : text) {
    if (c < Char('0') || c > Char('9')) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - Char('0'));
    if (digit > max || value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

int LowerHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t max) {
  return Decimal(text, max);
}

std::optional<std::uint64_t> ParseDecimal(std::wstring_view text, std::uint64_t max) {
  return Decimal(text, max);
}

std::string LowerHex(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

bool ParseLowerHex(std::string_view hex, std::uint8_t* bytes, std::size_t size) {
  if (hex.size() != size * 2) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const int high = LowerHexValue(hex[2 * i]);
    const int low = LowerHexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

std::optional<Sha256Digest> ParseHexDigest(std::string_view hex) {
  Sha256Digest digest{};
  if (!ParseLowerHex(hex, digest.data(), digest.size())) return std::nullopt;
  return digest;
}

}  // namespace platform
