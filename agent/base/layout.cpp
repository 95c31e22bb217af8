#include "agent/base/layout.h"

#include <optional>

#include "platform/dir_path.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform_native.h"
#include "tree/install_names.h"

namespace {

// Longest path the chain creates, as with a buffer of 260 characters.
constexpr std::size_t kMaxChainPath = 259;
// A prefix this long or shorter is a drive ("D:") where there are drives, else the root ("").
constexpr std::size_t kRootLength = platform::kHasDriveLetters ? 2 : 0;

// Creates one level unless it exists or is a root; false when the creation failed.
bool CreateLevel(const std::wstring& path) {
  if (path.size() <= kRootLength || PathExists(path)) return true;
  return path.size() <= kMaxChainPath && platform::MakeDirectory(path);
}

}  // namespace

std::wstring GetAgentDir() { return platform::ParentOf(platform::OwnExecutablePath()); }

AgentLayout::AgentLayout(const std::wstring& agentDir)
    : agentDir_(agentDir),
      userDir_(agentDir + tree::kUserDirName + platform::kSep),
      resourceDir_(agentDir + tree::kResourceDirName + platform::kSep),
      versionIniPath_(resourceDir_ + tree::kVersionFileName),
      partnerIniPath_(resourceDir_ + L"Partner.ini"),
      extractorPath_(resourceDir_ + tree::kExtractorName),
      updateDir_(agentDir + tree::kUpdateDirName + platform::kSep),
      updateResourceDir_(updateDir_ + tree::kResourceDirName + platform::kSep),
      unpackedMarkerPath_(updateDir_ + tree::MarkerPath()),
      postUpgradeProgramPath_(updateDir_ + tree::kPostUpgradeName),
      userConfigPath_(userDir_ + L"UserConfig.ini"),
      releaseRecordPath_(agentDir + tree::kReleaseRecordName),
      installIdPath_(agentDir + tree::kInstallIdName),
      checkDayPath_(agentDir + tree::kCheckDayName),
      keptPackagePath_(agentDir + tree::kKeptPackageName),
      keptPackageRecordPath_(agentDir + tree::kKeptPackageRecordName),
      agentLockPath_(agentDir + tree::kAgentLockName),
      refusedDeltasPath_(agentDir + tree::kRefusedDeltasName) {}

AgentLayout AgentLayout::OfRunningAgent() { return AgentLayout(GetAgentDir()); }

std::wstring AgentLayout::GetLanguageFileName() const {
  const std::wstring kDefault = L"English.ini";
  std::wstring name =
      platform::ReadProfileString(L"Settings", L"LngFile", kDefault, 256, userConfigPath_);
  // The setting names a file of Language/ and nothing else: a path (or a drive, or a stream
  // after a colon) would reach any file the user may read.
  return name.find_first_of(L"\\/:") == std::wstring::npos ? name : kDefault;
}

const std::wstring& AgentLayout::GetLanguageFilePath() const {
  if (!languageFilePath_) {
    languageFilePath_ = agentDir_ + platform::NativePath(L"Language\\") + GetLanguageFileName();
  }
  return *languageFilePath_;
}

std::wstring AgentLayout::GetInstalledVersion() const {
  return platform::ReadProfileString(L"Version", L"update", L"", 260, versionIniPath_);
}

int PathExists(const std::wstring& path) {
  if (path.empty()) return 0;
  return platform::PathQuery(platform::WithoutSeparator(path)) ? 1 : 0;
}

void CreateDirectoryChain(const std::wstring& path) {
  if (path.empty() || PathExists(path)) return;
  std::size_t separator = path.find(platform::kSep);
  while (separator != std::wstring::npos) {
    if (!CreateLevel(path.substr(0, separator))) return;
    if (separator + 1 == path.size()) return;
    separator = path.find(platform::kSep, separator + 1);
  }
  CreateLevel(path);
}

std::wstring GetTempDir() { return platform::TempDirectory(); }

std::wstring MakeTempFileName() { return platform::CreateTempFileName(GetTempDir(), L"~GF"); }
