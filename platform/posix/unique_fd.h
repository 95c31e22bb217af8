// A file descriptor that closes itself.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace platform {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }

  // Closes now and tells whether the close succeeded: for a written file a failed close can
  // be the first sign that the data did not reach the disk.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

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
