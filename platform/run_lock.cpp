#include "platform/run_lock.h"

namespace platform {

RunLock::RunLock(RunLock&& other) noexcept : state_(other.state_), handle_(other.handle_) {
  other.handle_ = -1;
}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    Release();
    state_ = other.state_;
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

RunLock::~RunLock() { Release(); }

}  // namespace platform
