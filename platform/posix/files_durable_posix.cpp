// The file services an install that must survive interruption needs, on POSIX: one-step
// renames, flushes of data and of directory entries, and questions about what a path is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "new_file_place.h"
#include "platform/files.h"
#include "platform/text.h"
#include "unique_fd.h"

namespace platform {
PathInfo QueryPath(const std::wstring& path) {
  PathInfo result;
  struct stat info;
  if (path.empty() || lstat(ToUtf8(path).c_str(), &info) != 0) return result;
  if (S_ISREG(info.st_mode)) {
    result.kind = PathKind::File;
    result.size = static_cast<std::uint64_t>(info.st_size);
    result.links = static_cast<std::uint32_t>(info.st_nlink);
  } else if (S_ISDIR(info.st_mode)) {
    result.kind = PathKind::Directory;
  } else if (S_ISLNK(info.st_mode)) {
    result.kind = PathKind::Link;
  } else {
    result.kind = PathKind::Other;
  }
  return result;
}

bool IsStartableProgram(const std::wstring& path) {
  const std::string narrow = ToUtf8(path);
  struct stat info;
  return !narrow.empty() && lstat(narrow.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         access(narrow.c_str(), X_OK) == 0;
}

FileResult MovePath(const std::wstring& from, const std::wstring& to) {
  return FileResult::Of(std::rename(ToUtf8(from).c_str(), ToUtf8(to).c_str()) == 0, from);
}

bool IsCrossVolumeError(std::uint32_t code) { return code == EXDEV; }

FileResult FlushFile(const std::wstring& path) {
  UniqueFd fd(open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  return FileResult::Of(fd.get() >= 0 && fsync(fd.get()) == 0, path);
}

FileResult FlushDirectory(const std::wstring& directory) {
  UniqueFd fd(open(ToUtf8(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return FileResult::Of(fd.get() >= 0 && fsync(fd.get()) == 0, directory);
}

FileResult WriteFileFlushed(const std::wstring& path, const std::string& bytes, bool append) {
  const std::string name = ToUtf8(path);
  if (!append && !ClearForNewFile(name.c_str())) return FileResult::Of(false, path);
  const int mode = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_EXCL);
  UniqueFd fd(open(name.c_str(), mode, 0600));
  const bool written = fd.get() >= 0 && WriteAllBytes(fd.get(), bytes) && fsync(fd.get()) == 0;
  return FileResult::Of(written && fd.Close(), path);
}

bool ReadWholeFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes) {
  UniqueFd fd(open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info;
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return false;
  }
  if (static_cast<std::uint64_t>(info.st_size) > limitBytes) {
    errno = EFBIG;
    return false;
  }
  bytes.clear();
  char buffer[1 << 14];
  for (;;) {
    const ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (static_cast<std::size_t>(n) > limitBytes - bytes.size()) {  // it grew while read
      errno = EFBIG;
      return false;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

FileReader::~FileReader() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool FileReader::Open(const std::wstring& path) {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
  const int fd = open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  struct stat info;
  if (fd < 0) return false;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    errno = EINVAL;
    return false;
  }
  handle_ = fd;
  return true;
}

bool FileReader::ReadAt(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) {
  got = 0;
  if (handle_ < 0) return false;
  while (got < size) {
    const ssize_t n =
        pread(static_cast<int>(handle_), data + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool FileReader::Size(std::uint64_t& size) {
  struct stat info;
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &info) != 0) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

FileResult MarkExecutable(const std::wstring& path) {
  return FileResult::Of(chmod(ToUtf8(path).c_str(), 0755) == 0, path);
}

std::wstring LongPathForm(const std::wstring& absolutePath) { return absolutePath; }

bool FileReader::Read(char* data, std::size_t size, std::size_t& got) {
  got = 0;
  if (handle_ < 0) return false;
  for (;;) {
    const ssize_t n = read(static_cast<int>(handle_), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    got = static_cast<std::size_t>(n);
    return true;
  }
}

// A running program's file refuses to be opened for writing (ETXTBSY). Opening without
// O_TRUNC leaves the file as it is.
bool CanOpenForWriting(const std::wstring& path) {
  UniqueFd fd(open(ToUtf8(path).c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  return fd.get() >= 0;
}

}  // namespace platform
