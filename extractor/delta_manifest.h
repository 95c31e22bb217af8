// The list at the head of a delta package: how each file of the new tree is made from the
// installed tree and the package's entries. One line per file, in the order the package's
// entries follow, fields split by one space, the path last (it may hold spaces):
//
//   kivo-delta 1
//   same x 1048576 <sha256> Kivo9.exe        the installed file as it is (x: executable, -: not)
//   patch - 2048 <sha256> 1990 <sha256> a/b   the next entry, a zstd frame whose prefix is the
//                                             installed file of 1990 bytes with that SHA-256
//   bsdiff - 2048 <sha256> 1990 <sha256> a/c  the next entry, a bsdiff-style patch of that
//                                             installed file (bsdiff_patch.h)
//   whole - 12 <sha256> Resource/files.lst    the next entry, the file itself
//
// Sizes and hashes are those of the new file; patch and bsdiff lines also name the old file's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "platform/outcome.h"

namespace unpack {

// The entry a delta package starts with, holding the list.
inline constexpr char kDeltaListName[] = ".kivo-delta";
// The longest list read: larger ones are refused before they are held in memory.
inline constexpr std::uint64_t kMaxDeltaList = 16ull << 20;
// The largest old or new file a patch line may name: patching holds both in memory.
inline constexpr std::uint64_t kMaxPatchedFile = 128ull << 20;

enum class DeltaKind { kSame, kPatch, kBsdiff, kWhole };

struct DeltaLine {
  DeltaKind kind = DeltaKind::kWhole;
  bool executable = false;
  std::uint64_t size = 0;
  platform::Sha256Digest sha256{};
  std::uint64_t oldSize = 0;  // patch and bsdiff lines only
  platform::Sha256Digest oldSha256{};
  std::string path;  // '/'-separated UTF-8
};

// The lines of list text. Why not when the first line is not "kivo-delta 1", a line has
// another shape, a number or digest is malformed, a patch or bsdiff line passes
// kMaxPatchedFile, or a
// path comes twice.
OrWhy<std::vector<DeltaLine>> ParseDeltaList(std::string_view text);

}  // namespace unpack
