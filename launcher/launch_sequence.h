// The launcher's start: install a pending update, then start the browser with the command
// line passed on (or, with the wait switch, after a pause and without parameters).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dir_path.h"

namespace launcher {

// The places the launcher works with, all derived from its own executable path.
struct LauncherPaths {
  std::wstring programDir;       // up to and including the last separator; "" when unknown
  platform::DirPath dataDir;     // programDir + "Kivo9Data"
  platform::DirPath updateDir;   // dataDir + "update"
  std::wstring browser;          // dataDir + "Kivo9.exe"
  std::wstring postUpgradeCopy;  // dataDir + "Kivo9PostUpgrade.exe"
};
LauncherPaths DeriveLauncherPaths(const std::wstring& ownExecutablePath);

// The command line without the program name and the blanks (codes 32 and below) after it.
std::wstring CommandLineTail(std::wstring_view commandLine);

// The first argument after the program name that is not empty and begins with neither '-'
// nor '/'; "" when there is none. arguments holds the program name first.
std::wstring FirstPlainArgument(const std::vector<std::wstring>& arguments);

// The number at the start of argument as the C runtime's atol reads it (white space, sign,
// digits) from its first 19 bytes in the system code page; 0 without digits. Saturates
// instead of overflowing.
std::int64_t LeadingNumber(const std::wstring& argument);

// The longest pause that fits in 32 bits without meaning "forever" on Windows.
inline constexpr std::uint32_t kLongestWaitMs = 0xFFFFFFFEu;

// units x 1000 ms; 0 for units of 0 or less; kLongestWaitMs when the product does not fit.
std::uint32_t WaitMilliseconds(std::int64_t units);

struct BrowserStart {
  std::uint32_t waitMs = 0;
  std::wstring parameters;
};

// What the browser is started with, from the launcher's command line and its arguments
// (program name first).
BrowserStart ChooseBrowserStart(std::wstring_view commandLine,
                                const std::vector<std::wstring>& arguments);

// Finishes or undoes an interrupted install, then installs the pending update of
// paths.updateDir when one is present. Silent: a failure leaves the installation as it was
// and the update directory for the next start to try again.
void InstallPendingUpdate(const LauncherPaths& paths);

// The whole start sequence. arguments holds the program name first. When the launcher's own
// path cannot be determined, nothing is installed or started.
void RunLauncher(const std::vector<std::wstring>& arguments);

}  // namespace launcher
