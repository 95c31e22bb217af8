#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/run_lock.h"
#include "platform/text.h"

namespace platform {

// flock belongs to the open file description: a second open in the same process is refused
// too, and children never inherit it (the descriptor is closed on exec).
RunLock RunLock::Take(const std::wstring& path) {
  const int fd =
      open(ToUtf8(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return RunLock(RunLockState::Unavailable, -1);
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return RunLock(RunLockState::Unavailable, -1);
  }
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const RunLockState state =
        errno == EWOULDBLOCK ? RunLockState::HeldByOther : RunLockState::Unavailable;
    close(fd);
    return RunLock(state, -1);
  }
  return RunLock(RunLockState::Held, fd);
}

void RunLock::Release() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform
