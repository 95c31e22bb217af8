// Reading and writing the filter lists in their INI files, one section per list (the
// numbered INI lists of numbered_list.h).
#pragma once

#include <string>

#include "agent/filters/filter_list.h"

// Appends the numbered list of section in iniPath to list, skipping every value that list
// already holds. A missing file or section appends nothing; nor does a file that is not a
// regular file or cannot be read to the section's end. The file is read piece by piece,
// never held whole.
void ReadIniList(const std::wstring& iniPath, const std::wstring& section,
                 const std::wstring& keyPrefix, CFilterList& list);

// Replaces section in iniPath, in one write, by the keys prefix1 .. prefixN holding list's
// entries in order; an empty list removes the section. The section goes from the old list
// to the new one in that single write; a failure is not reported. The entries move into the
// write, which leaves list empty.
void WriteIniList(const std::wstring& iniPath, const std::wstring& section,
                  const std::wstring& keyPrefix, CFilterList&& list);
