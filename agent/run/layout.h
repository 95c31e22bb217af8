// Where the agent finds and puts everything: its directories, the paths derived from them,
// the settings it reads, and the small file-system operations the run shares. Directory
// strings end in the native separator; a path is a directory string with a name appended.
#pragma once

#include <string>

// The agent's directories: its executable's directory, and "User" and "Resource" in it.
// Empty until InitPaths runs; unchanged afterwards.
extern std::wstring AgentDir;
extern std::wstring UserDir;
extern std::wstring ResourceDir;

// Sets AgentDir from GetAgentDir, then UserDir and ResourceDir from it.
void InitPaths();
// The same with agentDir (ending in a separator, or "") in place of the executable's
// directory. Forgets the stored paths, so what follows behaves like a new run.
void InitPaths(const std::wstring& agentDir);

// The directory of the running executable, trailing separator included; "" when it cannot
// be determined.
std::wstring GetAgentDir();

// Resource/version.ini, the installed version file.
std::wstring GetVersionIniPath();
// Resource/Partner.ini, the partner settings.
std::wstring GetPartnerIniPath();
// update/, where a package is unpacked (the update directory), with a trailing separator.
std::wstring GetUpdateDir();
// User/UserConfig.ini; stored at the first call.
std::wstring GetUserConfigPath();
// "LngFile" of section "Settings" in the user settings, "English.ini" when missing (at most
// 255 characters).
std::wstring GetLanguageFileName();
// Language/ followed by GetLanguageFileName(); stored at the first call, so the setting is
// read once per run.
std::wstring GetLanguageFilePath();
// "update" of section "Version" in the installed version file, untrimmed, at most 259
// characters; "" when missing.
std::wstring GetInstalledVersion();

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
