#include "agent/run/run_sequence.h"

#include <string>

#include "agent/filters/filter_combiner.h"
#include "agent/run/console_mode.h"
#include "agent/run/hand_over.h"
#include "agent/run/layout.h"
#include "agent/run/messages.h"
#include "agent/run/upgrade_session.h"
#include "agent/run/version_check.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

// How long the extractor may take; a package it has not unpacked by then is dropped.
constexpr std::uint32_t kExtractorWaitMs = 120000;

enum Message {
  kUpToDate = 1,
  kBanner1,
  kBanner2,
  kNotFetched,
  kTreeWaitOver,
  kUnpacking,
  kGoodbye,
  kFetching
};

// A partner installation updates itself only when a person asks for it.
bool PartnerGateClosed() {
  return !ConsoleMode &&
         platform::ReadProfileInt(L"Settings", L"IsZezaZa", 0, GetPartnerIniPath()) != 0;
}

void StartPostUpgradeProgram() {
  const std::wstring program = GetUpdateDir() + L"Kivo9PostUpgrade.exe";
  if (PathExists(program)) platform::StartProgram(program, L"", L"", /*hidden=*/true);
}

// The merge and the post-upgrade program act on the tree only once the extractor has
// ended and the whole tree is in the update directory.
void AwaitUnpackedTree() {
  PrintMessage(kUnpacking);
  const std::wstring marker = GetUpdateDir() + platform::NativePath(L"Resource\\version.ini");
  if (CompleteHandOver(kExtractorWaitMs) && PathExists(marker)) {
    if (ConsoleMode) CombineFilterLists();
    StartPostUpgradeProgram();
  }
  PrintMessage(kTreeWaitOver);
}

}  // namespace

void PrintBanner() {
  PrintMessage(kBanner1);
  PrintMessage(kBanner2);
}

int FinishRun() {
  if (ConsoleMode) {
    PrintMessage(kGoodbye);
    platform::WaitForKey();
  }
  return 1;
}

int RunAgent(int argc) {
  platform::SetConsoleLocale();
  InitPaths();
  ConsoleMode = argc <= 1;
  PrintBanner();
  UpgradeSession session;
  // The version page is asked for in every mode, before the partner gate: the request is
  // how the vendor counts installations.
  const VersionCheck check = CheckVersion(ConsoleMode);
  if (PartnerGateClosed()) return FinishRun();
  switch (check.result) {
    case VersionCheckResult::UpToDate:
      PrintVersionMessage(GetInstalledVersion());
      break;
    case VersionCheckResult::CheckFailed:
      PrintMessage(kNotFetched);
      break;
    case VersionCheckResult::UpdateAvailable:
      PrintMessage(kFetching);
      if (session.DownloadAndUnpack(check.release ? &*check.release : nullptr) == 0) {
        PrintMessage(kNotFetched);
      } else {
        AwaitUnpackedTree();
      }
      break;
  }
  return FinishRun();
}
