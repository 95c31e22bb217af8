// An exclusive hold on a lock file, for one process at a time. The operating system lets go
// of it when the holder ends, however it ends (a kill included), so a lock never outlives
// its run and nothing has to clear it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class RunLockState {
  Held,         // this value holds the lock until it is destroyed
  HeldByOther,  // another holder has it now
  Unavailable,  // the lock file cannot be opened (unwritable folder, a link or a directory
                // in its place): nobody can hold it through this path
};

class RunLock {
 public:
  // Takes the lock at path without waiting. The file is created when missing, never through
  // a link in its place, and its content is never read or written.
  static RunLock Take(const std::wstring& path);

  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&& other) noexcept;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  ~RunLock();

  RunLockState State() const { return state_; }

 private:
  RunLock(RunLockState state, std::intptr_t handle) : state_(state), handle_(handle) {}
  void Release();

  RunLockState state_;
  std::intptr_t handle_;  // the open lock file while Held; -1 otherwise
};

}  // namespace platform
