// The package step of a run: download the update package for the user's language and have
// the extractor unpack it into the update directory.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "agent/base/layout.h"
#include "agent/package/package_plan.h"
#include "agent/run/hand_over.h"
#include "agent/run/run_inputs.h"
#include "agent/trust/signed_block.h"

// What the package step made: the extractor on the downloaded package and the places it
// writes, to be waited for (PendingHandOver::Complete); or why there is none.
struct PackageStep {
  std::unique_ptr<PendingHandOver> handOver;  // nullptr when no extractor was asked to start
  Outcome started;                            // why not, when handOver is nullptr
  PackageForm form = PackageForm::kZip;       // which of the release's packages it is
  // A delta package's hash of the file list its tree must have (PlannedPackage).
  std::optional<platform::Sha256Digest> resultList;

  // The step's answer as the run counts it: 1 when a package was downloaded and the
  // extractor asked to start, else 0.
  int Result() const { return handOver ? 1 : 0; }
};

// The package step of one run.
class UpgradeSession {
 public:
  explicit UpgradeSession(RunInputs run) : run_(std::move(run)) {}
  virtual ~UpgradeSession() = default;

  // Downloads the package under the first of the user's package names that yields one and
  // starts the extractor on it, hidden and without waiting. The package lies in a folder of
  // its own in the temporary directory, made for this download, that only this user may
  // write; the folder goes with the step's hand-over, once the extractor has ended, or at once
  // when no package came. No step (Result() 0) when no name yielded a package, or the
  // agent's own directory or the package folder is not to be had, or a path cannot be passed
  // to the extractor (then no directory is created and nothing is started). With a signed
  // release, a name is tried only when the release lists it, and only a package of its
  // signed size and hash counts. In console mode a terminal shows the download's progress.
  PackageStep DownloadAndUnpack(const SignedFields* release = nullptr);

  // DownloadAndUnpack with the given names.
  PackageStep DownloadAndUnpackFor(const PackageNames& names,
                                   const SignedFields* release = nullptr);

  // Fetches what the servers serve under name into targetPath, with the request of
  // MakePackageRequest. Returns 1 when a package was stored, else 0.
  int DownloadPackage(const std::wstring& name, const std::wstring& targetPath);

 private:
  RunInputs run_;
};

// The request for name with the machine's identifier (GetHardwareId) and the "UsedTimes"
// of section "Settings" in the layout's user settings (0 when missing), both read afresh,
// and the installed build as fromBuild.
PackageRequest MakePackageRequest(const AgentLayout& layout, const std::wstring& name);

// The user default language's ISO 639 name followed by its ISO 3166 country name, in lower
// case ("zhcn"); a part that is not known contributes "".
std::wstring GetLangCountryName();

// The user default language's ISO 639 name in lower case ("zh"); "" when not known.
std::wstring GetLangName();

// The extractor's parameters x -o+ -y "packagePath" "updateDir". nullopt when either path
// holds a double quote, which would end its quoted argument early.
std::optional<std::wstring> ExtractorParameters(const std::wstring& packagePath,
                                                const std::wstring& updateDir);
