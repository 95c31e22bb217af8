#include "platform/background_sha256.h"

namespace platform {

BackgroundSha256::BackgroundSha256() : thread_([this] { Run(); }) {}

BackgroundSha256::~BackgroundSha256() { Stop(); }

std::uint64_t BackgroundSha256::Hash(const char* data, std::size_t size) {
  const std::lock_guard<std::mutex> hold(lock_);
  queued_.push_back(Piece{data, size});
  changed_.notify_all();
  return hashed_ + queued_.size();
}

void BackgroundSha256::WaitFor(std::uint64_t piece) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return hashed_ >= piece; });
}

void BackgroundSha256::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return !queued_.empty() || ending_; });
    if (queued_.empty()) return;
    const Piece piece = queued_.front();
    hold.unlock();
    try {
      if (!failure_) hash_.Update(piece.data, piece.size);
    } catch (...) {
      failure_ = std::current_exception();  // the thread's own until it has ended
    }
    hold.lock();
    queued_.pop_front();
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

Sha256Digest BackgroundSha256::Finish() {
  Stop();
  if (failure_) std::rethrow_exception(failure_);
  return hash_.Finish();
}

}  // namespace platform
