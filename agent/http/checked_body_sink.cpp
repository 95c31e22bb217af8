#include "agent/http/checked_body_sink.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"

CheckedBodySink::CheckedBodySink(BodySink& next, std::uint64_t limitBytes,
                                 std::optional<ExpectedFile> expected, std::wstring keptPath)
    : next_(next),
      limitBytes_(expected && expected->size < limitBytes ? expected->size : limitBytes),
      expected_(expected),
      keptPath_(std::move(keptPath)) {}

Outcome CheckedBodySink::Open(const BodyStart& start) {
  hash_.reset();  // before the blocks it may still read
  hashedAs_ = {};
  block_ = filled_ = 0;
  passed_ = 0;
  if (expected_) {
    if (!blocks_) blocks_ = std::make_unique_for_overwrite<char[]>(kBlocks * kBlockBytes);
    hash_.emplace();
  }
  if (start.offset > limitBytes_ || (start.offset > 0 && hash_ && !HashKeptBytes(start.offset))) {
    return Outcome::No("the kept bytes could not be read again");
  }
  passed_ = start.offset;
  return next_.Open(start);
}

// Read through the ring of blocks, as new bytes would pass, so that the hash sees them in
// order and the same buffers serve.
bool CheckedBodySink::HashKeptBytes(std::uint64_t count) {
  platform::FileReader kept;
  if (keptPath_.empty() || !kept.Open(keptPath_)) return false;
  while (count > 0) {
    hash_->WaitFor(hashedAs_[block_]);
    const std::size_t want = count < kBlockBytes ? static_cast<std::size_t>(count) : kBlockBytes;
    std::size_t filled = 0;
    while (filled < want) {
      std::size_t got = 0;
      if (!kept.Read(Block(block_) + filled, want - filled, got) || got == 0) return false;
      filled += got;
    }
    hashedAs_[block_] = hash_->Hash(Block(block_), filled);
    block_ = (block_ + 1) % kBlocks;
    count -= filled;
  }
  hash_->WaitFor(hashedAs_[block_]);
  return true;
}

Outcome CheckedBodySink::Take(const char* data, std::size_t size) {
  const std::uint64_t room = limitBytes_ - passed_;
  const std::size_t kept = size < room ? size : static_cast<std::size_t>(room);
  if (Outcome passed = PassOn(data, kept); !passed) return passed;
  if (kept < size) {
    return Outcome::No(expected_ && limitBytes_ == expected_->size
                           ? "longer than the signed " + ByteCount(expected_->size)
                           : "longer than the limit of " + ByteCount(limitBytes_));
  }
  return {};
}

// Without a hash the bytes go on as they came; with one they are gathered into blocks that
// stay in place until the hashing thread is done with them.
Outcome CheckedBodySink::PassOn(const char* data, std::size_t size) {
  passed_ += size;
  if (!hash_) return size == 0 ? Outcome() : next_.Take(data, size);
  while (size > 0) {
    const std::size_t n = std::min(size, kBlockBytes - filled_);
    std::memcpy(Block(block_) + filled_, data, n);
    filled_ += n;
    data += n;
    size -= n;
    if (filled_ == kBlockBytes) {
      if (Outcome passed = PassFilledBlock(); !passed) return passed;
    }
  }
  return {};
}

// The thread hashes the block while next stores it; the next block is filled once the
// thread is done with it.
Outcome CheckedBodySink::PassFilledBlock() {
  if (filled_ == 0) return {};
  hashedAs_[block_] = hash_->Hash(Block(block_), filled_);
  Outcome taken = next_.Take(Block(block_), filled_);
  block_ = (block_ + 1) % kBlocks;
  filled_ = 0;
  hash_->WaitFor(hashedAs_[block_]);
  return taken;
}

Outcome CheckedBodySink::Close() {
  const Outcome passed = hash_ ? PassFilledBlock() : Outcome();
  if (Outcome closed = next_.Close(); !closed) return closed;
  if (!passed) return passed;
  if (!expected_) return {};
  if (passed_ != expected_->size) {
    return Outcome::No(ByteCount(passed_) + ", not the signed " + ByteCount(expected_->size));
  }
  if (hash_->Finish() != expected_->sha256)
    return Outcome::No("SHA-256 differs from the signed one");
  return {};
}

void CheckedBodySink::Abandon() {
  if (hash_ && filled_ > 0) (void)next_.Take(Block(block_), filled_);
  filled_ = 0;
  next_.Abandon();
}
