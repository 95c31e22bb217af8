// The property both the journal and the file list targets hold their paths to, checked apart
// from the rule the code uses: split on either separator, no part is empty, "." or "..", so
// nothing they name leaves the data directory.
#pragma once

#include <string>

namespace fuzz {

inline bool StaysBelowRoot(const std::wstring& path) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find_first_of(L"/\\", start);
    const std::wstring part = path.substr(start, end - start);
    if (part.empty() || part == L"." || part == L"..") return false;
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

}  // namespace fuzz
