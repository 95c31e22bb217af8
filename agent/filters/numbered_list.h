// The numbered INI list: entry i of a list is the value of the key prefix + i (i = 1, 2, ...)
// in its section, up to the first index whose key is absent or whose value reads as empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

// An entry is at most this long; a longer stored value reads as its first kMaxEntryChars
// characters (a profile read buffer of kMaxEntryChars + 1 characters).
inline constexpr std::size_t kMaxEntryChars = 2087;

// The key of entry index: keyPrefix followed by index in decimal ("url" and 10 give "url10").
std::wstring NumberedKey(std::wstring_view keyPrefix, std::size_t index);

// The index that key names as a key of the list (keyPrefix, without regard to case, and a
// decimal without leading zeros, blanks around it allowed), or 0 when it names none or one
// above maxIndex.
std::size_t IndexOfKey(std::wstring_view key, std::wstring_view keyPrefix, std::size_t maxIndex);

// The entry that a stored value gives: trimmed, one pair of enclosing quotes taken off, cut to
// kMaxEntryChars as the profile read with that buffer cuts it. Empty ends a list.
std::wstring_view EntryFromValue(std::wstring_view value);

// Which lines give the list, from the index each line names (0 for none), in file order: the
// first line of index 1, of index 2, ... up to the first index no line names.
std::vector<std::size_t> NumberedRun(const std::vector<std::uint32_t>& indexOfLine);

// The numbered list held by the lines of one section (as ReadProfileSection returns them),
// exactly as reading the keys one at a time with ReadProfileString and a buffer of
// kMaxEntryChars + 1 characters gives it: key names match without regard to case, the first
// of equal key names counts, values are trimmed, lose one pair of enclosing quotes and are
// cut to kMaxEntryChars. Reading the section in one call avoids a file scan per key.
std::vector<std::wstring> NumberedListFromSection(platform::ProfileEntries lines,
                                                  std::wstring_view keyPrefix);
