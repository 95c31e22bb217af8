#include "platform/profile.h"

namespace platform {

std::wstring_view ProfileBufferValue(std::wstring_view value, std::size_t bufferChars) {
  const bool quoted = value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
                      value.back() == value.front();
  if (quoted) value.remove_prefix(1);
  std::wstring_view kept = value.substr(0, bufferChars - 1);
  if (quoted && value.size() <= bufferChars && !kept.empty()) kept.remove_suffix(1);
  return kept;
}

}  // namespace platform
