// Keys go through the Windows profile functions themselves.
#include <windows.h>

#include <vector>

#include "platform/ini_file.h"
#include "platform/profile.h"

namespace platform {
namespace {}  // namespace

std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& defaultValue, std::size_t bufferChars,
                               const std::wstring& path) {
  if (bufferChars == 0) return {};
  std::vector<wchar_t> buffer(bufferChars, L'\0');
  const DWORD length =
      GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                               static_cast<DWORD>(bufferChars), path.c_str());
  return std::wstring(buffer.data(), length < bufferChars ? length : bufferChars - 1);
}

int ReadProfileInt(const std::wstring& section, const std::wstring& key, int defaultValue,
                   const std::wstring& path) {
  return static_cast<int>(
      GetPrivateProfileIntW(section.c_str(), key.c_str(), defaultValue, path.c_str()));
}

bool WriteProfileValue(const std::wstring& section, const std::wstring& key,
                       const std::wstring& value, const std::wstring& path) {
  // A line break would let a value start new keys or sections of its own.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str()) !=
         FALSE;
}

}  // namespace platform
