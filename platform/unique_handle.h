// One owner for a system handle of any kind, for the backends: it gives the handle back to
// the system once, when it goes or at Close. ReleaseFn(handle) returns true when the system
// took it back; Empty::Value() is the value that holds no handle (nullptr unless given).
#pragma once

#include <utility>

namespace platform {

template <typename T>
struct NullHandle {
  static T Value() { return nullptr; }
};

template <typename T, bool (*ReleaseFn)(T), typename Empty = NullHandle<T>>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T handle) : handle_(handle) {}
  ~UniqueHandle() { Close(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Detach()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  T get() const { return handle_; }
  bool IsOpen() const { return handle_ != Empty::Value(); }
  // Where a system call that hands out a new handle through a pointer puts it; a handle
  // held before is given back first.
  T* out() {
    Close();
    return &handle_;
  }
  // Gives the handle up without giving it back to the system.
  T Detach() { return std::exchange(handle_, Empty::Value()); }
  void Reset(T handle) {
    Close();
    handle_ = handle;
  }
  // Gives the handle back now and tells whether the system took it; true when none is held.
  // For a written file a failed close can be the first sign that the data did not arrive.
  bool Close() { return !IsOpen() || ReleaseFn(Detach()); }

 private:
  T handle_ = Empty::Value();
};

}  // namespace platform
