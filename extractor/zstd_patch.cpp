#include "zstd_patch.h"

// The frame header reader is of zstd's advanced API, which every build links statically or
// finds exported (Debian's libzstd).
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <memory>

namespace unpack {

OrWhy<std::string> ApplyZstdPatch(const std::string& old, const std::string& patch,
                                  std::uint64_t newSize) {
  ZSTD_frameHeader header{};
  if (ZSTD_getFrameHeader(&header, patch.data(), patch.size()) != 0 ||
      header.frameType != ZSTD_frame) {
    return Outcome::No("the patch is no zstd frame");
  }
  if (header.frameContentSize != newSize) {
    return Outcome::No("the patch makes another size than the list says");
  }
  if (header.windowSize > (1ull << kPatchWindowLogMax)) {
    return Outcome::No("the patch asks for a window wider than 2^" +
                       std::to_string(kPatchWindowLogMax));
  }
  if (ZSTD_findFrameCompressedSize(patch.data(), patch.size()) != patch.size()) {
    return Outcome::No("the patch is not one whole zstd frame");
  }
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
  if (!context || ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), old.data(), old.size()))) {
    return Outcome::No("the zstd decoder cannot be set up");
  }
  std::string made(static_cast<std::size_t>(newSize), '\0');
  const std::size_t written =
      ZSTD_decompressDCtx(context.get(), made.data(), made.size(), patch.data(), patch.size());
  if (ZSTD_isError(written)) {
    return Outcome::No(std::string("the patch does not decode: ") + ZSTD_getErrorName(written));
  }
  if (written != newSize) return Outcome::No("the patch makes another size than the list says");
  return made;
}

}  // namespace unpack
