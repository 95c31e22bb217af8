#include "platform/crypto.h"

#include <stdexcept>
#include <vector>

#include "platform/files.h"
#include "platform/numbers.h"

namespace platform {

std::string HexDigest(const Sha256Digest& digest) { return LowerHex(digest.data(), digest.size()); }

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
