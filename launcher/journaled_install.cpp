#include "launcher/journaled_install.h"

#include <set>
#include <vector>

#include "launcher/install_journal.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform_native.h"
#include "tree/file_list.h"
#include "tree/update_tree.h"

namespace launcher {
namespace {

constexpr int kBrowserAttempts = 8;
constexpr std::uint32_t kPauseAfterFailedAttemptMs = 10;
constexpr wchar_t kBrowserName[] = L"Kivo9.exe";
constexpr wchar_t kJournalName[] = L"install.journal";
constexpr wchar_t kBackupName[] = L"install.old";
constexpr wchar_t kPartialName[] = L"install.partial";

bool Exists(const std::wstring& path) {
  return platform::QueryPath(path).kind != platform::PathKind::Missing;
}

std::wstring ParentOf(const std::wstring& relative) {
  const std::size_t sep = relative.rfind(platform::kSep);
  return sep == std::wstring::npos ? L"" : relative.substr(0, sep + 1);
}

std::wstring FirstPart(const std::wstring& relative) {
  return relative.substr(0, relative.find(platform::kSep));
}

std::wstring JournalScratch(const InstallPlaces& places) { return JournalPath(places) + L".new"; }
std::wstring PartialPath(const InstallPlaces& places) { return places.dataDir + kPartialName; }

// Removes the directories of a tree that hold no file, deepest first; files stay.
void RemoveEmptyDirectories(const std::wstring& dir) {
  {
    platform::DirectorySearch search(dir);
    platform::DirectoryEntry entry;
    while (search.Next(entry)) {
      if (entry.isDirectory && entry.name != L"." && entry.name != L"..") {
        RemoveEmptyDirectories(dir + entry.name + platform::kSep);
      }
    }
  }
  platform::RemoveEmptyDirectory(tree::WithoutSeparator(dir));
}

// Creates relative's missing parents below base; remembers what exists to spare questions.
bool MakeParents(const std::wstring& base, const std::wstring& relative,
                 std::set<std::wstring>& made) {
  const std::wstring parent = ParentOf(relative);
  if (parent.empty() || made.count(parent) != 0) return true;
  if (!MakeParents(base, tree::WithoutSeparator(parent), made)) return false;
  const std::wstring dir = base + tree::WithoutSeparator(parent);
  if (!platform::MakeDirectory(dir) &&
      platform::QueryPath(dir).kind != platform::PathKind::Directory) {
    return false;
  }
  made.insert(parent);
  return true;
}

// Moves from to to; where they lie on different volumes, copies to a scratch file beside
// the target, flushes it and renames it over.
bool MoveOrCopy(const InstallPlaces& places, const std::wstring& from, const std::wstring& to) {
  if (platform::MovePath(from, to)) return true;
  if (!platform::IsCrossVolumeError(platform::LastErrorCode())) return false;
  const std::wstring partial = PartialPath(places);
  if (Exists(partial) && !platform::RemoveFile(partial)) return false;
  return platform::CopyFileFlushed(from, partial) && platform::MovePath(partial, to);
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

// What the install will do, decided before anything is touched.
bool Plan(const InstallPlaces& places, InstallJournal& journal) {
  if (platform::QueryPath(tree::WithoutSeparator(places.updateDir)).kind !=
      platform::PathKind::Directory) {
    return false;
  }
  tree::TreeListing listing;
  std::wstring problem;
  if (!tree::ListTree(places.updateDir, listing, problem)) return false;
  const std::set<std::wstring> workNames = {L"update", kJournalName, kBackupName, kPartialName,
                                            std::wstring(kJournalName) + L".new"};
  const auto has = [&listing](const std::wstring& path) {
    for (const tree::TreeFile& file : listing.files) {
      if (file.path == path) return true;
    }
    return false;
  };
  // With a list, the package is what it lists; whatever else lies in the tree stays out.
  if (has(tree::FileListPath())) {
    std::vector<tree::TreeFile> listed;
    if (!tree::CheckAgainstFileList(places.updateDir, listing, listed, problem)) return false;
    listing.files = std::move(listed);
  }
  if (!has(kBrowserName)) return false;
  for (const std::wstring& dir : listing.directories) {
    if (workNames.count(FirstPart(dir)) != 0) return false;
    const platform::PathKind kind = platform::QueryPath(places.dataDir + dir).kind;
    if (kind == platform::PathKind::Missing) {
      journal.createdDirectories.push_back(dir);
    } else if (kind != platform::PathKind::Directory) {
      return false;  // a file or a link where the tree has a directory
    }
  }
  for (const tree::TreeFile& file : listing.files) {
    if (workNames.count(FirstPart(file.path)) != 0) return false;
    const platform::PathKind kind = platform::QueryPath(places.dataDir + file.path).kind;
    if (kind == platform::PathKind::Directory || kind == platform::PathKind::Other) return false;
    // A link is replaced as the link itself; what it points at is never written.
    journal.files.push_back({file.path, kind != platform::PathKind::Missing});
  }
  return true;
}

bool WriteJournal(const InstallPlaces& places, const InstallJournal& journal) {
  const std::wstring scratch = JournalScratch(places);
  return platform::WriteFileFlushed(scratch, FormatJournal(journal), false) &&
         platform::MovePath(scratch, JournalPath(places)) &&
         platform::FlushDirectory(places.dataDir);
}

// Every directory whose entries the install changed, so that they reach the disk before the
// commit does.
std::set<std::wstring> TouchedDirectories(const InstallPlaces& places,
                                          const InstallJournal& journal) {
  std::set<std::wstring> dirs{places.dataDir, BackupDir(places)};
  for (const auto& file : journal.files) {
    const std::wstring parent = ParentOf(file.path);
    dirs.insert(places.dataDir + parent);
    dirs.insert(places.updateDir + parent);
    if (file.replaces) dirs.insert(BackupDir(places) + parent);
  }
  return dirs;
}

bool Apply(const InstallPlaces& places, const InstallJournal& journal) {
  for (const auto& dir : journal.createdDirectories) {
    const std::wstring path = places.dataDir + dir;
    if (!platform::MakeDirectory(path) &&
        platform::QueryPath(path).kind != platform::PathKind::Directory) {
      return false;
    }
  }
  const std::wstring backup = BackupDir(places);
  std::set<std::wstring> backupDirs;
  if (!platform::MakeDirectory(tree::WithoutSeparator(backup)) &&
      !Exists(tree::WithoutSeparator(backup))) {
    return false;
  }
  for (const auto& file : journal.files) {
    if (file.replaces && (!MakeParents(backup, file.path, backupDirs) ||
                          !platform::MovePath(places.dataDir + file.path, backup + file.path))) {
      return false;
    }
    if (!MoveOrCopy(places, places.updateDir + file.path, places.dataDir + file.path)) {
      return false;
    }
  }
  for (const auto& dir : TouchedDirectories(places, journal)) {
    if (Exists(tree::WithoutSeparator(dir)) && !platform::FlushDirectory(dir)) return false;
  }
  return platform::WriteFileFlushed(JournalPath(places), CommitLine(), true).ok();
}

// After the commit: the old files, the update tree and the post-upgrade copy go. Each step
// can be repeated.
bool Finish(const InstallPlaces& places) {
  bool ok = tree::RemoveTree(BackupDir(places));
  ok = tree::RemoveTree(places.updateDir) && ok;
  if (Exists(places.postUpgradeCopy)) ok = platform::RemoveFile(places.postUpgradeCopy) && ok;
  if (Exists(PartialPath(places))) ok = platform::RemoveFile(PartialPath(places)) && ok;
  if (!ok) return false;
  return platform::RemoveFile(JournalPath(places)) && platform::FlushDirectory(places.dataDir);
}

// Puts one file back as it was: the new one returns to the update tree (or is dropped when
// the tree still has it, after a copy), the old one returns from the backup.
bool RollBackFile(const InstallPlaces& places, const JournalFile& file) {
  const std::wstring installed = places.dataDir + file.path;
  const std::wstring pending = places.updateDir + file.path;
  const std::wstring kept = BackupDir(places) + file.path;
  // A file that replaces an old one is in place only once the old one is kept aside.
  if (file.replaces && !Exists(kept)) return true;
  if (Exists(installed)) {
    if (Exists(pending)) {
      if (!platform::RemoveFile(installed)) return false;  // a copy; the tree still has it
    } else {
      // Whoever removed part of the update tree meanwhile, the new file goes back into it.
      std::set<std::wstring> made;
      platform::MakeDirectory(tree::WithoutSeparator(places.updateDir));
      if (!MakeParents(places.updateDir, file.path, made) ||
          !platform::MovePath(installed, pending)) {
        return false;
      }
    }
  }
  return !file.replaces || platform::MovePath(kept, installed);
}

bool RollBack(const InstallPlaces& places, const InstallJournal& journal) {
  for (auto it = journal.files.rbegin(); it != journal.files.rend(); ++it) {
    if (!RollBackFile(places, *it)) return false;
  }
  if (Exists(PartialPath(places)) && !platform::RemoveFile(PartialPath(places))) return false;
  for (auto it = journal.createdDirectories.rbegin(); it != journal.createdDirectories.rend();
       ++it) {
    platform::RemoveEmptyDirectory(places.dataDir + *it);  // one left holding a file stays
  }
  if (Exists(tree::WithoutSeparator(BackupDir(places)))) RemoveEmptyDirectories(BackupDir(places));
  if (!platform::FlushDirectory(places.dataDir)) return false;
  return platform::RemoveFile(JournalPath(places)) && platform::FlushDirectory(places.dataDir);
}

}  // namespace

std::wstring JournalPath(const InstallPlaces& places) { return places.dataDir + kJournalName; }

std::wstring BackupDir(const InstallPlaces& places) {
  return places.dataDir + kBackupName + platform::kSep;
}

bool RecoverInterruptedInstall(const InstallPlaces& places) {
  // A journal still being written was never acted on.
  if (Exists(JournalScratch(places)) && !platform::RemoveFile(JournalScratch(places))) {
    return false;
  }
  if (!Exists(JournalPath(places))) return true;
  std::string text;
  InstallJournal journal;
  if (!platform::ReadWholeFile(JournalPath(places), text)) return false;
  if (!ParseJournal(text, journal)) {
    // Only whole journals are ever renamed into place: this one is not ours to act on.
    return false;
  }
  return journal.committed ? Finish(places) : RollBack(places, journal);
}

bool InstallUpdateTree(const InstallPlaces& places) {
  InstallJournal journal;
  if (!Plan(places, journal)) return false;
  if (!BrowserCanBeReplaced(places)) return false;
  if (!WriteJournal(places, journal)) {
    platform::RemoveFile(JournalScratch(places));
    return false;
  }
  if (!Apply(places, journal)) {
    RollBack(places, journal);  // a rollback that fails is repeated at the next start
    return false;
  }
  Finish(places);  // what is left of it, the next start finishes
  return true;
}

}  // namespace launcher
