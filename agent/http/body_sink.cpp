#include "agent/http/body_sink.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace {

std::string Count(std::uint64_t bytes) { return std::to_string(bytes) + " bytes"; }

std::string Duration(std::chrono::steady_clock::duration duration) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

bool TextSink::Open(std::optional<std::uint64_t> /*declaredLength*/) {
  bytes_.clear();
  return true;
}

bool TextSink::Take(const char* data, std::size_t size) {
  if (std::chrono::steady_clock::now() - start_ > deadline_) {
    return Refuse("the page did not end within " + Duration(deadline_));
  }
  const std::size_t room = limitBytes_ - bytes_.size();
  bytes_.append(data, size < room ? size : room);
  if (size > room) return Refuse("the page is longer than " + Count(limitBytes_));
  return true;
}

std::wstring TextSink::Text() const {
  std::string text;
  text.reserve(bytes_.size());
  for (const char c : bytes_) {
    if (c != '\0') text += c;
  }
  return platform::FromSystemCodePage(text);
}

FileSink::FileSink(std::wstring path, std::uint64_t limitBytes,
                   std::optional<ExpectedFile> expected, DownloadProgress* progress,
                   RateFloor floor)
    : path_(std::move(path)),
      limitBytes_(expected && expected->size < limitBytes ? expected->size : limitBytes),
      expected_(expected),
      progress_(progress),
      floor_(floor) {}

bool FileSink::Open(std::optional<std::uint64_t> declaredLength) {
  declared_ = declaredLength;
  if (!file_.Create(path_)) return false;
  hash_.reset();  // before the blocks it may still read
  hashedAs_ = {};
  block_ = filled_ = 0;
  if (expected_) hash_.emplace();
  blocks_ = std::make_unique_for_overwrite<char[]>(BlockCount() * kBlockBytes);
  windowStart_ = std::chrono::steady_clock::now();
  return true;
}

bool FileSink::Take(const char* data, std::size_t size) {
  const std::uint64_t room = limitBytes_ - received_;
  const std::size_t kept = size < room ? size : static_cast<std::size_t>(room);
  if (!Store(data, kept)) return Refuse("the file could not be written");
  received_ += kept;
  if (kept < size) {
    return Refuse(expected_ && limitBytes_ == expected_->size
                      ? "longer than the signed " + Count(expected_->size)
                      : "longer than the limit of " + Count(limitBytes_));
  }
  if (progress_ != nullptr) progress_->Update(received_, declared_);
  return !TooSlow();
}

bool FileSink::Store(const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t n = std::min(size, kBlockBytes - filled_);
    std::memcpy(Block(block_) + filled_, data, n);
    filled_ += n;
    data += n;
    size -= n;
    if (filled_ == kBlockBytes && !WriteBlock()) return false;
  }
  return true;
}

// The thread hashes the block while it is written out; the next block is filled once the
// thread is done with it.
bool FileSink::WriteBlock() {
  if (filled_ == 0) return true;
  if (hash_) hashedAs_[block_] = hash_->Hash(Block(block_), filled_);
  const bool written = file_.Write(Block(block_), filled_);
  block_ = (block_ + 1) % BlockCount();
  filled_ = 0;
  if (hash_) hash_->WaitFor(hashedAs_[block_]);
  return written;
}

bool FileSink::TooSlow() {
  const auto now = std::chrono::steady_clock::now();
  if (now - windowStart_ < floor_.window) return false;
  if (received_ - windowStartBytes_ < floor_.bytes) {
    Refuse("slower than " + Count(floor_.bytes) + " in " + Duration(floor_.window));
    return true;
  }
  windowStart_ = now;
  windowStartBytes_ = received_;
  return false;
}

FileSink::~FileSink() {
  if (filled_ > 0) file_.Write(Block(block_), filled_);  // a refused body stays as taken
  if (progress_ != nullptr) progress_->Finish();
}

bool FileSink::Close() {
  const bool written = WriteBlock();
  if (!file_.Close() || !written) return Refuse("the file could not be written");
  if (!expected_) return true;
  if (received_ != expected_->size) {
    return Refuse(Count(received_) + ", not the signed " + Count(expected_->size));
  }
  if (hash_->Finish() != expected_->sha256) return Refuse("SHA-256 differs from the signed one");
  return true;
}
