#include "launcher/launch_sequence.h"

#include <limits>

#include "launcher/journaled_install.h"
#include "platform/dir_path.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform_native.h"
#include "tree/install_names.h"
#include "tree/update_tree.h"

namespace launcher {
namespace {

constexpr wchar_t kWaitSwitch[] = L"-wkivo ";  // the trailing blank is part of it
constexpr std::uint32_t kWaitUnitMs = 1000;
constexpr std::size_t kNumberBufferBytes = 20;  // the terminating zero included
constexpr std::size_t kReportMaxBytes = 4096;

bool IsControlOrBlank(wchar_t c) { return static_cast<std::uint32_t>(c) <= 32; }

// The launcher has no output: what its last start did with a pending update, and why it
// refused one, lies in a small file of the data directory for a person or a report to read.
// Replaced durably (platform::ReplaceFileDurably: a link there is replaced, never written
// through); the same text as before is not written again, so a refusal that repeats at every
// start costs a read, and a scratch file a kill left is removed then too.
void WriteInstallReport(const platform::DirPath& dataDir, std::string text) {
  if (text.size() > kReportMaxBytes) {
    std::size_t cut = kReportMaxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  const std::wstring path = dataDir.File(tree::kReportName);
  std::string before;
  if (platform::ReadWholeFile(path, kReportMaxBytes, before) && before == text) {
    platform::RemoveFile(platform::ScratchPathOf(path));
    return;
  }
  platform::ReplaceFileDurably(path, text);
}

}  // namespace

LauncherPaths DeriveLauncherPaths(const std::wstring& ownExecutablePath) {
  LauncherPaths paths;
  paths.programDir = platform::ParentOf(ownExecutablePath);
  paths.dataDir = platform::DirPath(paths.programDir + tree::kDataDirName);
  paths.updateDir = paths.dataDir.Dir(tree::kUpdateDirName);
  paths.browser = paths.dataDir.File(tree::kBrowserName);
  paths.postUpgradeCopy = paths.dataDir.File(tree::kPostUpgradeName);
  return paths;
}

std::wstring CommandLineTail(std::wstring_view commandLine) {
  std::size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    const std::size_t closing = commandLine.find(L'"', 1);
    i = closing == std::wstring_view::npos ? commandLine.size() : closing + 1;
  } else {
    while (i < commandLine.size() && !IsControlOrBlank(commandLine[i])) ++i;
  }
  while (i < commandLine.size() && IsControlOrBlank(commandLine[i])) ++i;
  return std::wstring(commandLine.substr(i));
}

std::wstring FirstPlainArgument(const std::vector<std::wstring>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (!argument.empty() && argument[0] != L'-' && argument[0] != L'/') return argument;
  }
  return L"";
}

std::int64_t LeadingNumber(const std::wstring& argument) {
  return platform::LeadingDecimal(argument, kNumberBufferBytes - 1);
}

std::uint32_t WaitMilliseconds(std::int64_t units) {
  if (units <= 0) return 0;
  if (units > static_cast<std::int64_t>(kLongestWaitMs / kWaitUnitMs)) return kLongestWaitMs;
  return static_cast<std::uint32_t>(units) * kWaitUnitMs;
}

BrowserStart ChooseBrowserStart(std::wstring_view commandLine,
                                const std::vector<std::wstring>& arguments) {
  BrowserStart start;
  const std::wstring firstPlain = FirstPlainArgument(arguments);
  if (firstPlain.empty()) return start;  // switches alone are not passed on
  const std::wstring tail = CommandLineTail(commandLine);
  if (tail.find(kWaitSwitch) != std::wstring::npos) {
    start.waitMs = WaitMilliseconds(LeadingNumber(firstPlain));
    return start;
  }
  start.parameters = tail;
  return start;
}

void InstallPendingUpdate(const LauncherPaths& paths) {
  const InstallPlaces places{paths.dataDir, paths.updateDir, paths.browser, paths.postUpgradeCopy};
  std::string report;
  // An install that was interrupted is finished or undone before anything else. A file named
  // like the update directory counts as pending too; it is never installed.
  if (!RecoverInterruptedInstall(places, report)) {
    report += "a step of the recovery failed: the next start tries again\n";
  } else if (platform::PathQuery(paths.updateDir.Path())) {
    InstallUpdateTree(places, report);
  }
  if (!report.empty()) WriteInstallReport(paths.dataDir, report);
}

void RunLauncher(const std::vector<std::wstring>& arguments) {
  const std::wstring ownPath = platform::OwnExecutablePath();
  // Without its own path every place would be taken relative to the current directory,
  // which is not the installation: nothing is installed or started then.
  if (ownPath.empty()) return;
  const LauncherPaths paths = DeriveLauncherPaths(ownPath);
  InstallPendingUpdate(paths);
  const BrowserStart start = ChooseBrowserStart(platform::ProcessCommandLine(), arguments);
  if (start.waitMs > 0) platform::SleepMilliseconds(start.waitMs);
  platform::StartProgram(paths.browser, start.parameters, paths.dataDir.Slashed(), false);
}

}  // namespace launcher
