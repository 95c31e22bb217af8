#include "agent/run/run_sequence.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/package/kept_package.h"
#include "agent/package/refused_deltas.h"
#include "agent/run/combine_filter_lists.h"
#include "agent/run/messages.h"
#include "agent/run/upgrade_session.h"
#include "agent/run/version_check.h"
#include "platform/console.h"
#include "platform/crypto.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/run_lock.h"
#include "platform/text.h"
#include "platform_native.h"

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
bool PartnerGateClosed(const RunInputs& run) {
  return !run.consoleMode &&
         platform::ReadProfileInt(L"Settings", L"IsZezaZa", 0, run.layout.GetPartnerIniPath()) != 0;
}

void StartPostUpgradeProgram(const UnpackedTree& tree) {
  const std::wstring& program = tree.postUpgradeProgramPath;
  if (PathExists(program)) platform::StartProgram(program, L"", L"", /*hidden=*/true);
}

// The merge and the post-upgrade program act on the tree only once the extractor has
// ended and the whole tree is in the update directory (tree: what the hand-over's Wait
// found). The update is said to be prepared only then; otherwise the person hears that it
// could not be fetched (why a tree was not taken has been said on standard error where it
// was refused), and the next run starts afresh.
void HandOverTree(const RunInputs& run, PendingHandOver& handOver, UnpackedTree tree,
                  const std::function<std::string()>& stillWanted) {
  if (tree) {
    const std::string unwanted = stillWanted ? stillWanted() : "";
    tree = unwanted.empty() ? handOver.Commit() : handOver.Drop(unwanted);
  }
  const bool handedOver = tree && PathExists(tree.markerPath);
  if (handedOver) {
    if (run.consoleMode) CombineFilterLists(run.layout.UserDir(), tree);
    StartPostUpgradeProgram(tree);
  }
  PrintMessage(run, handedOver ? kTreeWaitOver : kNotFetched);
}

// A signed release is asked for once more before its tree is handed over, so that a halt
// published while it downloaded still stops it. What that check refuses is said only when it
// stops the hand-over: the first check has said the rest. Unsigned agents hand over as they
// always did.
std::function<std::string()> StillOffered(const RunInputs& run, const VersionCheck& check) {
  if (!check.release) return {};
  return [&run, version = check.release->version]() -> std::string {
    RunInputs again = run;
    std::vector<std::pair<std::wstring, std::string>> refusals;
    again.refused = [&refusals](const std::wstring& what, const std::string& why) {
      refusals.emplace_back(what, why);
    };
    const VersionCheck now = CheckVersion(again);
    if (now.release && now.release->version == version) return "";
    for (const auto& [what, why] : refusals) Report(run.refused, what, why);
    return "release " + version + " is no longer offered to this installation";
  };
}

// The tree a delta package made is the release's only when its file list is the signed one:
// the hand-over has checked the tree against that list.
UnpackedTree CheckDeltaResult(PendingHandOver& handOver, UnpackedTree tree,
                              const platform::Sha256Digest& resultList) {
  if (!tree) return tree;
  const auto made =
      platform::Sha256OfFile(handOver.StagingDir() + platform::NativePath(L"Resource\\files.lst"));
  if (made && *made == resultList) return tree;
  return handOver.Drop("the delta package made another tree than the signed one");
}

// Leaves out of release the form of package that made no tree, so that the next plan takes
// the next form: a delta is followed by the solid package, that by the zip package. False when
// there is none left to take.
bool LeaveOut(const RunInputs& run, SignedFields& release, PackageForm failed) {
  if (failed == PackageForm::kDelta) {
    // Never fetched again by this installation: what failed here would fail again.
    RecordRefusedDeltas(run.layout.GetRefusedDeltasPath(), release);
    release.deltas.clear();
  }
  if (failed == PackageForm::kSolid) release.solidPackages.clear();
  return failed != PackageForm::kZip;
}

// The package step once the version check has found a newer build. Why no package came is
// dropped on purpose: message 4 says it for a person, and a refused download has said why.
void FetchUpdate(const RunInputs& run, const VersionCheck& check) {
  PrintMessage(run, kFetching);
  UpgradeSession session(run);
  std::optional<SignedFields> release = check.release;
  if (release) LeaveOutRefusedDeltas(run.layout.GetRefusedDeltasPath(), *release);
  for (;;) {
    PackageStep step = session.DownloadAndUnpack(release ? &*release : nullptr);
    if (step.Result() == 0) {
      PrintMessage(run, kNotFetched);
      return;
    }
    PrintMessage(run, kUnpacking);
    UnpackedTree tree = step.handOver->Wait(kExtractorWaitMs);
    if (step.resultList) tree = CheckDeltaResult(*step.handOver, std::move(tree), *step.resultList);
    // A signed delta or solid package that made no whole tree of the release (the extractor
    // refused it, an installed file changed, or what it wrote is not the signed file list's)
    // is followed by the next form of the same tree in the same run, each once.
    if (tree || !release || !LeaveOut(run, *release, step.form)) {
      HandOverTree(run, *step.handOver, std::move(tree), StillOffered(run, check));
      return;
    }
  }
}

}  // namespace

void PrintBanner(const RunInputs& run) {
  PrintMessage(run, kBanner1);
  PrintMessage(run, kBanner2);
}

void FinishRun(const RunInputs& run) {
  if (!run.consoleMode) return;
  PrintMessage(run, kGoodbye);
  platform::WaitForKey();
}

namespace {

void CheckAndUpdate(const RunInputs& run) {
  // The version page is asked for in every mode, before the partner gate: the request is
  // how the vendor counts installations.
  const VersionCheck check = CheckVersion(run);
  if (check.result == VersionCheckResult::UpToDate && run.keys.RequireSignatures()) {
    // Nothing newer to fetch: bytes kept from an earlier release are of no more use.
    KeptPackage(run.layout.GetKeptPackagePath(), run.layout.GetKeptPackageRecordPath()).Forget();
  }
  if (!PartnerGateClosed(run)) {
    switch (check.result) {
      case VersionCheckResult::UpToDate:
        PrintVersionMessage(run, run.layout.GetInstalledVersion());
        break;
      case VersionCheckResult::CheckFailed:
        PrintMessage(run, kNotFetched);
        break;
      case VersionCheckResult::UpdateAvailable:
        FetchUpdate(run, check);
        break;
    }
  }
}

// A signed agent keeps state between runs (the kept package bytes, the release record), so
// only one of its runs may write an installation at a time: a scheduled run and a person's
// check never share a file. A second run ends at once and changes nothing; the first goes
// on. Where the lock cannot be opened the folder cannot be written either, and nothing is
// kept there to share. Unsigned agents keep nothing between runs and take no lock.
void RunAgentOn(const RunInputs& run) {
  PrintBanner(run);
  {
    std::optional<platform::RunLock> lock;
    if (run.keys.RequireSignatures()) lock = platform::RunLock::Take(run.layout.GetAgentLockPath());
    if (lock && lock->State() == platform::RunLockState::HeldByOther) {
      Report(run.refused, L"this run", "another run of the agent is updating this installation");
      PrintMessage(run, kNotFetched);
    } else {
      CheckAndUpdate(run);
    }
  }  // the lock goes before a console run waits for its key
  FinishRun(run);
}

}  // namespace

void RunAgent(int argc) {
  platform::SetConsoleLocale();
  RunInputs run = RunInputs::OfRunningAgent(argc);
  // In every mode: standard error is for whoever runs the agent from a script.
  run.refused = [](const std::wstring& what, const std::string& why) {
    platform::WriteErr(L"Refused " + what + L": " + platform::FromUtf8(why) + L"\n");
  };
  RunAgentOn(run);
}
