#include "disk_object/path_rules.h"

#include <algorithm>

#include "platform_native.h"

namespace launcher {
namespace {

using platform::kSep;

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool HasDrive(const std::wstring& path) {
  return platform::kHasDriveLetters && path.size() >= 2 && IsAsciiLetter(path[0]) &&
         path[1] == L':';
}

}  // namespace

void UseNativeSeparators(std::wstring& path) {
  std::replace(path.begin(), path.end(), platform::kOtherSep, kSep);
}

bool IsNetworkPath(const std::wstring& path) {
  return platform::kHasDriveLetters && path.size() >= 2 && path[0] == kSep && path[1] == kSep;
}

PathParts SplitPath(const std::wstring& path) {
  PathParts parts;
  std::size_t nameStart = 0;
  if (HasDrive(path)) {
    parts.drive = path.substr(0, 2);
    nameStart = 2;
  }
  const std::size_t lastSep = path.rfind(kSep);
  if (lastSep != std::wstring::npos && lastSep >= nameStart) {
    parts.directory = path.substr(nameStart, lastSep + 1 - nameStart);
    nameStart = lastSep + 1;
  }
  const std::wstring last = path.substr(nameStart);
  const std::size_t dot = last.rfind(L'.');
  parts.name = last.substr(0, dot);
  if (dot != std::wstring::npos) parts.extension = last.substr(dot);
  return parts;
}

std::wstring ParentGroup() { return std::wstring(L"..") + kSep; }

std::wstring JoinToDirectory(const std::wstring& dir, const std::wstring& rest) {
  if (!dir.empty() && dir.back() == kSep) return dir + rest;
  return dir + kSep + rest;
}

RootAndParts SplitRoot(const std::wstring& path) {
  RootAndParts split;
  std::size_t rest = 0;
  if (IsNetworkPath(path)) {
    rest = std::min(path.find(kSep, 2), path.size());  // the share is the first part
    split.root = path.substr(0, rest);
  } else if (HasDrive(path)) {
    split.root = path.substr(0, 2);
    rest = 2;
  }
  while (rest < path.size()) {
    const std::size_t end = std::min(path.find(kSep, rest), path.size());
    if (end > rest) split.parts.push_back(path.substr(rest, end - rest));
    rest = end + 1;
  }
  return split;
}

std::wstring ParentDirectory(const std::wstring& dir) {
  RootAndParts split = SplitRoot(dir);
  const std::size_t kept = IsNetworkPath(dir) ? 1 : 0;  // a network path keeps its share
  if (split.parts.size() > kept) split.parts.pop_back();
  std::wstring parent = split.root;
  for (const std::wstring& part : split.parts) parent += kSep + part;
  return split.parts.empty() ? parent + kSep : parent;
}

}  // namespace launcher
