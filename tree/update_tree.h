// An unpacked update tree as the hand-over and the install see it: every directory and
// regular file below its root, by relative path.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/dir_path.h"
#include "platform/outcome.h"

namespace tree {

struct TreeFile {
  std::wstring path;  // relative to the root, native separators
  std::uint64_t size = 0;
};

struct TreeListing {
  std::vector<std::wstring> directories;  // relative, each before the directories inside it
  std::vector<TreeFile> files;            // relative, sorted by path
};

// Lists every entry below root (a directory path ending with a separator), or says why the
// tree cannot be taken whole: an entry that is neither a
// regular file nor a directory (a link, pipe, socket or device), a name that does not
// survive the round trip through the path rules (the other platform's separator, a wildcard,
// a control character, bytes that are not text), or a directory that cannot be read.
// Time near linear in the entries and the total length of their paths.
OrWhy<TreeListing> ListTree(const std::wstring& root);

// Removes dir (ending with a separator) and everything below it; a link is removed as the
// link, what it points at stays. A file at that path is removed too. True when nothing of it
// is left, including when it was missing.
bool RemoveTree(const std::wstring& dir);

// Removes the directories of the tree at dir (dir itself included) that hold no file, deepest
// first; files stay. What cannot be removed stays too: nothing is reported.
void RemoveEmptyDirectories(const platform::DirPath& dir);

// Every regular file below dir, relative, native separators; links and other entries are
// left out, and so is what lies behind them. None when dir is missing.
std::vector<std::wstring> ListRegularFiles(const platform::DirPath& dir);

// Makes the missing parent directories of relative below base (one that stands already
// counts only as a real directory); made remembers the parents known to exist, to spare
// questions across calls. False when one cannot be made.
bool MakeParents(const platform::DirPath& base, const std::wstring& relative,
                 std::set<std::wstring>& made);

// path with '/' between its parts, as file lists write it.
std::string ListPath(const std::wstring& relativePath);

}  // namespace tree
