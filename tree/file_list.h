// Resource/files.lst, the list of every file of a package's tree: one line per file,
// "sha256 size path" (64 lower-case hex digits, decimal size, path relative to the tree root
// with '/' separators); the list itself is not listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "platform/outcome.h"
#include "tree/update_tree.h"

namespace tree {

// The list's path relative to a tree root, native separators.
std::wstring FileListPath();

// A longer list reads as unreadable: it would name more files, at over 300 bytes a line, than
// the 200,000 entries a package may hold.
inline constexpr std::size_t kFileListLimitBytes = std::size_t{64} << 20;

struct ListedFile {
  std::string path;  // as written, '/' separators
  std::uint64_t size = 0;
  platform::Sha256Digest sha256{};
};

// The list's lines ("\n" or "\r\n" line ends), or why not, naming the line: a line that is
// not three well-formed fields, a path that climbs out of the tree or is given twice.
OrWhy<std::vector<ListedFile>> ParseFileList(const std::string& text);

// Whether the tree at root (ending with a separator), as listing describes it, holds every
// file its list names with its size and hash. Files the list does not name (a log the
// post-upgrade program wrote, say) are no part of the package: the answer is the files that
// are, the list itself included, in listing's order. Else the first difference: a listed
// file missing, of another size or content, or a list that cannot be read or parsed.
OrWhy<std::vector<TreeFile>> CheckAgainstFileList(const std::wstring& root,
                                                  const TreeListing& listing);

}  // namespace tree
