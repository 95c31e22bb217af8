#include <cstdio>

#include "platform/file_writer.h"
#include "platform/text.h"

namespace platform {
namespace {
FILE* Stream(void* handle) { return static_cast<FILE*>(handle); }
}  // namespace

FileWriter::~FileWriter() { Close(); }

bool FileWriter::Create(const std::wstring& path) {
  Close();
  handle_ = std::fopen(ToUtf8(path).c_str(), "wbe");
  return handle_ != nullptr;
}

bool FileWriter::Write(const char* data, std::size_t size) {
  return handle_ != nullptr && std::fwrite(data, 1, size, Stream(handle_)) == size;
}

bool FileWriter::Close() {
  if (handle_ == nullptr) return false;
  const bool closed = std::fclose(Stream(handle_)) == 0;
  handle_ = nullptr;
  return closed;
}

}  // namespace platform
