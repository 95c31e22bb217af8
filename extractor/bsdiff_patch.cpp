#include "bsdiff_patch.h"

#include <algorithm>
#include <cstring>

namespace unpack {
namespace {

constexpr char kMagic[] = "KBSDIFF1";
constexpr std::size_t kMagicSize = sizeof kMagic - 1;
constexpr std::size_t kTripleSize = 24;

std::uint64_t Little64(const char* bytes) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

}  // namespace

BsdiffPatcher::BsdiffPatcher(const std::string& old, std::uint64_t newSize)
    : old_(old), made_(static_cast<std::size_t>(newSize), '\0') {}

bool BsdiffPatcher::TakeHeaderBytes(const char*& data, std::size_t& size, std::size_t want) {
  const std::size_t piece = std::min(size, want - header_.size());
  header_.append(data, piece);
  data += piece;
  size -= piece;
  return header_.size() == want;
}

// The triple gathered in header_: its lengths must stay within the new file.
bool BsdiffPatcher::StartTriple() {
  const std::uint64_t x = Little64(header_.data());
  const std::uint64_t y = Little64(header_.data() + 8);
  seek_ = static_cast<std::int64_t>(Little64(header_.data() + 16));
  header_.clear();
  const std::uint64_t room = made_.size() - newPos_;
  if (x > room || y > room - x) return false;
  left_ = x;
  extra_ = y;
  part_ = Part::kDiff;
  return true;
}

bool BsdiffPatcher::Take(const char* data, std::size_t size) {
  while (size > 0 && part_ != Part::kBroken) {
    switch (part_) {
      case Part::kMagic:
        if (TakeHeaderBytes(data, size, kMagicSize)) {
          part_ = header_ != kMagic ? Part::kBroken : made_.empty() ? Part::kDone : Part::kTriple;
          header_.clear();
        }
        break;
      case Part::kTriple:
        if (TakeHeaderBytes(data, size, kTripleSize) && !StartTriple()) part_ = Part::kBroken;
        break;
      case Part::kDiff: {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left_, size));
        for (std::size_t i = 0; i < n; ++i, ++oldPos_) {
          const bool inOld = oldPos_ >= 0 && static_cast<std::uint64_t>(oldPos_) < old_.size();
          made_[newPos_++] = static_cast<char>(data[i] + (inOld ? old_[oldPos_] : 0));
        }
        data += n;
        size -= n;
        left_ -= n;
        if (left_ == 0) {
          left_ = extra_;
          part_ = Part::kExtra;
        }
        break;
      }
      case Part::kExtra: {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left_, size));
        std::memcpy(made_.data() + newPos_, data, n);
        newPos_ += n;
        data += n;
        size -= n;
        left_ -= n;
        break;
      }
      case Part::kDone:
      case Part::kBroken:
        part_ = Part::kBroken;  // bytes after the end
        break;
    }
    if (part_ == Part::kExtra && left_ == 0) {
      // The old position moves on by z; one that leaves the 64-bit range breaks the patch.
      if ((seek_ > 0 && oldPos_ > INT64_MAX - seek_) ||
          (seek_ < 0 && oldPos_ < INT64_MIN - seek_)) {
        part_ = Part::kBroken;
      } else {
        oldPos_ += seek_;
        part_ = newPos_ == made_.size() ? Part::kDone : Part::kTriple;
      }
    }
  }
  return part_ != Part::kBroken;
}

OrWhy<std::string> BsdiffPatcher::Finish() {
  if (part_ == Part::kBroken) return Outcome::No("the bsdiff patch is malformed");
  if (part_ != Part::kDone) {
    return Outcome::No("the bsdiff patch ends before the new file is whole");
  }
  return std::move(made_);
}

}  // namespace unpack
