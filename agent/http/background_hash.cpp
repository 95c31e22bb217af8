#include "agent/http/background_hash.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

BackgroundSha256::BackgroundSha256() {
  for (std::vector<char>& block : blocks_) block.resize(kBlockBytes);
  thread_ = std::thread([this] { Run(); });
}

BackgroundSha256::~BackgroundSha256() { Stop(); }

void BackgroundSha256::Update(const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t n = std::min(size, kBlockBytes - filled_);
    std::memcpy(blocks_[handed_ % kBlocks].data() + filled_, data, n);
    filled_ += n;
    data += n;
    size -= n;
    if (filled_ == kBlockBytes) HandOver();
  }
}

void BackgroundSha256::HandOver() {
  std::unique_lock<std::mutex> hold(lock_);
  sizes_[handed_ % kBlocks] = filled_;
  ++handed_;
  filled_ = 0;
  changed_.notify_all();
  // The next block to fill must be hashed already.
  changed_.wait(hold, [this] { return handed_ - hashed_ < kBlocks; });
}

void BackgroundSha256::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return hashed_ < handed_ || ending_; });
    if (hashed_ == handed_) return;
    const std::size_t block = hashed_ % kBlocks;
    hold.unlock();
    try {
      if (!failure_) hash_.Update(blocks_[block].data(), sizes_[block]);
    } catch (...) {
      failure_ = std::current_exception();
    }
    hold.lock();
    ++hashed_;
    changed_.notify_all();
  }
}

void BackgroundSha256::Stop() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

platform::Sha256Digest BackgroundSha256::Finish() {
  if (filled_ > 0) HandOver();
  Stop();
  if (failure_) std::rethrow_exception(failure_);
  return hash_.Finish();
}
