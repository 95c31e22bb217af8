// Applying a bsdiff-style patch as a delta package carries it: the control triples of bsdiff
// with their blocks interleaved, so that the patch is applied as it streams in and never
// held whole:
//
//   "KBSDIFF1"
//   then, until the new file is whole: x (u64 LE), y (u64 LE), z (i64 LE), x bytes added
//   to the old file's bytes from the old position on (beyond the old file: to 0), y bytes
//   taken as they are; then the old position moves on by x + z.
//
// Memory is the old file and the new one, whose size the delta list gives.
#pragma once

#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace unpack {

class BsdiffPatcher {
 public:
  // Makes a file of newSize bytes from old (which must outlive the patcher).
  BsdiffPatcher(const std::string& old, std::uint64_t newSize);

  // Takes the next piece of the patch; false once it is malformed (a triple reaching beyond
  // the new file's size, or bytes after its end), and for every piece after that.
  bool Take(const char* data, std::size_t size);
  // The new file, once the patch has ended exactly at its size; why not otherwise.
  OrWhy<std::string> Finish();

 private:
  enum class Part { kMagic, kTriple, kDiff, kExtra, kDone, kBroken };

  bool TakeHeaderBytes(const char*& data, std::size_t& size, std::size_t want);
  bool StartTriple();

  const std::string& old_;
  std::string made_;
  std::uint64_t newPos_ = 0;
  std::int64_t oldPos_ = 0;
  Part part_ = Part::kMagic;
  std::string header_;       // the magic or a triple being gathered
  std::uint64_t left_ = 0;   // of the current diff or extra bytes
  std::uint64_t extra_ = 0;  // the extra bytes after the current diff bytes
  std::int64_t seek_ = 0;    // z of the current triple
};

}  // namespace unpack
