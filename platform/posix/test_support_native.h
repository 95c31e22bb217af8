// Test helpers that only the platform can provide (see platform/test_support.h).
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/text.h"

namespace platform {

// Creates a symbolic link at link pointing to target; false where the system refuses.
inline bool MakeSymbolicLink(const std::wstring& target, const std::wstring& link,
                             bool /*toDirectory*/) {
  return symlink(ToUtf8(target).c_str(), ToUtf8(link).c_str()) == 0;
}

// Keeps one file from being deleted while the object lives. The superuser ignores
// permission bits, so the file is made immutable; without that right, its directory is
// made read-only instead. active() is false when neither works here.
class DeletionBlocker {
 public:
  explicit DeletionBlocker(const std::wstring& file) : file_(ToUtf8(file)) {
    active_ = SetImmutable(true);
    if (!active_ && geteuid() != 0) {
      dir_ = file_.substr(0, file_.rfind('/'));
      active_ = chmod(dir_.c_str(), 0555) == 0;
    }
  }
  ~DeletionBlocker() {
    if (!dir_.empty()) {
      chmod(dir_.c_str(), 0755);
    } else if (active_) {
      SetImmutable(false);
    }
  }
  DeletionBlocker(const DeletionBlocker&) = delete;
  DeletionBlocker& operator=(const DeletionBlocker&) = delete;
  bool active() const { return active_; }

 private:
  bool SetImmutable(bool on) {
    const int fd = open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return done;
  }

  std::string file_;
  std::string dir_;
  bool active_ = false;
};

}  // namespace platform
