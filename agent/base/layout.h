// Where the agent finds and puts everything: its directories, the paths derived from them,
// the settings it reads, and the small file-system operations the run shares. Directory
// strings end in the native separator; a path is a directory string with a name appended.
#pragma once

#include <optional>
#include <string>

// The directory of the running executable, trailing separator included; "" when it cannot
// be determined.
std::wstring GetAgentDir();

// The agent's places, derived once from its own directory at the start of a run and passed
// to the code that needs them. Every path of the run is formed here.
class AgentLayout {
 public:
  // agentDir ends in a separator, or is "" when the agent's directory is unknown; every path
  // is then relative to the current directory.
  explicit AgentLayout(const std::wstring& agentDir);
  // The layout of the running agent, from GetAgentDir().
  static AgentLayout OfRunningAgent();

  // The agent's directory, and "User" and "Resource" in it.
  const std::wstring& AgentDir() const { return agentDir_; }
  const std::wstring& UserDir() const { return userDir_; }
  const std::wstring& ResourceDir() const { return resourceDir_; }

  // Resource/version.ini, the installed version file.
  const std::wstring& GetVersionIniPath() const { return versionIniPath_; }
  // Resource/Partner.ini, the partner settings.
  const std::wstring& GetPartnerIniPath() const { return partnerIniPath_; }
  // Resource/UnPack.exe, the extractor of the installation.
  const std::wstring& GetExtractorPath() const { return extractorPath_; }
  // update/, where a package is unpacked (the update directory), with a trailing separator.
  const std::wstring& GetUpdateDir() const { return updateDir_; }
  // update/Resource/, where an unpacked package keeps its settings and filter lists.
  const std::wstring& GetUpdateResourceDir() const { return updateResourceDir_; }
  // update/Resource/version.ini: the unpacked tree is present once it exists.
  const std::wstring& GetUnpackedMarkerPath() const { return unpackedMarkerPath_; }
  // update/Kivo9PostUpgrade.exe, the post-upgrade program of an unpacked package.
  const std::wstring& GetPostUpgradeProgramPath() const { return postUpgradeProgramPath_; }
  // User/UserConfig.ini, the user settings.
  const std::wstring& GetUserConfigPath() const { return userConfigPath_; }
  // release.seen, what a signed agent remembers of the pages it believed.
  const std::wstring& GetReleaseRecordPath() const { return releaseRecordPath_; }
  // install.id, the random id a staged release draws its cohort from.
  const std::wstring& GetInstallIdPath() const { return installIdPath_; }
  // check.day, the day of the last version check.
  const std::wstring& GetCheckDayPath() const { return checkDayPath_; }
  // package.part and package.part.info: a signed package's bytes kept from a cut download,
  // and what they belong to.
  const std::wstring& GetKeptPackagePath() const { return keptPackagePath_; }
  const std::wstring& GetKeptPackageRecordPath() const { return keptPackageRecordPath_; }
  // agent.lock, held by the one run of a signed agent that may write the installation.
  const std::wstring& GetAgentLockPath() const { return agentLockPath_; }
  // delta.refused, the delta packages that made no tree here (refused_deltas.h).
  const std::wstring& GetRefusedDeltasPath() const { return refusedDeltasPath_; }

  // "LngFile" of section "Settings" in the user settings, "English.ini" when missing or when
  // it holds a separator or a colon (at most 255 characters); read afresh at every call.
  std::wstring GetLanguageFileName() const;
  // Language/ followed by GetLanguageFileName(), read at the first call and kept, so the
  // setting is read once per run (and not at all by a run that prints nothing).
  const std::wstring& GetLanguageFilePath() const;
  // "update" of section "Version" in the installed version file, untrimmed, at most 259
  // characters; "" when missing.
  std::wstring GetInstalledVersion() const;

 private:
  std::wstring agentDir_;
  std::wstring userDir_;
  std::wstring resourceDir_;
  std::wstring versionIniPath_;
  std::wstring partnerIniPath_;
  std::wstring extractorPath_;
  std::wstring updateDir_;
  std::wstring updateResourceDir_;
  std::wstring unpackedMarkerPath_;
  std::wstring postUpgradeProgramPath_;
  std::wstring userConfigPath_;
  std::wstring releaseRecordPath_;
  std::wstring installIdPath_;
  std::wstring checkDayPath_;
  std::wstring keptPackagePath_;
  std::wstring keptPackageRecordPath_;
  std::wstring agentLockPath_;
  std::wstring refusedDeltasPath_;
  mutable std::optional<std::wstring> languageFilePath_;
};

// 1 when path names an existing file or directory (one trailing separator ignored), else 0;
// 0 for "" and for any path holding '*' or '?'.
int PathExists(const std::wstring& path);

// Creates every missing directory along path, from the top down. Stops silently at the first
// level that cannot be created; never tries a root or a drive ("D:"), nor a level longer than
// 259 characters. The caller tests for the directory when it needs it.
void CreateDirectoryChain(const std::wstring& path);

// The system temporary directory with a trailing separator; "" when there is none.
std::wstring GetTempDir();
// A new empty file "~GF<hex>.tmp" in GetTempDir(), created here; "" on failure.
std::wstring MakeTempFileName();
