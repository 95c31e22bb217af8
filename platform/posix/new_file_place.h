// Making room for a file that is to be made new (created exclusively, never through a link).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

// Clears path for a new file: a regular file or a link standing there is removed (the link
// itself, never what it points at); nothing there is fine. False, with errno set, for anything
// else (a directory, a device, a pipe), which stays as it is.
inline bool ClearForNewFile(const char* path) {
  struct stat info;
  if (lstat(path, &info) != 0) return errno == ENOENT;
  if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  return unlink(path) == 0 || errno == ENOENT;
}

}  // namespace platform
