#include "agent/http/checked_body_sink.h"

#include <algorithm>
#include <cstring>

CheckedBodySink::CheckedBodySink(BodySink& next, std::uint64_t limitBytes,
                                 std::optional<ExpectedFile> expected)
    : next_(next),
      limitBytes_(expected && expected->size < limitBytes ? expected->size : limitBytes),
      expected_(expected) {}

bool CheckedBodySink::Open(std::optional<std::uint64_t> declaredLength) {
  hash_.reset();  // before the blocks it may still read
  hashedAs_ = {};
  block_ = filled_ = 0;
  passed_ = 0;
  if (expected_) {
    if (!blocks_) blocks_ = std::make_unique_for_overwrite<char[]>(kBlocks * kBlockBytes);
    hash_.emplace();
  }
  return next_.Open(declaredLength);
}

bool CheckedBodySink::Take(const char* data, std::size_t size) {
  const std::uint64_t room = limitBytes_ - passed_;
  const std::size_t kept = size < room ? size : static_cast<std::size_t>(room);
  if (!PassOn(data, kept)) return Refuse(next_.Refusal());
  if (kept < size) {
    return Refuse(expected_ && limitBytes_ == expected_->size
                      ? "longer than the signed " + ByteCount(expected_->size)
                      : "longer than the limit of " + ByteCount(limitBytes_));
  }
  return true;
}

// Without a hash the bytes go on as they came; with one they are gathered into blocks that
// stay in place until the hashing thread is done with them.
bool CheckedBodySink::PassOn(const char* data, std::size_t size) {
  passed_ += size;
  if (!hash_) return size == 0 || next_.Take(data, size);
  while (size > 0) {
    const std::size_t n = std::min(size, kBlockBytes - filled_);
    std::memcpy(Block(block_) + filled_, data, n);
    filled_ += n;
    data += n;
    size -= n;
    if (filled_ == kBlockBytes && !PassFilledBlock()) return false;
  }
  return true;
}

// The thread hashes the block while next stores it; the next block is filled once the
// thread is done with it.
bool CheckedBodySink::PassFilledBlock() {
  if (filled_ == 0) return true;
  hashedAs_[block_] = hash_->Hash(Block(block_), filled_);
  const bool taken = next_.Take(Block(block_), filled_);
  block_ = (block_ + 1) % kBlocks;
  filled_ = 0;
  hash_->WaitFor(hashedAs_[block_]);
  return taken;
}

bool CheckedBodySink::Close() {
  const bool passed = !hash_ || PassFilledBlock();
  if (!next_.Close() || !passed) return Refuse(next_.Refusal());
  if (!expected_) return true;
  if (passed_ != expected_->size) {
    return Refuse(ByteCount(passed_) + ", not the signed " + ByteCount(expected_->size));
  }
  if (hash_->Finish() != expected_->sha256) return Refuse("SHA-256 differs from the signed one");
  return true;
}

void CheckedBodySink::Abandon() {
  if (hash_ && filled_ > 0) next_.Take(Block(block_), filled_);
  filled_ = 0;
  next_.Abandon();
}
