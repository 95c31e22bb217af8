#include "platform/crypto.h"

#include <stdexcept>
#include <vector>

#include "platform/files.h"

namespace platform {

std::string HexDigest(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::optional<Sha256Digest> Sha256OfFile(const std::wstring& path) {
  FileReader reader;
  if (!reader.Open(path)) return std::nullopt;
  try {
    Sha256 hash;
    std::vector<char> buffer(1 << 16);
    for (;;) {
      std::size_t n = 0;
      if (!reader.Read(buffer.data(), buffer.size(), n)) return std::nullopt;
      if (n == 0) break;
      hash.Update(buffer.data(), n);
    }
    return hash.Finish();
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

}  // namespace platform
