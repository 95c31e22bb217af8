// INI profile files, with the semantics of the Windows profile functions: section and key
// names match without regard to case, values lose surrounding white space, lines starting
// with ';' are comments, the first of duplicate sections or keys wins. Files may be in the
// system's code page (UTF-8 on Linux, ANSI on Windows), UTF-8 with a byte-order mark or
// UTF-16 with one; a write keeps the file's encoding. On Windows, single keys go through the
// system's profile functions and whole sections through our own INI code, which reads and
// writes what those functions do. Paths must be absolute (on Windows a bare name would land
// in the Windows directory). Only regular files are read: anything else (a named pipe, a
// device) reads like an unreadable file, as defaults, and is never written; so is a read-only
// file never written. A UTF-16 file of odd length reads up to its last whole character and
// keeps its last byte through every write. The writers are not called WriteProfileString /
// WriteProfileSection because <windows.h> defines those names as macros.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

using ProfileEntries = std::vector<std::pair<std::wstring, std::wstring>>;

// GetPrivateProfileStringW with a buffer of bufferChars characters: the value of key in
// section with one pair of enclosing quotes (" or ') removed, or defaultValue (without its
// trailing spaces) when the file, section or key is missing or the key's line has no '='.
// The text is cut to bufferChars - 1 characters; a bufferChars of 0 gives "".
std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& defaultValue, std::size_t bufferChars,
                               const std::wstring& path);

// The part of a stored value (trimmed already) that a read into a buffer of bufferChars
// (> 0) characters gives: one pair of enclosing quotes (both " or both ') taken off and the
// text cut to bufferChars - 1 characters. The closing quote goes after the cut, as Windows
// does it, so a quoted value that just overfills the buffer loses its last kept character
// instead. A view into value.
std::wstring_view ProfileBufferValue(std::wstring_view value, std::size_t bufferChars);

// GetPrivateProfileIntW: the decimal number at the start of the value (white space and a
// sign allowed, reading stops at the first other character, so "12abc" gives 12 and "0x10"
// gives 0; a value with no digits gives 0). defaultValue when the key is missing or empty.
int ReadProfileInt(const std::wstring& section, const std::wstring& key, int defaultValue,
                   const std::wstring& path);

// WritePrivateProfileStringW: sets one key, creating the file and the section (at the end of
// the file) as needed; leading white space of value is dropped. Returns false when the file
// cannot be written (it is then left as it was) or when a text holds a line break.
bool WriteProfileValue(const std::wstring& section, const std::wstring& key,
                       const std::wstring& value, const std::wstring& path);

// As GetPrivateProfileSectionW: every line of the first section named section, in file order,
// comments left out, split at the first '=' (a line without one gives an empty value); keys
// and values trimmed of white space but not unquoted. Empty when the file or section is
// missing. One read of the file, however long the section.
ProfileEntries ReadProfileSection(const std::wstring& section, const std::wstring& path);

// The lines of ReadProfileSection, handed to onLine one at a time in file order (the views
// last for the call only) while the file is read piece by piece: neither the file nor its
// index is ever held whole, so a section of any size costs what onLine keeps. Reads past the
// cache: the file as it is now. Returns false, after handing over some lines or none, when
// the file is missing, is not a regular file or cannot be read to the section's end: the
// caller then drops what it got.
using ProfileLineSink = std::function<void(std::wstring_view key, std::wstring_view value)>;
bool StreamProfileSection(const std::wstring& section, const std::wstring& path,
                          const ProfileLineSink& onLine);

// As WritePrivateProfileSectionW: replaces every key of the section by entries in one write of
// the file (a missing section is added at the end); with no entries the section is removed
// with all its lines. Keys must not hold '='. The rest of the file is left as it was.
// Returns false when the file cannot be written (it is then left as it was) or when a text
// holds a line break.
bool WriteProfileEntries(const std::wstring& section, const ProfileEntries& entries,
                         const std::wstring& path);

}  // namespace platform
