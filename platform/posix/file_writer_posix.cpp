#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "new_file_place.h"
#include "platform/file_writer.h"
#include "platform/text.h"
#include "unique_fd.h"

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

// A plain file opened without following a link; an invalid descriptor otherwise.
UniqueFd OpenPlainFile(const std::wstring& path, int flags) {
  UniqueFd fd(open(ToUtf8(path).c_str(), flags | O_CLOEXEC | O_NOFOLLOW));
  struct stat info;
  if (!fd.IsOpen() || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return UniqueFd();
  return fd;
}

}  // namespace

FileWriter::~FileWriter() { Close(); }

bool FileWriter::Create(const std::wstring& path) {
  Close();
  const std::string name = ToUtf8(path);
  // Made new: a file or link standing at path goes first (a link is never followed), and a
  // link planted in between makes the creation fail.
  if (!ClearForNewFile(name.c_str())) return false;
  UniqueFd fd(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!fd.IsOpen()) return false;
  auto file = std::make_unique<OpenFile>();
  file->stream = fdopen(fd.get(), "wb");
  if (file->stream == nullptr) return false;
  fd.Detach();  // the stream closes it
  std::setvbuf(file->stream, file->buffer, _IOFBF, sizeof(file->buffer));
  handle_ = file.release();
  return true;
}

bool FileWriter::Continue(const std::wstring& path, std::uint64_t offset) {
  Close();
  UniqueFd fd = OpenPlainFile(path, O_WRONLY);
  struct stat info;
  if (!fd.IsOpen() || fstat(fd.get(), &info) != 0 ||
      static_cast<std::uint64_t>(info.st_size) < offset ||
      ftruncate(fd.get(), static_cast<off_t>(offset)) != 0 ||
      lseek(fd.get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
    return false;
  }
  auto file = std::make_unique<OpenFile>();
  file->stream = fdopen(fd.get(), "wb");
  if (file->stream == nullptr) return false;
  fd.Detach();  // the stream closes it
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
