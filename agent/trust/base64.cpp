#include "agent/trust/base64.h"

#include <cstdint>

namespace {

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < text.size() - padding; ++i) {
    const int sextet = SextetOf(text[i]);
    if (sextet < 0) return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(sextet);
    if (i % 4 == 3) {
      bytes +=
          {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8), static_cast<char>(bits)};
      bits = 0;
    }
  }
  if (padding == 1) {  // three sextets: two bytes, and the last two bits must be zero
    if ((bits & 0x3) != 0) return std::nullopt;
    bytes += {static_cast<char>(bits >> 10), static_cast<char>(bits >> 2)};
  } else if (padding == 2) {  // two sextets: one byte, and the last four bits must be zero
    if ((bits & 0xF) != 0) return std::nullopt;
    bytes += static_cast<char>(bits >> 4);
  }
  return bytes;
}
