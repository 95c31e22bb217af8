#include "tree/update_tree.h"

#include <algorithm>

#include "platform/dir_path.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform_native.h"

namespace tree {
namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

bool IsAcceptableName(const std::wstring& name) {
  for (const wchar_t c : name) {
    if (static_cast<std::uint32_t>(c) < 0x20 || c == platform::kOtherSep ||
        c == kReplacementCharacter ||
        std::wstring_view(platform::kReservedPathChars).find(c) != std::wstring_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

OrWhy<TreeListing> ListTree(const std::wstring& root) {
  TreeListing listing;
  // An explicit stack instead of recursion: a deep tree must not exhaust ours.
  std::vector<std::wstring> pending{L""};
  while (!pending.empty()) {
    const std::wstring relativeDir = pending.back();
    pending.pop_back();
    const std::wstring dir = root + relativeDir;
    platform::DirectorySearch search(dir);
    if (!search.IsOpen()) {
      return Outcome::No("cannot read " + platform::ToUtf8(dir));
    }
    platform::DirectoryEntry entry;
    while (search.Next(entry)) {
      if (entry.name == L"." || entry.name == L"..") continue;
      const std::wstring relative = relativeDir + entry.name;
      if (!IsAcceptableName(entry.name)) {
        return Outcome::No("unacceptable name " + platform::ToUtf8(root + relative));
      }
      const platform::PathInfo info = platform::QueryPath(root + relative);
      if (info.kind == platform::PathKind::Directory) {
        listing.directories.push_back(relative);
        pending.push_back(relative + platform::kSep);
      } else if (info.kind == platform::PathKind::File) {
        listing.files.push_back({relative, info.size});
      } else {
        return Outcome::No("not a regular file or directory: " + platform::ToUtf8(root + relative));
      }
    }
  }
  // Parents come before their children once sorted, since a parent's path is a prefix.
  std::sort(listing.directories.begin(), listing.directories.end());
  std::sort(listing.files.begin(), listing.files.end(),
            [](const TreeFile& a, const TreeFile& b) { return a.path < b.path; });
  return listing;
}

bool RemoveTree(const std::wstring& dir) {
  const std::wstring path = platform::WithoutSeparator(dir);
  const platform::PathKind kind = platform::QueryPath(path).kind;
  if (kind == platform::PathKind::Missing) return true;
  if (kind != platform::PathKind::Directory) return platform::RemoveFile(path).ok();
  bool ok = true;
  {
    platform::DirectorySearch search(dir);
    platform::DirectoryEntry entry;
    while (search.Next(entry)) {
      if (entry.name == L"." || entry.name == L"..") continue;
      if (entry.isDirectory) {
        ok = RemoveTree(dir + entry.name + platform::kSep) && ok;
      } else if (entry.isLink) {
        ok = platform::RemoveLink(dir + entry.name) && ok;
      } else {
        ok = platform::RemoveFile(dir + entry.name) && ok;
      }
    }
  }
  return platform::RemoveEmptyDirectory(path) && ok;
}

void RemoveEmptyDirectories(const platform::DirPath& dir) {
  {
    platform::DirectorySearch search(dir.Slashed());
    platform::DirectoryEntry entry;
    while (search.Next(entry)) {
      if (entry.isDirectory && entry.name != L"." && entry.name != L"..") {
        RemoveEmptyDirectories(dir.Dir(entry.name));
      }
    }
  }
  platform::RemoveEmptyDirectory(dir.Path());
}

std::vector<std::wstring> ListRegularFiles(const platform::DirPath& dir) {
  std::vector<std::wstring> files;
  // An explicit stack instead of recursion, as ListTree keeps one.
  std::vector<std::wstring> pending{L""};
  while (!pending.empty()) {
    const std::wstring relativeDir = pending.back();
    pending.pop_back();
    platform::DirectorySearch search(dir.Dir(relativeDir).Slashed());
    platform::DirectoryEntry entry;
    while (search.Next(entry)) {
      if (entry.name == L"." || entry.name == L".." || entry.isLink) continue;
      const std::wstring relative = relativeDir + entry.name;
      if (entry.isDirectory) {
        pending.push_back(relative + platform::kSep);
      } else if (platform::QueryPath(dir.File(relative)).kind == platform::PathKind::File) {
        files.push_back(relative);
      }
    }
  }
  return files;
}

bool MakeParents(const platform::DirPath& base, const std::wstring& relative,
                 std::set<std::wstring>& made) {
  const std::wstring parent = platform::ParentOf(relative);
  if (parent.empty() || made.count(parent) != 0) return true;
  if (!MakeParents(base, platform::WithoutSeparator(parent), made)) return false;
  const std::wstring dir = base.Dir(parent).Path();
  if (!platform::MakeDirectory(dir) &&
      platform::QueryPath(dir).kind != platform::PathKind::Directory) {
    return false;
  }
  made.insert(parent);
  return true;
}

std::string ListPath(const std::wstring& relativePath) {
  std::wstring withSlashes = relativePath;
  std::replace(withSlashes.begin(), withSlashes.end(), platform::kSep, L'/');
  return platform::ToUtf8(withSlashes);
}

}  // namespace tree
