// INI profile files, with the semantics of the Windows profile functions.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

using ProfileEntries = std::vector<std::pair<std::wstring, std::wstring>>;

// GetPrivateProfileStringW with a buffer of bufferChars characters: the value of key in
// section, or defaultValue when the file, section or key is missing. A value is cut to
// bufferChars - 1 characters.
std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& defaultValue, std::size_t bufferChars,
                               const std::wstring& path);

// GetPrivateProfileIntW: the leading decimal (or 0x hexadecimal) number of the value.
int ReadProfileInt(const std::wstring& section, const std::wstring& key, int defaultValue,
                   const std::wstring& path);

// WritePrivateProfileStringW: sets one key, creating the file and the section as needed.
bool WriteProfileString(const std::wstring& section, const std::wstring& key,
                        const std::wstring& value, const std::wstring& path);

// GetPrivateProfileSectionW: every "key=value" line of the section, in file order, split at
// the first '=' (a line without one gives an empty value); keys and values as the file holds
// them, before the trimming and unquoting that ReadProfileString applies. Empty when the
// file or section is missing.
ProfileEntries ReadProfileSection(const std::wstring& section, const std::wstring& path);

// WritePrivateProfileSectionW: replaces the whole section by entries in one write; with no
// entries the section is removed. The rest of the file is left as it was.
bool WriteProfileSection(const std::wstring& section, const ProfileEntries& entries,
                         const std::wstring& path);

}  // namespace platform
