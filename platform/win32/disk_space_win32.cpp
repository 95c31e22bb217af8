#include <windows.h>

#include "platform/disk_space.h"

namespace platform {

std::optional<std::uint64_t> FreeDiskBytes(const std::wstring& directory) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(directory.empty() ? nullptr : directory.c_str(), &available, nullptr,
                           nullptr)) {
    return std::nullopt;
  }
  return available.QuadPart;
}

}  // namespace platform
