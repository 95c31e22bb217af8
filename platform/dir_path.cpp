#include "platform/dir_path.h"

#include "platform_native.h"

namespace platform {

std::wstring WithoutSeparator(std::wstring_view dir) {
  if (dir.size() > 1 && dir.back() == kSep) dir.remove_suffix(1);
  return std::wstring(dir);
}

std::wstring AsDirectory(std::wstring_view path) {
  std::wstring dir(path);
  if (!dir.empty() && dir.back() != kSep) dir += kSep;
  return dir;
}

std::wstring ParentOf(std::wstring_view path) {
  const std::size_t last = path.find_last_of(kPathSeparators);
  return last == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, last + 1));
}

}  // namespace platform
