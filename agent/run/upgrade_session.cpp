#include "agent/run/upgrade_session.h"

#include <cwctype>

#include "agent/package/package_fetch.h"
#include "agent/run/hand_over.h"
#include "agent/run/terminal_progress.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/text.h"

namespace {

std::wstring LowerCase(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
  return text;
}

}  // namespace

std::wstring GetLangCountryName() {
  return LowerCase(platform::UserLanguageName() + platform::UserCountryName());
}

std::wstring GetLangName() { return LowerCase(platform::UserLanguageName()); }

std::optional<std::wstring> ExtractorParameters(const std::wstring& packagePath,
                                                const std::wstring& updateDir) {
  if (packagePath.find(L'"') != std::wstring::npos) return std::nullopt;
  if (updateDir.find(L'"') != std::wstring::npos) return std::nullopt;
  return L"x -o+ -y \"" + packagePath + L"\" \"" + updateDir + L"\"";
}

PackageStep UpgradeSession::DownloadAndUnpack(const SignedFields* release) {
  return DownloadAndUnpackFor({GetLangCountryName(), GetLangName(), L""}, release);
}

namespace {

// Where a package goes before it is unpacked: a folder of its own, the hand-over that
// removes it, and the package file's path in it with the extractor's parameters.
struct PackagePlace {
  std::unique_ptr<PendingHandOver> handOver;
  std::wstring packagePath;
  std::wstring parameters;
};

OrWhy<PackagePlace> PreparePackagePlace(const AgentLayout& layout) {
  // Without its own directory the agent would start whatever extractor the current directory
  // holds; without a temporary file the package would land in the current directory.
  if (layout.AgentDir().empty()) return Outcome::No("the agent's own directory is not known");
  // In a folder that only this user may write, no one can take the package's name first,
  // point it elsewhere, or swap the checked file before the extractor reads it.
  const std::wstring folder = platform::MakePrivateDirectory(GetTempDir(), L"kivo9-package-");
  if (folder.empty()) return Outcome::No("no folder of its own for the package");
  // The extractor writes beside the update directory; the hand-over renames the whole tree.
  auto handOver = std::make_unique<PendingHandOver>(folder, layout);
  const std::wstring tempName = platform::CreateTempFileName(folder, L"~GF");
  if (tempName.empty()) return Outcome::No("no name for the package in its folder");
  const std::wstring packagePath = tempName + L".rar";
  // Checked before any request: a package that cannot be handed over is not worth fetching.
  const auto parameters = ExtractorParameters(packagePath, handOver->StagingDir());
  if (!parameters) return Outcome::No("a path holds a double quote");
  return PackagePlace{std::move(handOver), packagePath, *parameters};
}

}  // namespace

namespace {

PackageStep NoStep(Outcome why) {
  PackageStep none;
  none.started = std::move(why);
  return none;
}

}  // namespace

PackageStep UpgradeSession::DownloadAndUnpackFor(const PackageNames& names,
                                                 const SignedFields* release) {
  const AgentLayout& layout = run_.layout;
  auto prepared = PreparePackagePlace(layout);
  if (!prepared) return NoStep(prepared.outcome());
  PackagePlace& packagePlace = *prepared;
  const auto plan = PlanPackages(MakePackageRequest(layout, L""), names, release);
  if (!plan) return NoStep(plan.outcome());
  // A signed package is immutable under its number: what a cut left of it goes on. Bytes of
  // any other file (an earlier release's) are of no more use.
  KeptPackage kept(layout.GetKeptPackagePath(), layout.GetKeptPackageRecordPath());
  if (plan->Signed()) kept.KeepOnlyFor(FileUrlsOf(*plan));
  const auto progress = run_.consoleMode ? MakeTerminalProgress() : nullptr;
  const FetchPlace place{packagePlace.packagePath, plan->Signed() ? &kept : nullptr, progress.get(),
                         run_.refused};
  for (const PlannedPackage& package : plan->packages) {
    if (!package.offered) {
      const std::wstring which =
          package.name.empty() ? L"the generic package" : L"package \"" + package.name + L"\"";
      Report(run_.refused, which, package.offered.why());
      continue;
    }
    if (FetchPackage(package, place)) {
      // A start that fails shows in the hand-over, which then finds no extractor to wait for.
      packagePlace.handOver->Start(layout.GetExtractorPath(), packagePlace.parameters);
      return {std::move(packagePlace.handOver), {}, package.form, package.resultList};
    }
    // A package cut short is there to be had: its bytes stay kept and the next run asks for
    // the rest. Another name's download would replace them.
    if (package.expected && kept.ResumeFor(package.FileUrl(), *package.expected)) {
      return NoStep(Outcome::No("the package was cut short; the next run goes on with it"));
    }
  }
  return NoStep(Outcome::No("no name yielded a package"));
}
