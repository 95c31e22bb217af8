// A file handle of the Windows backend that closes itself (INVALID_HANDLE_VALUE holds none).
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace platform {

inline bool CloseFileHandle(HANDLE handle) { return CloseHandle(handle) != 0; }
struct NoFileHandle {
  static HANDLE Value() { return INVALID_HANDLE_VALUE; }
};
using FileHandle = UniqueHandle<HANDLE, CloseFileHandle, NoFileHandle>;

}  // namespace platform
