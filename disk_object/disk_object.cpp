#include "disk_object/disk_object.h"

#include <algorithm>

#include "disk_object/path_rules.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform_native.h"

namespace {

using platform::kSep;

constexpr wchar_t kParameterError[] = L"CDiskObject internal error - check call parameters";
// The pattern of a directory search, as the error texts name it.
constexpr wchar_t kSearchPattern[] = L"*.*";

template <typename T, typename Key>
void InsertSorted(std::vector<T>& list, T item, Key key) {
  const auto before = std::upper_bound(list.begin(), list.end(), item, [&](const T& a, const T& b) {
    return platform::CompareUtf16(key(a), key(b)) < 0;
  });
  list.insert(before, std::move(item));
}

}  // namespace

// ---- Error text ----

void CDiskObject::ResetErrorText() { errorText_.clear(); }

void CDiskObject::SetSystemErrorText(const platform::FileResult& failure,
                                     const std::wstring& detail) {
  errorText_ = platform::FromUtf8(failure.Describe(detail));
}

void CDiskObject::SetParameterErrorText() { errorText_ = kParameterError; }

bool CDiskObject::StartWithPath(const std::wstring& path) {
  ResetErrorText();
  if (!path.empty()) return true;
  SetParameterErrorText();
  return false;
}

bool CDiskObject::SearchStarted(const platform::DirectorySearch& search,
                                const std::wstring& directory) {
  if (search.IsOpen()) return true;
  SetSystemErrorText(search.Status(), directory + kSearchPattern);
  return false;
}

// ---- Path normalization ----

bool CDiskObject::HasNoReservedChars(const std::wstring& part) {
  return part.find_first_of(platform::kReservedPathChars) == std::wstring::npos;
}

int CDiskObject::NormalizeFolderPath(std::wstring& path) {
  launcher::UseNativeSeparators(path);
  if (!path.empty() && path.back() != kSep) path += kSep;
  if (launcher::IsNetworkPath(path)) return 1;
  return NormalizeFilePath(path);
}

int CDiskObject::NormalizeFilePath(std::wstring& path) {
  launcher::UseNativeSeparators(path);
  const launcher::PathParts parts = launcher::SplitPath(path);
  if (parts.drive.empty()) path = AbsoluteFromCurrent(path);
  if (!HasNoReservedChars(parts.directory) || !HasNoReservedChars(parts.name) ||
      !HasNoReservedChars(parts.extension)) {
    SetParameterErrorText();
    return 0;
  }
  return 1;
}

std::wstring CDiskObject::AbsoluteFromCurrent(std::wstring path) {
  if (!path.empty() && path[0] == kSep) {
    // A network path is complete; a rooted one lacks only the drive, where there are drives.
    if (launcher::IsNetworkPath(path)) return path;
    return launcher::SplitPath(platform::CurrentDirectory()).drive + path;
  }
  if (path.rfind(launcher::ParentGroup(), 0) == 0) return ClimbParentGroups(path);
  const std::wstring current = platform::CurrentDirectory();
  // Unknown (too long, or gone): the path stays relative rather than land at the root.
  if (current.empty()) return path;
  return launcher::JoinToDirectory(current, path);
}

// Each leading "..<sep>" is one step up from the current directory, taken on the text of
// the current directory (which the system gives with its links resolved), so the process's
// current directory never changes.
std::wstring CDiskObject::ClimbParentGroups(std::wstring path) {
  const std::wstring group = launcher::ParentGroup();
  std::wstring current = platform::CurrentDirectory();
  if (current.empty()) return path;
  std::wstring rest = path;
  while (rest.rfind(group, 0) == 0) {
    current = launcher::ParentDirectory(current);
    rest.erase(0, group.size());
  }
  return launcher::JoinToDirectory(current, rest);
}

// ---- Listing ----

int CDiskObject::FolderExists(std::wstring directory) {
  if (!StartWithPath(directory)) return 0;
  if (!NormalizeFolderPath(directory)) return 0;
  return IsEnterable(directory) ? 1 : 0;
}

int CDiskObject::ListFolderFiles(std::wstring directory, StringList& list) {
  ResetErrorText();
  if (!NormalizeFolderPath(directory)) return 0;
  return ListFiles(directory, list) ? 1 : 0;
}

int CDiskObject::ListSubfolderTree(std::wstring directory, StringList& list) {
  ResetErrorText();
  if (!NormalizeFolderPath(directory)) return 0;
  return CollectSubfolders(directory, list);
}

// ---- Creating ----

int CDiskObject::MakeFolderPath(std::wstring directory) {
  if (!StartWithPath(directory)) return 0;
  if (!NormalizeFolderPath(directory)) return 0;
  return CreatePath(directory) ? 1 : 0;
}

// ---- Copying ----

int CDiskObject::CopyFolderTree(std::wstring source, std::wstring target, bool stopOnError) {
  ResetErrorText();
  if (!NormalizeFolderPath(source) || !NormalizeFolderPath(target)) return 0;
  StringList directories{source};
  if (!CollectSubfolders(source, directories)) return 0;
  int result = 1;
  for (const std::wstring& directory : directories) {
    result = CopyFiles(directory, target + directory.substr(source.size()), stopOnError) ? 1 : 0;
    if (!result && stopOnError) break;
  }
  return result;
}

int CDiskObject::CopyFolderFiles(std::wstring source, std::wstring target, bool stopOnError) {
  ResetErrorText();
  if (!NormalizeFolderPath(source) || !NormalizeFolderPath(target)) return 0;
  return CopyFiles(source, target, stopOnError) ? 1 : 0;
}

// ---- Deleting ----

int CDiskObject::DeleteFolderTree(std::wstring directory) {
  if (!StartWithPath(directory)) return 0;
  if (!NormalizeFolderPath(directory)) return 0;
  StringList subfolders;
  if (!CollectSubfolders(directory, subfolders)) return 0;
  // Backwards through the depth-first list: every directory after everything inside it.
  for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) {
    if (!RemoveFolder(*it)) return 0;
  }
  return RemoveFolder(directory) ? 1 : 0;
}

int CDiskObject::DeleteFolder(std::wstring directory) {
  if (!StartWithPath(directory)) return 0;
  if (!NormalizeFolderPath(directory)) return 0;
  return RemoveFolder(directory) ? 1 : 0;
}

int CDiskObject::DeleteFolderFiles(std::wstring directory) {
  ResetErrorText();
  if (!NormalizeFolderPath(directory)) return 0;
  return RemoveFiles(directory) ? 1 : 0;
}

int CDiskObject::DeleteSingleFile(std::wstring path) {
  if (!StartWithPath(path)) return 0;
  if (!NormalizeFilePath(path)) return 0;
  if (const platform::FileResult removed = platform::RemoveFile(path); !removed) {
    SetSystemErrorText(removed, path);
    return 0;
  }
  return 1;
}

// ---- The steps on normalized paths ----

bool CDiskObject::IsEnterable(const std::wstring& directory) {
  return platform::QueryDirectory(directory).ok();
}

// The entries of directory that are not real directories, sorted; links only when asked
// for, since a copy must not follow them and a deletion must remove them.
bool CDiskObject::ListEntries(const std::wstring& directory, bool withLinks,
                              std::vector<Entry>& entries) {
  if (!IsEnterable(directory)) return true;
  platform::DirectorySearch search(directory);
  if (!SearchStarted(search, directory)) return false;
  platform::DirectoryEntry found;
  while (search.Next(found)) {
    if (found.isDirectory || (found.isLink && !withLinks)) continue;
    InsertSorted(entries, Entry{found.name, found.isLink},
                 [](const Entry& e) -> const std::wstring& { return e.name; });
  }
  return true;
}

bool CDiskObject::ListFiles(const std::wstring& directory, StringList& list) {
  std::vector<Entry> entries;
  if (!ListEntries(directory, false, entries)) return false;
  for (Entry& entry : entries) {
    InsertSorted(list, std::move(entry.name),
                 [](const std::wstring& name) -> const std::wstring& { return name; });
  }
  return true;
}

int CDiskObject::CollectSubfolders(const std::wstring& directory, StringList& list) {
  ResetErrorText();
  platform::DirectorySearch search(directory);
  if (!SearchStarted(search, directory)) return 0;
  platform::DirectoryEntry found;
  while (search.Next(found)) {
    // Links are not entered: the tree ends at its own directories.
    if (!found.isDirectory || found.name == L"." || found.name == L"..") continue;
    // A name the path rules refuse fails the listing, as it would fail every later step.
    if (!HasNoReservedChars(found.name)) {
      SetParameterErrorText();
      return 0;
    }
    const std::wstring subfolder = directory + found.name + kSep;
    list.push_back(subfolder);
    if (!CollectSubfolders(subfolder, list)) return 0;
  }
  return 1;
}

bool CDiskObject::CreatePath(const std::wstring& directory) {
  const launcher::RootAndParts split = launcher::SplitRoot(directory);
  std::wstring partial = split.root;
  for (const std::wstring& part : split.parts) {
    partial += kSep + part;
    platform::MakeDirectory(partial);  // an existing directory is no error
  }
  if (const platform::FileResult entered = platform::QueryDirectory(directory); !entered) {
    SetSystemErrorText(entered, directory);
    return false;
  }
  return true;
}

bool CDiskObject::CopyFiles(const std::wstring& source, const std::wstring& target,
                            bool stopOnError) {
  ResetErrorText();
  StringList names;
  if (!ListFiles(source, names)) return false;
  if (!CreatePath(target)) return false;
  bool result = true;
  for (const std::wstring& name : names) {
    const platform::FileResult copied = platform::CopyFileOverwrite(source + name, target + name);
    result = copied.ok();
    if (!copied && stopOnError) {
      SetSystemErrorText(copied, source + name + L" -> " + target + name);
      return false;
    }
  }
  return result;
}

bool CDiskObject::RemoveFolder(const std::wstring& directory) {
  ResetErrorText();
  if (!RemoveFiles(directory)) return false;
  if (const platform::FileResult removed = platform::RemoveEmptyDirectory(directory); !removed) {
    SetSystemErrorText(removed, directory);
    return false;
  }
  return true;
}

bool CDiskObject::RemoveFiles(const std::wstring& directory) {
  std::vector<Entry> entries;
  if (!ListEntries(directory, true, entries)) return false;
  for (const Entry& entry : entries) {
    const std::wstring path = directory + entry.name;
    // A link goes itself; what it points at, maybe outside the tree, stays.
    const platform::FileResult removed =
        entry.isLink ? platform::RemoveLink(path) : platform::RemoveFile(path);
    if (!removed) {
      SetSystemErrorText(removed, path);
      return false;
    }
  }
  return true;
}
