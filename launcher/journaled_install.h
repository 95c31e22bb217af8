// The install of a pending update tree into the data directory, journaled so that any
// interruption ends, at the latest after the next start, in the old installation or the new
// one: files it replaces are moved aside and kept until the install is committed, new files
// are renamed into place (copied beside and renamed where the update lies on another
// volume), never written into an old file.
#pragma once

#include <string>

#include "platform/dir_path.h"

namespace launcher {

struct InstallPlaces {
  platform::DirPath dataDir;
  platform::DirPath updateDir;
  std::wstring browser;          // dataDir + the browser executable
  std::wstring postUpgradeCopy;  // removed from dataDir once an install is committed
};

// Work names in the data directory; a tree that holds one of them is not installed.
std::wstring JournalPath(const InstallPlaces& places);
platform::DirPath BackupDir(const InstallPlaces& places);

// Finishes (committed) or undoes (not committed) an install that a journal in the data
// directory describes, and removes the journal. A journal that cannot be trusted (damaged,
// cut short, naming a path an update may not change or one reached through a link) is
// undone from what the backup directory and the update directory hold: every file kept
// aside returns, and the files the install had moved out of the update tree go back into
// it. True when nothing was left to do or it was done; false when a step failed (the
// journal then stays for the next start). What it found and did is added to report, one
// line each; nothing when there was no journal.
bool RecoverInterruptedInstall(const InstallPlaces& places, std::string& report);

// Installs the update tree. Returns true when the tree was installed and the update
// directory removed. Returns false, with the installation as it was and the update
// directory left for a later start, when the tree is not fit to install (no browser
// executable, or one that cannot be started, an entry that is not a regular file or
// directory, a path an update may not change, a mismatch with its Resource/files.lst, a
// target of another kind than its source), when the installed browser executable cannot be
// replaced (it runs), when a stale backup cannot be cleared, or when a step fails (then
// rolled back). The outcome, with the reason of a refusal, is added to report as one line.
bool InstallUpdateTree(const InstallPlaces& places, std::string& report);

}  // namespace launcher
