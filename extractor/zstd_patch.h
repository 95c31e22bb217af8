// Applying a patch that zstd made with the old file as its prefix (zstd --patch-from): the
// old file's bytes are the history the new file's frame refers back to.
#pragma once

#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace unpack {

// The widest window a patch frame may ask for: 2^28 bytes, enough for an old and a new
// file of kMaxPatchedFile each.
inline constexpr int kPatchWindowLogMax = 28;

// The new file that patch (one zstd frame) makes from old. Memory beyond the three buffers is
// zstd's own context: the new file is decoded into one buffer of newSize bytes. Why not when
// the frame is damaged, holds another size than newSize or none, asks for a wider window than
// kPatchWindowLogMax, or anything follows it.
OrWhy<std::string> ApplyZstdPatch(const std::string& old, const std::string& patch,
                                  std::uint64_t newSize);

}  // namespace unpack
