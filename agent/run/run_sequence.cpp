#include "agent/run/run_sequence.h"

#include <string>

#include "agent/base/console_mode.h"
#include "agent/run/combine_filter_lists.h"
#include "agent/run/messages.h"
#include "agent/run/upgrade_session.h"
#include "agent/run/version_check.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/profile.h"

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
bool PartnerGateClosed(const AgentLayout& layout) {
  return !ConsoleMode &&
         platform::ReadProfileInt(L"Settings", L"IsZezaZa", 0, layout.GetPartnerIniPath()) != 0;
}

void StartPostUpgradeProgram(const AgentLayout& layout) {
  const std::wstring& program = layout.GetPostUpgradeProgramPath();
  if (PathExists(program)) platform::StartProgram(program, L"", L"", /*hidden=*/true);
}

// The merge and the post-upgrade program act on the tree only once the extractor has
// ended and the whole tree is in the update directory.
void AwaitUnpackedTree(const AgentLayout& layout, UpgradeSession& session) {
  PrintMessage(layout, kUnpacking);
  if (session.CompleteHandOver(kExtractorWaitMs) && PathExists(layout.GetUnpackedMarkerPath())) {
    if (ConsoleMode) CombineFilterLists(layout);
    StartPostUpgradeProgram(layout);
  }
  PrintMessage(layout, kTreeWaitOver);
}

// The package step once the version check has found a newer build.
void FetchUpdate(const AgentLayout& layout, const VersionCheck& check) {
  PrintMessage(layout, kFetching);
  UpgradeSession session(layout);
  if (session.DownloadAndUnpack(check.release ? &*check.release : nullptr) == 0) {
    PrintMessage(layout, kNotFetched);
  } else {
    AwaitUnpackedTree(layout, session);
  }
}

}  // namespace

void PrintBanner(const AgentLayout& layout) {
  PrintMessage(layout, kBanner1);
  PrintMessage(layout, kBanner2);
}

void FinishRun(const AgentLayout& layout) {
  if (!ConsoleMode) return;
  PrintMessage(layout, kGoodbye);
  platform::WaitForKey();
}

void RunAgent(int argc) {
  platform::SetConsoleLocale();
  const AgentLayout layout = AgentLayout::OfRunningAgent();
  ConsoleMode = argc <= 1;
  PrintBanner(layout);
  // The version page is asked for in every mode, before the partner gate: the request is
  // how the vendor counts installations.
  const VersionCheck check = CheckVersion(layout, ConsoleMode);
  if (!PartnerGateClosed(layout)) {
    switch (check.result) {
      case VersionCheckResult::UpToDate:
        PrintVersionMessage(layout, layout.GetInstalledVersion());
        break;
      case VersionCheckResult::CheckFailed:
        PrintMessage(layout, kNotFetched);
        break;
      case VersionCheckResult::UpdateAvailable:
        FetchUpdate(layout, check);
        break;
    }
  }
  FinishRun(layout);
}
