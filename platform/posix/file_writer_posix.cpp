#include <cstdio>
#include <memory>

#include "platform/file_writer.h"
#include "platform/text.h"

namespace platform {
namespace {

// The stream with a buffer of its own: the C library would size one by the file system's
// block, and a download's small chunks would then go out in many small writes.
struct OpenFile {
  static constexpr std::size_t kBufferBytes = 64 * 1024;
  FILE* stream = nullptr;
  char buffer[kBufferBytes];
};

OpenFile* File(void* handle) { return static_cast<OpenFile*>(handle); }

}  // namespace

FileWriter::~FileWriter() { Close(); }

bool FileWriter::Create(const std::wstring& path) {
  Close();
  auto file = std::make_unique<OpenFile>();
  file->stream = std::fopen(ToUtf8(path).c_str(), "wbe");
  if (file->stream == nullptr) return false;
  std::setvbuf(file->stream, file->buffer, _IOFBF, sizeof(file->buffer));
  handle_ = file.release();
  return true;
}

bool FileWriter::Write(const char* data, std::size_t size) {
  return handle_ != nullptr && std::fwrite(data, 1, size, File(handle_)->stream) == size;
}

bool FileWriter::Close() {
  if (handle_ == nullptr) return false;
  std::unique_ptr<OpenFile> file(File(handle_));
  handle_ = nullptr;
  return std::fclose(file->stream) == 0;  // writes out what is left in the buffer
}

}  // namespace platform
