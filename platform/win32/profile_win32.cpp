#include <windows.h>

#include <vector>

#include "platform/profile.h"

namespace platform {
namespace {

bool HasLineBreak(const std::wstring& text) {
  return text.find_first_of(L"\r\n") != std::wstring::npos;
}

// GetPrivateProfileSectionW says "too small" by returning the buffer size less two.
std::vector<wchar_t> ReadSectionBlock(const std::wstring& section, const std::wstring& path) {
  std::vector<wchar_t> buffer(32768);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD used =
        GetPrivateProfileSectionW(section.c_str(), buffer.data(), size, path.c_str());
    if (used + 2 < size) {
      buffer.resize(used);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

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

ProfileEntries ReadProfileSection(const std::wstring& section, const std::wstring& path) {
  const std::vector<wchar_t> block = ReadSectionBlock(section, path);
  ProfileEntries entries;
  for (std::size_t start = 0; start < block.size();) {
    std::size_t end = start;
    while (end < block.size() && block[end] != L'\0') ++end;
    const std::wstring line(block.data() + start, end - start);
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) {
      entries.emplace_back(line, std::wstring());
    } else {
      entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    start = end + 1;
  }
  return entries;
}

bool WriteProfileEntries(const std::wstring& section, const ProfileEntries& entries,
                         const std::wstring& path) {
  if (HasLineBreak(section)) return false;
  std::wstring block;
  for (const auto& [key, value] : entries) {
    if (HasLineBreak(key) || HasLineBreak(value)) return false;
    block += key + L"=" + value;
    block += L'\0';
  }
  block += L'\0';
  const wchar_t* text = entries.empty() ? nullptr : block.c_str();
  return WritePrivateProfileSectionW(section.c_str(), text, path.c_str()) != FALSE;
}

}  // namespace platform
