// Directory strings as the programs write them: a directory ends with the native separator,
// and a path is a directory string with a name appended. These few functions are the only
// code that drops, adds or looks for that separator.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// dir without one trailing separator, as a directory is named when it is moved, removed or
// asked about. A lone separator, the root, stays.
std::wstring WithoutSeparator(std::wstring_view dir);

// path as a directory string, ending with one separator; "" stays "".
std::wstring AsDirectory(std::wstring_view path);

// The directory string path lies in: up to and including its last separator (on Windows
// either one); "" when it has none.
std::wstring ParentOf(std::wstring_view path);

}  // namespace platform
