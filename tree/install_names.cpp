#include "tree/install_names.h"

#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "platform_native.h"

namespace tree {
namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c; }

bool SameIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsAcceptablePart(std::wstring_view part) {
  if (part.empty() || part == L"." || part == L"..") return false;
  for (const wchar_t c : part) {
    if (static_cast<std::uint32_t>(c) < 0x20 ||
        std::wstring_view(platform::kReservedPathChars).find(c) != std::wstring_view::npos) {
      return false;
    }
  }
  return true;
}

// The user's folder and every name the agent and the launcher work under, with whether a
// scratch file (replaced durably) or an aside tree is formed from it.
struct WorkingName {
  const wchar_t* name;
  enum { kAlone, kWithScratch, kWithAside } formed;
};
constexpr WorkingName kWorkingNames[] = {
    {kUserDirName, WorkingName::kAlone},
    {kUpdateDirName, WorkingName::kWithAside},
    {kStagingDirName, WorkingName::kAlone},
    {kJournalName, WorkingName::kWithScratch},
    {kBackupDirName, WorkingName::kAlone},
    {kDiscardDirName, WorkingName::kAlone},
    {kCopyScratchName, WorkingName::kAlone},
    {kReportName, WorkingName::kWithScratch},
    {kReleaseRecordName, WorkingName::kWithScratch},
    {kInstallIdName, WorkingName::kWithScratch},
    {kCheckDayName, WorkingName::kWithScratch},
    {kKeptPackageName, WorkingName::kAlone},
    {kKeptPackageRecordName, WorkingName::kWithScratch},
    {kAgentLockName, WorkingName::kAlone},
    {kRefusedDeltasName, WorkingName::kWithScratch},
};

// Every reserved name, formed once: the rule is asked for each path of a file list.
const std::vector<std::wstring>& ReservedTopNames() {
  static const std::vector<std::wstring> names = [] {
    std::vector<std::wstring> all;
    for (const WorkingName& working : kWorkingNames) {
      all.emplace_back(working.name);
      if (working.formed == WorkingName::kWithScratch) {
        all.push_back(platform::ScratchPathOf(working.name));
      }
      if (working.formed == WorkingName::kWithAside) all.push_back(AsidePathOf(working.name));
    }
    return all;
  }();
  return names;
}

bool IsReservedTopName(std::wstring_view part) {
  for (const std::wstring& name : ReservedTopNames()) {
    if (SameIgnoringAsciiCase(part, name)) return true;
  }
  return false;
}

}  // namespace

std::wstring AsidePathOf(std::wstring_view path) { return std::wstring(path) + L".old"; }

std::wstring MarkerPath() {
  return std::wstring(kResourceDirName) + platform::kSep + kVersionFileName;
}

bool IsUpdatablePath(std::wstring_view relative) {
  std::size_t start = 0;
  for (bool first = true;; first = false) {
    std::size_t end = start;
    while (end < relative.size() && !IsSeparator(relative[end])) ++end;
    const std::wstring_view part = relative.substr(start, end - start);
    if (!IsAcceptablePart(part) || (first && IsReservedTopName(part))) return false;
    if (end == relative.size()) return true;
    start = end + 1;
  }
}

std::optional<std::wstring> ReservedPathIn(const TreeListing& listing) {
  for (const std::wstring& dir : listing.directories) {
    if (!IsUpdatablePath(dir)) return dir;
  }
  for (const TreeFile& file : listing.files) {
    if (!IsUpdatablePath(file.path)) return file.path;
  }
  return std::nullopt;
}

bool HasNoLinkOnTheWay(const std::wstring& root, std::wstring_view relative) {
  for (std::size_t i = 0; i < relative.size(); ++i) {
    if (!IsSeparator(relative[i])) continue;
    const std::wstring dir = root + platform::NativePath(relative.substr(0, i));
    const platform::PathKind kind = platform::QueryPath(dir).kind;
    if (kind == platform::PathKind::Missing) return true;  // nothing deeper exists either
    if (kind != platform::PathKind::Directory) return false;
  }
  return true;
}

}  // namespace tree
