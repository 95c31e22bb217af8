// The install's journal: what an install is about to change in the data directory, written
// and flushed before the first change, so that a later start can finish or undo it.
//
// Text, UTF-8, one record a line, paths relative to the data directory with '/':
//
// A state record (platform/state_record.h) and, once the install is committed, one more line:
//
//   kivo9-install 3
//   dir <path>        a directory the install creates (parents first)
//   new <path>        a file the install adds
//   replace <path>    a file the install replaces (the old one is kept aside until commit)
//   sum <...>
//   commit            appended once every file is in place
//
// Journals of earlier launchers are still read: "kivo9-install 2" with "end <16 lower-case
// hex digits: FNV-1a (64 bits) of every byte before this line>" in the sum line's place, and
// "kivo9-install 1" with "end" alone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace launcher {

struct JournalFile {
  std::wstring path;  // relative, native separators
  bool replaces = false;
};

struct InstallJournal {
  std::vector<std::wstring> createdDirectories;  // relative, native separators, parents first
  std::vector<JournalFile> files;
  bool committed = false;
};

// A longer journal reads as damaged: it names each file of a tree once, as the tree's list
// does, in shorter lines.
inline constexpr std::size_t kJournalLimitBytes = std::size_t{64} << 20;

// The journal's text without the commit line.
std::string FormatJournal(const InstallJournal& journal);
// The line that marks the install as committed.
std::string CommitLine();

// The journal text holds, or why not: a text that is not a whole journal (the end line
// missing, a checksum that does not match, an unknown record), a path that an update may not
// name (tree/install_names.h). A commit line cut short counts as no commit.
OrWhy<InstallJournal> ParseJournal(const std::string& text);

}  // namespace launcher
