// The readers of a delta package that see the server's bytes before any hash of a made file
// can: the delta list, and the zstd and bsdiff patches applied to an installed file. The
// first byte chooses (by its value modulo 3): 0, the rest is a list; 1 or 2, the next two bytes
// give the new size and the rest is a zstd or a bsdiff patch of a fixed old file, the bsdiff
// one fed in pieces of the third byte's size. Whatever the bytes, a list is read whole with
// every path present and every patched size within its cap, or refused; a patch makes exactly
// the size asked for, or is refused.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bsdiff_patch.h"
#include "delta_manifest.h"
#include "fuzz_input.h"
#include "zstd_patch.h"

namespace {

const std::string& OldFile() {
  static const std::string old = [] {
    std::string text;
    for (int i = 0; i < 512; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
    return text;
  }();
  return old;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 3 == 0) {
    const auto lines = unpack::ParseDeltaList(rest);
    if (!lines) return 0;
    for (const unpack::DeltaLine& line : *lines) {
      fuzz::Require(!line.path.empty(), "every line names a path");
      fuzz::Require(
          line.kind != unpack::DeltaKind::kPatch ||
              (line.size <= unpack::kMaxPatchedFile && line.oldSize <= unpack::kMaxPatchedFile),
          "patched files keep the cap");
    }
    return 0;
  }
  if (rest.size() < 2) return 0;
  const std::uint64_t newSize =
      static_cast<std::uint8_t>(rest[0]) * 256u + static_cast<std::uint8_t>(rest[1]);
  if (data[0] % 3 == 1) {
    const auto made = unpack::ApplyZstdPatch(OldFile(), std::string(rest.substr(2)), newSize);
    fuzz::Require(!made || made->size() == newSize, "a patch makes the size asked for");
    return 0;
  }
  const std::size_t piece = rest.size() > 2 ? static_cast<std::uint8_t>(rest[2]) + 1u : 1u;
  const std::string_view patch = rest.substr(std::min<std::size_t>(rest.size(), 3));
  unpack::BsdiffPatcher patcher(OldFile(), newSize);
  for (std::size_t at = 0; at < patch.size(); at += piece) {
    patcher.Take(patch.data() + at, std::min(piece, patch.size() - at));
  }
  const auto made = patcher.Finish();
  fuzz::Require(!made || made->size() == newSize, "a bsdiff patch makes the size asked for");
  return 0;
}
