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

// A directory, owning its trailing separator: callers join names to it and ask for the form
// a platform call wants, and never add or strip a separator themselves.
class DirPath {
 public:
  DirPath() = default;  // none
  // path with or without one trailing separator.
  explicit DirPath(std::wstring_view path) : slashed_(AsDirectory(path)) {}

  bool empty() const { return slashed_.empty(); }
  // The directory as the programs write it, ending with a separator.
  const std::wstring& Slashed() const { return slashed_; }
  // The directory as it is named when it is moved, removed or asked about: no separator.
  std::wstring Path() const { return WithoutSeparator(slashed_); }
  // What lies at relative inside (a file's path, or a directory's without its separator).
  std::wstring File(std::wstring_view relative) const { return slashed_ + std::wstring(relative); }
  // The directory at relative inside.
  DirPath Dir(std::wstring_view relative) const { return DirPath(File(relative)); }

  bool operator==(const DirPath& other) const = default;

 private:
  std::wstring slashed_;
};

}  // namespace platform
