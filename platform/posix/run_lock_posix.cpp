#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/run_lock.h"
#include "platform/text.h"
#include "unique_fd.h"

namespace platform {

// flock belongs to the open file description: a second open in the same process is refused
// too, and children never inherit it (the descriptor is closed on exec).
RunLock RunLock::Take(const std::wstring& path) {
  UniqueFd fd(
      open(ToUtf8(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
  struct stat info {};
  if (!fd.IsOpen() || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return RunLock(RunLockState::Unavailable, -1);
  }
  while (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return RunLock(errno == EWOULDBLOCK ? RunLockState::HeldByOther : RunLockState::Unavailable,
                   -1);
  }
  return RunLock(RunLockState::Held, fd.Detach());
}

void RunLock::Release() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace platform
