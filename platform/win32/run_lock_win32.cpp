#include <windows.h>

#include "platform/files.h"
#include "platform/run_lock.h"

namespace platform {
namespace {

// The file is created new, or an existing one is opened as itself: a link in its place is
// never followed, also where the system follows links despite FILE_FLAG_OPEN_REPARSE_POINT.
HANDLE OpenLockFile(const std::wstring& path) {
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  const HANDLE created = CreateFileW(path.c_str(), access, 0, nullptr, CREATE_NEW, flags, nullptr);
  if (created != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return created;
  if (QueryPath(path).kind != PathKind::File) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

}  // namespace

// A handle opened without sharing is the lock: every other open fails with a sharing
// violation until it is closed, which the system does when the process ends. The handle is
// not inheritable, so programs the holder starts do not keep it.
RunLock RunLock::Take(const std::wstring& path) {
  const HANDLE file = OpenLockFile(path);
  if (file == INVALID_HANDLE_VALUE) {
    return RunLock(GetLastError() == ERROR_SHARING_VIOLATION ? RunLockState::HeldByOther
                                                             : RunLockState::Unavailable,
                   -1);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(file);
    return RunLock(RunLockState::Unavailable, -1);
  }
  return RunLock(RunLockState::Held, reinterpret_cast<std::intptr_t>(file));
}

void RunLock::Release() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

}  // namespace platform
