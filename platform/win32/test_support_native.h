// Test helpers that only the platform can provide (see platform/test_support.h).
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// Creates a symbolic link at link pointing to target; false where the system refuses (it
// needs a privilege or developer mode on Windows, and support in an emulator).
inline bool MakeSymbolicLink(const std::wstring& target, const std::wstring& link,
                             bool toDirectory) {
  const DWORD kAllowUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  const DWORD flags = (toDirectory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | kAllowUnprivileged;
  return CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) != 0;
}

// Keeps one file from being deleted while the object lives: an open handle that does not
// share delete access makes DeleteFileW fail, as a file in use does.
class DeletionBlocker {
 public:
  explicit DeletionBlocker(const std::wstring& file)
      : handle_(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~DeletionBlocker() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  DeletionBlocker(const DeletionBlocker&) = delete;
  DeletionBlocker& operator=(const DeletionBlocker&) = delete;
  bool active() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace platform
