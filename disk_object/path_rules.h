// Not part of the product: no program links this library (disk_object/CMakeLists.txt).
// How the directory tree utility reads a path: separators, drive, network prefix and parts.
// Drive letters and network paths ("\\server\share") exist only where the platform has them.
#pragma once

#include <string>
#include <vector>

namespace launcher {

// Replaces every separator of the other platform by the native one, in place.
void UseNativeSeparators(std::wstring& path);

// True for a path that begins with two separators, on a platform with network paths.
bool IsNetworkPath(const std::wstring& path);

struct PathParts {
  std::wstring drive;      // letter and colon, or ""
  std::wstring directory;  // up to and including the last separator
  std::wstring name;       // the last part up to its last dot
  std::wstring extension;  // from the last dot of the last part on, or ""
};
PathParts SplitPath(const std::wstring& path);

// ".." and a separator: one step up at the start of a relative path.
std::wstring ParentGroup();

// dir and rest joined by one separator (none added when dir already ends with one).
std::wstring JoinToDirectory(const std::wstring& dir, const std::wstring& rest);

// The directory one step up from dir, an absolute directory as CurrentDirectory gives it
// (no trailing separator but at a root): what changing to ".." there gives. A root, and
// the share of a network path, stay as they are.
std::wstring ParentDirectory(const std::wstring& dir);

struct RootAndParts {
  std::wstring root;                // the drive, "\\server" for a network path, or "" (POSIX root)
  std::vector<std::wstring> parts;  // the names between separators, empty names dropped
};
RootAndParts SplitRoot(const std::wstring& path);

}  // namespace launcher
