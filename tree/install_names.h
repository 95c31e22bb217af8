// The names the installation gives its own places in the data directory, and the one rule
// for which relative paths an update may name there. The file list, the install's journal,
// the install and the agent's hand-over all ask this rule, so they cannot drift apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tree/update_tree.h"

namespace tree {

// Below the program folder: the data directory, and in it the programs' own files.
inline constexpr wchar_t kDataDirName[] = L"Kivo9Data";
inline constexpr wchar_t kResourceDirName[] = L"Resource";
inline constexpr wchar_t kVersionFileName[] = L"version.ini";  // in Resource/: the marker
inline constexpr wchar_t kExtractorName[] = L"UnPack.exe";     // in Resource/
inline constexpr wchar_t kBrowserName[] = L"Kivo9.exe";
inline constexpr wchar_t kPostUpgradeName[] = L"Kivo9PostUpgrade.exe";
inline constexpr wchar_t kUserDirName[] = L"User";
inline constexpr wchar_t kUpdateDirName[] = L"update";
inline constexpr wchar_t kStagingDirName[] = L"update.partial";
inline constexpr wchar_t kJournalName[] = L"install.journal";
inline constexpr wchar_t kBackupDirName[] = L"install.old";
inline constexpr wchar_t kDiscardDirName[] = L"install.trash";
inline constexpr wchar_t kCopyScratchName[] = L"install.partial";
inline constexpr wchar_t kReportName[] = L"install.log";
inline constexpr wchar_t kReleaseRecordName[] = L"release.seen";
inline constexpr wchar_t kInstallIdName[] = L"install.id";
inline constexpr wchar_t kCheckDayName[] = L"check.day";
inline constexpr wchar_t kKeptPackageName[] = L"package.part";
inline constexpr wchar_t kKeptPackageRecordName[] = L"package.part.info";
inline constexpr wchar_t kAgentLockName[] = L"agent.lock";
inline constexpr wchar_t kRefusedDeltasName[] = L"delta.refused";

// Where a whole tree goes aside while its successor is renamed into its place ("update" gives
// "update.old"); reserved with the names above.
std::wstring AsidePathOf(std::wstring_view path);

// The marker of an unpacked tree, relative, native separators.
std::wstring MarkerPath();

// Whether relative names a place inside the data directory that an update may change. Its
// parts are split on both separators on every platform, so a name from the other platform
// cannot hide a step up. False for an empty path or part, ".", "..", a part holding a
// character the platform reserves in paths (the drive and stream colon on Windows) or a
// control character, and for a first part that is the user's folder, one of the working
// names above, or the scratch (platform::ScratchPathOf) or aside name of one that has one
// (compared without regard to ASCII case, as Windows compares them).
bool IsUpdatablePath(std::wstring_view relative);

// The first directory, then file, of listing that IsUpdatablePath refuses; nullopt when
// there is none.
std::optional<std::wstring> ReservedPathIn(const TreeListing& listing);

// Whether every directory on the way from root (ending with a separator) to root + relative
// is a real directory or missing: false when one is a link, a file or anything else, so that
// nothing reached through it lies outside root. The last part itself is not examined.
bool HasNoLinkOnTheWay(const std::wstring& root, std::wstring_view relative);

}  // namespace tree
