// What a run will fetch, decided before the first request: the packages in the order they
// are tried, each with the URLs that serve it and, for a signed release, the one file that
// counts. Nothing here reads a file or makes a request.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "agent/http/checked_body_sink.h"
#include "agent/package/package_request.h"
#include "agent/trust/signed_block.h"
#include "platform/outcome.h"

// The package names in the order they are tried: language and country, language, generic.
using PackageNames = std::array<std::wstring, 3>;

// One package a run may fetch.
struct PlannedPackage {
  std::wstring name;
  // Asked in this order: the statistics server, then the download server, whose URL names
  // the file itself.
  std::array<std::wstring, 2> urls;
  // A signed release's size and hash, the only body that counts; nullopt: any body.
  std::optional<ExpectedFile> expected;
  // Why the name is not to be fetched (a signed release that lists no such package); the
  // run says so when it reaches the name, so that a name it never reaches is not named.
  Outcome offered;
  PackageForm form = PackageForm::kZip;
  // A delta package's SHA-256 of the file list of the tree it makes; nullopt for the others,
  // whose own hash covers their tree.
  std::optional<platform::Sha256Digest> resultList;

  // The URL of the file itself, which kept bytes are recorded under.
  const std::wstring& FileUrl() const { return urls[1]; }
};

struct PackagePlan {
  std::vector<PlannedPackage> packages;  // in the order tried
  // A signed release's number (decimal digits), asked for so that no other build's package
  // comes, whatever the servers serve under the name itself; "" without one.
  std::wstring releaseNumber;

  bool Signed() const { return !releaseNumber.empty(); }
};

// The plan for asker (its name left aside) and names. Without a release, every name, each
// for whatever the servers serve under it, asker's fromBuild left out. With a signed
// release, each name asked for by the release's number with "&from=" asker's fromBuild and
// held to its signed size and hash; a name the release does not list is not offered, and a
// name it has a solid package of is tried as that first, then as the zip package; before
// both, a delta package from asker's fromBuild when the release has one. Fails
// when the release's version is no release number.
OrWhy<PackagePlan> PlanPackages(const PackageRequest& asker, const PackageNames& names,
                                const SignedFields* release);

// The plan's packages' file URLs: the kept bytes of any other file are of no more use.
std::vector<std::wstring> FileUrlsOf(const PackagePlan& plan);
