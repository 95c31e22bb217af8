// A file descriptor that closes itself.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/unique_handle.h"

namespace platform {

inline bool CloseDescriptor(int fd) { return close(fd) == 0; }
struct NoDescriptor {
  static int Value() { return -1; }
};
using UniqueFd = UniqueHandle<int, CloseDescriptor, NoDescriptor>;

// Writes all of bytes to fd, going on after interrupted and partial writes. False when the
// system refuses the rest (errno says why).
inline bool WriteAllBytes(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace platform
