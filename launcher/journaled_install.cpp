#include "launcher/journaled_install.h"

#include <set>
#include <vector>

#include "launcher/install_journal.h"
#include "platform/dir_path.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform_native.h"
#include "tree/file_list.h"
#include "tree/install_names.h"
#include "tree/update_tree.h"

namespace launcher {
namespace {

constexpr int kBrowserAttempts = 8;
constexpr std::uint32_t kPauseAfterFailedAttemptMs = 10;

// What stands at path itself, a link not followed: the one question the install asks of a
// place, so that a link, dangling or not, counts as there and is moved as itself.
platform::PathKind KindAt(const std::wstring& path) { return platform::QueryPath(path).kind; }
bool Exists(const std::wstring& path) { return KindAt(path) != platform::PathKind::Missing; }

// A file service's result as an outcome, its system text and path the reason.
Outcome Checked(const platform::FileResult& result) {
  return result ? Outcome() : Outcome::No(result.Describe());
}

std::wstring JournalScratch(const InstallPlaces& places) {
  return platform::ScratchPathOf(JournalPath(places));
}
std::wstring CopyScratch(const InstallPlaces& places) {
  return places.dataDir.File(tree::kCopyScratchName);
}
platform::DirPath DiscardDir(const InstallPlaces& places) {
  return places.dataDir.Dir(tree::kDiscardDirName);
}

// Moves from to to; where they lie on different volumes, copies to a scratch file beside
// the target, flushes it and renames it over.
platform::FileResult MoveOrCopy(const InstallPlaces& places, const std::wstring& from,
                                const std::wstring& to) {
  platform::FileResult moved = platform::MovePath(from, to);
  if (moved || !platform::IsCrossVolumeError(moved.code())) return moved;
  const std::wstring partial = CopyScratch(places);
  if (Exists(partial)) {
    if (platform::FileResult removed = platform::RemoveFile(partial); !removed) return removed;
  }
  if (platform::FileResult copied = platform::CopyFileFlushed(from, partial); !copied) {
    return copied;
  }
  return platform::MovePath(partial, to);
}

// A running browser holds its executable: the install waits a little for it to close.
bool BrowserCanBeReplaced(const InstallPlaces& places) {
  if (!Exists(places.browser)) return true;
  for (int attempt = 0; attempt < kBrowserAttempts; ++attempt) {
    if (platform::CanOpenForWriting(places.browser)) return true;
    platform::SleepMilliseconds(kPauseAfterFailedAttemptMs);
  }
  return false;
}

// The journal of an install of listing: the directories it makes and, per file, whether it
// replaces one; why not when something of another kind stands where the tree has an entry.
OrWhy<InstallJournal> JournalFor(const InstallPlaces& places, const tree::TreeListing& listing) {
  InstallJournal journal;
  for (const std::wstring& dir : listing.directories) {
    const platform::PathKind kind = KindAt(places.dataDir.File(dir));
    if (kind == platform::PathKind::Missing) {
      journal.createdDirectories.push_back(dir);
    } else if (kind != platform::PathKind::Directory) {
      return Outcome::No("a file or a link stands where the update has a directory: " +
                         platform::ToUtf8(dir));
    }
  }
  for (const tree::TreeFile& file : listing.files) {
    const platform::PathKind kind = KindAt(places.dataDir.File(file.path));
    if (kind == platform::PathKind::Directory || kind == platform::PathKind::Other) {
      return Outcome::No("a directory or special file stands where the update has a file: " +
                         platform::ToUtf8(file.path));
    }
    // A link is replaced as the link itself; what it points at is never written.
    journal.files.push_back({file.path, kind != platform::PathKind::Missing});
  }
  return journal;
}

// What the install will do, decided before anything is touched; why a tree is not fit.
OrWhy<InstallJournal> Plan(const InstallPlaces& places) {
  if (KindAt(places.updateDir.Path()) != platform::PathKind::Directory) {
    return Outcome::No("the update is not a directory");
  }
  auto listed = tree::ListTree(places.updateDir.Slashed());
  if (!listed) return listed.outcome();
  tree::TreeListing& listing = *listed;
  const auto has = [&listing](const std::wstring& path) {
    for (const tree::TreeFile& file : listing.files) {
      if (file.path == path) return true;
    }
    return false;
  };
  // With a list, the package is what it lists; whatever else lies in the tree stays out.
  if (has(tree::FileListPath())) {
    auto inList = tree::CheckAgainstFileList(places.updateDir.Slashed(), listing);
    if (!inList) return inList.outcome();
    listing.files = std::move(*inList);
  }
  if (!has(tree::kBrowserName)) return Outcome::No("the update holds no Kivo9.exe");
  // Once installed, it is the browser every start runs: one that cannot start strands the user.
  if (!platform::IsStartableProgram(places.updateDir.File(tree::kBrowserName))) {
    return Outcome::No("the update's Kivo9.exe is not a program that can be started");
  }
  if (const auto reserved = tree::ReservedPathIn(listing)) {
    return Outcome::No("the update names a reserved place: " + platform::ToUtf8(*reserved));
  }
  return JournalFor(places, listing);
}

Outcome WriteJournal(const InstallPlaces& places, const InstallJournal& journal) {
  const std::wstring scratch = JournalScratch(places);
  if (Outcome written = Checked(platform::WriteFileFlushed(scratch, FormatJournal(journal), false));
      !written) {
    return written;
  }
  if (Outcome moved = Checked(platform::MovePath(scratch, JournalPath(places))); !moved) {
    return moved;
  }
  return Checked(platform::FlushDirectory(places.dataDir.Path()));
}

// Every directory whose entries the install changed, so that they reach the disk before the
// commit does.
std::set<std::wstring> TouchedDirectories(const InstallPlaces& places,
                                          const InstallJournal& journal) {
  std::set<std::wstring> dirs{places.dataDir.Path(), BackupDir(places).Path()};
  for (const auto& file : journal.files) {
    const std::wstring parent = platform::ParentOf(file.path);
    dirs.insert(places.dataDir.Dir(parent).Path());
    dirs.insert(places.updateDir.Dir(parent).Path());
    if (file.replaces) dirs.insert(BackupDir(places).Dir(parent).Path());
  }
  return dirs;
}

Outcome Apply(const InstallPlaces& places, const InstallJournal& journal) {
  for (const auto& dir : journal.createdDirectories) {
    const std::wstring path = places.dataDir.File(dir);
    if (platform::FileResult made = platform::MakeDirectory(path);
        !made && KindAt(path) != platform::PathKind::Directory) {
      return Checked(made);
    }
  }
  const platform::DirPath backup = BackupDir(places);
  std::set<std::wstring> backupDirs;
  for (const auto& file : journal.files) {
    if (file.replaces) {
      if (!tree::MakeParents(backup, file.path, backupDirs)) {
        return Outcome::No("cannot make the backup's folders for " + platform::ToUtf8(file.path));
      }
      if (platform::FileResult moved =
              platform::MovePath(places.dataDir.File(file.path), backup.File(file.path));
          !moved) {
        return Checked(moved);
      }
    }
    if (platform::FileResult moved =
            MoveOrCopy(places, places.updateDir.File(file.path), places.dataDir.File(file.path));
        !moved) {
      return Checked(moved);
    }
  }
  for (const auto& dir : TouchedDirectories(places, journal)) {
    if (!Exists(dir)) continue;
    if (platform::FileResult flushed = platform::FlushDirectory(dir); !flushed) {
      return Checked(flushed);
    }
  }
  return Checked(platform::WriteFileFlushed(JournalPath(places), CommitLine(), true));
}

// After the commit: the old files, the update tree and the post-upgrade copy go. The backup
// is first renamed to the discard name, so that a start which cannot read the journal any
// more never takes the old files of a committed install for a backup. Each step can be
// repeated.
bool Finish(const InstallPlaces& places) {
  const platform::DirPath backup = BackupDir(places);
  const platform::DirPath discard = DiscardDir(places);
  bool ok = true;
  if (Exists(backup.Path())) {
    ok = tree::RemoveTree(discard.Slashed()) && platform::MovePath(backup.Path(), discard.Path()) &&
         platform::FlushDirectory(places.dataDir.Path());
  }
  ok = ok && tree::RemoveTree(discard.Slashed());
  ok = tree::RemoveTree(places.updateDir.Slashed()) && ok;
  if (Exists(places.postUpgradeCopy)) ok = platform::RemoveFile(places.postUpgradeCopy) && ok;
  if (Exists(CopyScratch(places))) ok = platform::RemoveFile(CopyScratch(places)) && ok;
  if (!ok) return false;
  return tree::RemoveTree(JournalPath(places)) && platform::FlushDirectory(places.dataDir.Path());
}

// Puts one file back as it was: the new one returns to the update tree (or is dropped when
// the tree still has it, after a copy), the old one returns from the backup.
bool RollBackFile(const InstallPlaces& places, const JournalFile& file) {
  const std::wstring installed = places.dataDir.File(file.path);
  const std::wstring pending = places.updateDir.File(file.path);
  const std::wstring kept = BackupDir(places).File(file.path);
  // A file that replaces an old one is in place only once the old one is kept aside.
  if (file.replaces && !Exists(kept)) return true;
  if (Exists(installed)) {
    if (Exists(pending)) {
      if (!platform::RemoveFile(installed)) return false;  // a copy; the tree still has it
    } else {
      // Whoever removed part of the update tree meanwhile, the new file goes back into it.
      std::set<std::wstring> made;
      platform::MakeDirectory(places.updateDir.Path());
      if (!tree::MakeParents(places.updateDir, file.path, made) ||
          !platform::MovePath(installed, pending)) {
        return false;
      }
    }
  }
  return !file.replaces || platform::MovePath(kept, installed);
}

// The end of every rollback: what is left of the backup and the scratch copy goes, then
// the journal.
bool EndRollBack(const InstallPlaces& places) {
  if (Exists(CopyScratch(places)) && !platform::RemoveFile(CopyScratch(places))) return false;
  if (!platform::FlushDirectory(places.dataDir.Path())) return false;
  return tree::RemoveTree(JournalPath(places)) && platform::FlushDirectory(places.dataDir.Path());
}

bool RollBack(const InstallPlaces& places, const InstallJournal& journal) {
  for (auto it = journal.files.rbegin(); it != journal.files.rend(); ++it) {
    if (!RollBackFile(places, *it)) return false;
  }
  for (auto it = journal.createdDirectories.rbegin(); it != journal.createdDirectories.rend();
       ++it) {
    platform::RemoveEmptyDirectory(places.dataDir.File(*it));  // one left holding a file stays
  }
  if (Exists(BackupDir(places).Path())) tree::RemoveEmptyDirectories(BackupDir(places));
  return EndRollBack(places);
}

// A directory the install moves files into or out of is the installation's own only when it
// is a real directory (or not there yet): a link put in its place leads elsewhere.
bool IsOwnDirectory(const platform::DirPath& dir) {
  const platform::PathKind kind = KindAt(dir.Path());
  return kind == platform::PathKind::Directory || kind == platform::PathKind::Missing;
}

bool WorkDirectoriesAreOwn(const InstallPlaces& places) {
  return IsOwnDirectory(places.updateDir) && IsOwnDirectory(BackupDir(places));
}

// Whether path is one the install may act on in every tree it moves files between (whose
// own folders WorkDirectoriesAreOwn has found real).
bool IsSafeToMove(const InstallPlaces& places, const std::wstring& path) {
  return tree::IsUpdatablePath(path) && tree::HasNoLinkOnTheWay(places.dataDir.Slashed(), path) &&
         tree::HasNoLinkOnTheWay(places.updateDir.Slashed(), path) &&
         tree::HasNoLinkOnTheWay(BackupDir(places).Slashed(), path);
}

bool JournalIsSafe(const InstallPlaces& places, const InstallJournal& journal) {
  if (!WorkDirectoriesAreOwn(places)) return false;
  for (const auto& dir : journal.createdDirectories) {
    if (!tree::HasNoLinkOnTheWay(places.dataDir.Slashed(), dir + platform::kSep)) return false;
  }
  for (const auto& file : journal.files) {
    if (!IsSafeToMove(places, file.path)) return false;
  }
  return true;
}

// The paths the update tree's own list names, native separators; none without a readable list.
std::vector<std::wstring> ListedPaths(const InstallPlaces& places) {
  std::string text;
  std::vector<std::wstring> paths;
  if (!platform::ReadWholeFile(places.updateDir.File(tree::FileListPath()),
                               tree::kFileListLimitBytes, text)) {
    return paths;  // without a list the next install takes the tree whole, as before
  }
  const auto listed = tree::ParseFileList(text);
  if (!listed) return paths;
  for (const tree::ListedFile& file : *listed) {
    paths.push_back(platform::NativePath(platform::FromUtf8(file.path)));
  }
  return paths;
}

// A rollback without a journal. The backup directory exists before the journal does, and
// every install moves each file it replaces into it before its new file takes the place,
// and takes every file of a listed tree out of the update tree: so each file the backup
// holds goes back (the new one into the update tree), and each listed file that lies in the
// installation but no longer in the update tree goes back into it. Without a backup the
// install was committed (its first step after the commit renames the backup): it is
// finished instead. The files a tree without a list had added stay; the install that
// follows puts the rest beside them.
bool RollBackFromDisk(const InstallPlaces& places, std::string& report) {
  const platform::DirPath backup = BackupDir(places);
  if (!Exists(backup.Path())) {
    report += "the install had been committed: finished\n";
    return Finish(places);
  }
  // A link or file in place of the backup or update folder backs nothing up.
  const bool own =
      WorkDirectoriesAreOwn(places) && KindAt(backup.Path()) == platform::PathKind::Directory;
  const std::vector<std::wstring> kept =
      own ? tree::ListRegularFiles(backup) : std::vector<std::wstring>{};
  std::set<std::wstring> updateDirs;
  std::size_t restored = 0;
  for (const std::wstring& path : kept) {
    const platform::PathKind now = KindAt(places.dataDir.File(path));
    if (!IsSafeToMove(places, path) || now == platform::PathKind::Directory ||
        now == platform::PathKind::Other) {
      continue;  // dropped with the rest of the backup
    }
    const JournalFile file{path, true};
    std::set<std::wstring> made;
    if (!tree::MakeParents(places.dataDir, path, made) || !RollBackFile(places, file)) return false;
    ++restored;
  }
  for (const std::wstring& path : own ? ListedPaths(places) : std::vector<std::wstring>{}) {
    const std::wstring installed = places.dataDir.File(path);
    if (!IsSafeToMove(places, path) || Exists(places.updateDir.File(path)) ||
        KindAt(installed) != platform::PathKind::File) {
      continue;
    }
    if (!tree::MakeParents(places.updateDir, path, updateDirs) ||
        !platform::MovePath(installed, places.updateDir.File(path))) {
      return false;
    }
    ++restored;
  }
  report += "rolled back from the backup and the update tree: " + std::to_string(restored) +
            " files moved\n";
  return tree::RemoveTree(backup.Slashed()) && EndRollBack(places);
}

// What an earlier crash or another program may have left where this install works. A backup
// without a journal belongs to no install: a file it holds whose place is empty goes back
// (nothing is lost), the rest goes.
Outcome ClearStaleWorkPlaces(const InstallPlaces& places) {
  const platform::DirPath backup = BackupDir(places);
  if (KindAt(backup.Path()) == platform::PathKind::Directory && IsOwnDirectory(places.updateDir)) {
    for (const std::wstring& path : tree::ListRegularFiles(backup)) {
      std::set<std::wstring> made;
      if (IsSafeToMove(places, path) && !Exists(places.dataDir.File(path)) &&
          tree::MakeParents(places.dataDir, path, made)) {
        platform::MovePath(backup.File(path), places.dataDir.File(path));
      }
    }
  }
  for (const platform::DirPath& dir : {backup, DiscardDir(places)}) {
    if (!tree::RemoveTree(dir.Slashed())) {
      return Outcome::No("cannot clear " + platform::ToUtf8(dir.Path()));
    }
  }
  if (!tree::RemoveTree(CopyScratch(places))) {
    return Outcome::No("cannot clear " + platform::ToUtf8(CopyScratch(places)));
  }
  return {};
}

}  // namespace

std::wstring JournalPath(const InstallPlaces& places) {
  return places.dataDir.File(tree::kJournalName);
}

platform::DirPath BackupDir(const InstallPlaces& places) {
  return places.dataDir.Dir(tree::kBackupDirName);
}

bool RecoverInterruptedInstall(const InstallPlaces& places, std::string& report) {
  // A journal still being written was never acted on.
  if (Exists(JournalScratch(places)) && !platform::RemoveFile(JournalScratch(places))) {
    return false;
  }
  if (!Exists(JournalPath(places))) return true;
  std::string text;
  auto read = platform::ReadWholeFile(JournalPath(places), kJournalLimitBytes, text)
                  ? ParseJournal(text)
                  : OrWhy<InstallJournal>(Outcome::No("the journal cannot be read"));
  std::string problem = read.why();
  if (read) {
    const InstallJournal& journal = *read;
    if (journal.committed) {
      report += "finished an interrupted install\n";
      return Finish(places);
    }
    if (JournalIsSafe(places, journal)) {
      report += "rolled back an interrupted install\n";
      return RollBack(places, journal);
    }
    problem = "the journal names a path reached through a link";
  }
  report += problem + "\n";
  return RollBackFromDisk(places, report);
}

bool InstallUpdateTree(const InstallPlaces& places, std::string& report) {
  const auto planned = Plan(places);
  if (!planned) {
    report += "refused the update: " + planned.why() + "\n";
    return false;
  }
  const InstallJournal& journal = *planned;
  if (!BrowserCanBeReplaced(places)) {
    report += "the update waits: the browser is running\n";
    return false;
  }
  // The backup exists before the journal does: a journal without one speaks of a committed
  // install, whatever else of it can still be read.
  const std::wstring backup = BackupDir(places).Path();
  Outcome prepared = ClearStaleWorkPlaces(places);
  if (prepared) prepared = Checked(platform::MakeDirectory(backup));
  if (prepared) prepared = WriteJournal(places, journal);
  if (!prepared) {
    platform::RemoveFile(JournalScratch(places));
    platform::RemoveEmptyDirectory(backup);
    report += "the update waits: " + prepared.why() + "\n";
    return false;
  }
  if (Outcome applied = Apply(places, journal); !applied) {
    RollBack(places, journal);  // a rollback that fails is repeated at the next start
    report += "the install failed and was rolled back: " + applied.why() + "\n";
    return false;
  }
  Finish(places);  // what is left of it, the next start finishes
  report += "installed the update\n";
  return true;
}

}  // namespace launcher
