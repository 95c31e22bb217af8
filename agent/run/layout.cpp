#include "agent/run/layout.h"

#include <optional>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform_native.h"

std::wstring AgentDir;
std::wstring UserDir;
std::wstring ResourceDir;

namespace {

// Longest path the chain creates, as with a buffer of 260 characters.
constexpr std::size_t kMaxChainPath = 259;
// A prefix this long or shorter is a drive ("D:") where there are drives, else the root ("").
constexpr std::size_t kRootLength = platform::kHasDriveLetters ? 2 : 0;

std::optional<std::wstring> StoredUserConfigPath;
std::optional<std::wstring> StoredLanguageFilePath;

// Creates one level unless it exists or is a root; false when the creation failed.
bool CreateLevel(const std::wstring& path) {
  if (path.size() <= kRootLength || PathExists(path)) return true;
  return path.size() <= kMaxChainPath && platform::MakeDirectory(path);
}

}  // namespace

void InitPaths() { InitPaths(GetAgentDir()); }

void InitPaths(const std::wstring& agentDir) {
  AgentDir = agentDir;
  UserDir = AgentDir + platform::NativePath(L"User\\");
  ResourceDir = AgentDir + platform::NativePath(L"Resource\\");
  StoredUserConfigPath.reset();
  StoredLanguageFilePath.reset();
}

std::wstring GetAgentDir() {
  const std::wstring exe = platform::OwnExecutablePath();
  const std::size_t last = exe.rfind(platform::kSep);
  return last == std::wstring::npos ? std::wstring() : exe.substr(0, last + 1);
}

std::wstring GetVersionIniPath() {
  return AgentDir + platform::NativePath(L"Resource\\version.ini");
}

std::wstring GetPartnerIniPath() { return ResourceDir + L"Partner.ini"; }

std::wstring GetUpdateDir() { return AgentDir + platform::NativePath(L"update\\"); }

std::wstring GetUserConfigPath() {
  if (!StoredUserConfigPath) StoredUserConfigPath = UserDir + L"UserConfig.ini";
  return *StoredUserConfigPath;
}

std::wstring GetLanguageFileName() {
  return platform::ReadProfileString(L"Settings", L"LngFile", L"English.ini", 256,
                                     GetUserConfigPath());
}

std::wstring GetLanguageFilePath() {
  if (!StoredLanguageFilePath) {
    StoredLanguageFilePath = AgentDir + platform::NativePath(L"Language\\") + GetLanguageFileName();
  }
  return *StoredLanguageFilePath;
}

std::wstring GetInstalledVersion() {
  return platform::ReadProfileString(L"Version", L"update", L"", 260, GetVersionIniPath());
}

int PathExists(const std::wstring& path) {
  if (path.empty()) return 0;
  std::wstring queried = path;
  // A lone separator is the root itself, not a name with a separator after it.
  if (queried.size() > 1 && queried.back() == platform::kSep) queried.pop_back();
  return platform::PathQuery(queried) ? 1 : 0;
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
