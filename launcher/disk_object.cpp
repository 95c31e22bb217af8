#include "launcher/disk_object.h"

#include <algorithm>

#include "launcher/path_rules.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform_native.h"

namespace {

using platform::kSep;

constexpr wchar_t kParameterError[] = L"CDiskObject internal error - check call parameters";
// The pattern of a directory search, as the error texts name it.
constexpr wchar_t kSearchPattern[] = L"*.*";

std::wstring Trimmed(const std::wstring& text) {
  const wchar_t* const kWhite = L" \t\r\n";
  const std::size_t first = text.find_first_not_of(kWhite);
  if (first == std::wstring::npos) return L"";
  return text.substr(first, text.find_last_not_of(kWhite) - first + 1);
}

template <typename T, typename Key>
void InsertSorted(std::vector<T>& list, T item, Key key) {
  const auto before = std::upper_bound(list.begin(), list.end(), item, [&](const T& a, const T& b) {
    return platform::CompareUtf16(key(a), key(b)) < 0;
  });
  list.insert(before, std::move(item));
}

// Puts the current directory back when it goes out of scope.
class CurrentDirectoryKeeper {
 public:
  CurrentDirectoryKeeper() : saved_(platform::CurrentDirectory()) {}
  ~CurrentDirectoryKeeper() {
    if (!saved_.empty()) platform::ChangeDirectory(saved_);
  }
  CurrentDirectoryKeeper(const CurrentDirectoryKeeper&) = delete;
  CurrentDirectoryKeeper& operator=(const CurrentDirectoryKeeper&) = delete;

 private:
  std::wstring saved_;
};

}  // namespace

// ---- Error text ----

void CDiskObject::ResetErrorText() { errorText_.clear(); }

void CDiskObject::SetSystemErrorText(std::uint32_t code, const std::wstring& detail) {
  errorText_ = Trimmed(platform::SystemErrorMessage(code));
  if (!detail.empty()) errorText_ += L" " + detail;
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
  SetSystemErrorText(platform::LastErrorCode(), directory + kSearchPattern);
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

// Each leading "..<sep>" moves one directory up from the current one; the system resolves
// the parents, and the current directory is put back afterwards.
std::wstring CDiskObject::ClimbParentGroups(std::wstring path) {
  const std::wstring group = launcher::ParentGroup();
  CurrentDirectoryKeeper keeper;
  std::wstring rest = path;
  while (rest.rfind(group, 0) == 0) {
    platform::ChangeDirectory(L"..");
    rest.erase(0, group.size());
  }
  const std::wstring current = platform::CurrentDirectory();
  if (current.empty()) return path;
  return launcher::JoinToDirectory(current, rest);
}

// ---- Listing ----

int CDiskObject::FolderExists(std::wstring directory) {
  if (!StartWithPath(directory)) return 0;
  if (!NormalizeFolderPath(directory)) return 0;
  CurrentDirectoryKeeper keeper;
  return platform::ChangeDirectory(directory) ? 1 : 0;
}

// The entries of directory that are not real directories, sorted; links only when asked
// for, since a copy must not follow them and a deletion must remove them.
int CDiskObject::ListFolderEntries(std::wstring directory, bool withLinks,
                                   std::vector<Entry>& entries) {
  ResetErrorText();
  if (!NormalizeFolderPath(directory)) return 0;
  if (!FolderExists(directory)) return 1;
  platform::DirectorySearch search(directory);
  if (!SearchStarted(search, directory)) return 0;
  platform::DirectoryEntry found;
  while (search.Next(found)) {
    if (found.isDirectory || (found.isLink && !withLinks)) continue;
    InsertSorted(entries, Entry{found.name, found.isLink},
                 [](const Entry& e) -> const std::wstring& { return e.name; });
  }
  return 1;
}

int CDiskObject::ListFolderFiles(std::wstring directory, StringList& list) {
  std::vector<Entry> entries;
  if (!ListFolderEntries(std::move(directory), false, entries)) return 0;
  for (Entry& entry : entries) {
    InsertSorted(list, std::move(entry.name),
                 [](const std::wstring& name) -> const std::wstring& { return name; });
  }
  return 1;
}

int CDiskObject::ListSubfolderTree(std::wstring directory, StringList& list) {
  ResetErrorText();
  std::wstring normalized = directory;
  if (!NormalizeFolderPath(normalized)) return 0;
  return CollectSubfolders(std::move(directory), list);
}

int CDiskObject::CollectSubfolders(std::wstring directory, StringList& list) {
  ResetErrorText();
  if (!NormalizeFolderPath(directory)) return 0;
  platform::DirectorySearch search(directory);
  if (!SearchStarted(search, directory)) return 0;
  platform::DirectoryEntry found;
  while (search.Next(found)) {
    // Links are not entered: the tree ends at its own directories.
    if (!found.isDirectory || found.name == L"." || found.name == L"..") continue;
    list.push_back(directory + found.name + kSep);
    if (!CollectSubfolders(directory + found.name, list)) return 0;
  }
  return 1;
}

// ---- Creating ----

int CDiskObject::MakeFolderPath(std::wstring directory) {
  if (!StartWithPath(directory)) return 0;
  if (!NormalizeFolderPath(directory)) return 0;
  CurrentDirectoryKeeper keeper;
  const launcher::RootAndParts split = launcher::SplitRoot(directory);
  std::wstring partial = split.root;
  for (const std::wstring& part : split.parts) {
    partial += kSep + part;
    platform::MakeDirectory(partial);  // an existing directory is no error
  }
  if (!platform::ChangeDirectory(directory)) {
    SetSystemErrorText(platform::LastErrorCode(), directory);
    return 0;
  }
  return 1;
}

// ---- Copying ----

int CDiskObject::CopyFolderTree(std::wstring source, std::wstring target, bool stopOnError) {
  ResetErrorText();
  if (!NormalizeFolderPath(source) || !NormalizeFolderPath(target)) return 0;
  StringList directories{source};
  if (!ListSubfolderTree(source, directories)) return 0;
  int result = 1;
  for (const std::wstring& directory : directories) {
    result = CopyFolderFiles(directory, target + directory.substr(source.size()), stopOnError);
    if (!result && stopOnError) break;
  }
  return result;
}

int CDiskObject::CopyFolderFiles(std::wstring source, std::wstring target, bool stopOnError) {
  ResetErrorText();
  if (!NormalizeFolderPath(source) || !NormalizeFolderPath(target)) return 0;
  StringList names;
  if (!ListFolderFiles(source, names)) return 0;
  if (!MakeFolderPath(target)) return 0;
  int result = 1;
  for (const std::wstring& name : names) {
    result = platform::CopyFileOverwrite(source + name, target + name) ? 1 : 0;
    if (!result && stopOnError) {
      SetSystemErrorText(platform::LastErrorCode(), source + name + L" -> " + target + name);
      return 0;
    }
  }
  return result;
}

// ---- Deleting ----

int CDiskObject::DeleteFolderTree(std::wstring directory) {
  if (!StartWithPath(directory)) return 0;
  if (!NormalizeFolderPath(directory)) return 0;
  StringList subfolders;
  if (!ListSubfolderTree(directory, subfolders)) return 0;
  // Backwards through the depth-first list: every directory after everything inside it.
  for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) {
    if (!DeleteFolder(*it)) return 0;
  }
  return DeleteFolder(directory);
}

int CDiskObject::DeleteFolder(std::wstring directory) {
  if (!StartWithPath(directory)) return 0;
  if (!NormalizeFolderPath(directory)) return 0;
  if (!DeleteFolderFiles(directory)) return 0;
  if (!platform::RemoveEmptyDirectory(directory)) {
    SetSystemErrorText(platform::LastErrorCode(), directory);
    return 0;
  }
  return 1;
}

int CDiskObject::DeleteFolderFiles(std::wstring directory) {
  ResetErrorText();
  if (!NormalizeFolderPath(directory)) return 0;
  std::vector<Entry> entries;
  if (!ListFolderEntries(directory, true, entries)) return 0;
  for (const Entry& entry : entries) {
    const std::wstring path = directory + entry.name;
    // A link goes itself; what it points at, maybe outside the tree, stays.
    const bool removed = entry.isLink ? platform::RemoveLink(path) : platform::RemoveFile(path);
    if (!removed) {
      SetSystemErrorText(platform::LastErrorCode(), path);
      return 0;
    }
  }
  return 1;
}

int CDiskObject::DeleteSingleFile(std::wstring path) {
  if (!StartWithPath(path)) return 0;
  if (!NormalizeFilePath(path)) return 0;
  if (!platform::RemoveFile(path)) {
    SetSystemErrorText(platform::LastErrorCode(), path);
    return 0;
  }
  return 1;
}
