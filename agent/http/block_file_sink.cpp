#include "agent/http/block_file_sink.h"

#include <algorithm>
#include <cstring>

namespace {
Outcome WriteFailed() { return Outcome::No("the file could not be written"); }
}  // namespace

Outcome BlockFileSink::Open(const BodyStart& start) {
  const bool opened = start.offset == 0 ? file_.Create(path_) : file_.Continue(path_, start.offset);
  if (!opened) {
    return Outcome::No(start.offset == 0 ? "the file could not be created"
                                         : "the file does not hold the bytes to go on from");
  }
  if (!block_) block_ = std::make_unique_for_overwrite<char[]>(kBlockBytes);
  waiting_ = 0;
  return {};
}

Outcome BlockFileSink::Take(const char* data, std::size_t size) {
  if (waiting_ == 0 && size >= kBlockBytes)
    return file_.Write(data, size) ? Outcome() : WriteFailed();
  while (size > 0) {
    const std::size_t n = std::min(size, kBlockBytes - waiting_);
    std::memcpy(block_.get() + waiting_, data, n);
    waiting_ += n;
    data += n;
    size -= n;
    if (waiting_ == kBlockBytes && !WriteWaiting()) return WriteFailed();
  }
  return {};
}

bool BlockFileSink::WriteWaiting() {
  const bool written = waiting_ == 0 || file_.Write(block_.get(), waiting_);
  waiting_ = 0;
  return written;
}

Outcome BlockFileSink::Close() {
  const bool written = WriteWaiting();
  return file_.Close() && written ? Outcome() : WriteFailed();
}

void BlockFileSink::Abandon() {
  WriteWaiting();
  file_.Close();
}
