#include <sys/statvfs.h>

#include "platform/disk_space.h"
#include "platform/text.h"

namespace platform {

std::optional<std::uint64_t> FreeDiskBytes(const std::wstring& directory) {
  struct statvfs volume {};
  const std::string path = ToUtf8(directory.empty() ? L"." : directory);
  if (statvfs(path.c_str(), &volume) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

}  // namespace platform
