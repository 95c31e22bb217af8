#include "agent/package/package_plan.h"

#include "platform/text.h"

OrWhy<PackagePlan> PlanPackages(const PackageRequest& asker, const PackageNames& names,
                                const SignedFields* release) {
  PackagePlan plan;
  if (release != nullptr) {
    plan.releaseNumber = platform::FromUtf8(release->version);
    if (!IsReleaseNumber(plan.releaseNumber)) {
      return Outcome::No("the signed version is no release number");
    }
  }
  for (const std::wstring& name : names) {
    PackageRequest request = asker;
    request.name = name;
    request.version = plan.releaseNumber;
    if (!plan.Signed()) request.fromBuild.clear();
    // A delta from the installed build is the smallest, the solid package next; the zip
    // package of the same tree is there when they fail.
    if (const SignedDelta* delta = release ? release->Delta(name, request.fromBuild) : nullptr) {
      request.form = PackageForm::kDelta;
      plan.packages.push_back(
          {name,
           {StatisticsRequestUrl(request),
            DownloadServerUrl(name, request.version, request.form, request.fromBuild)},
           ExpectedFile{delta->package.size, delta->package.sha256},
           {},
           request.form,
           delta->resultList});
    }
    if (const SignedPackage* solid = release ? release->SolidPackage(name) : nullptr) {
      request.form = PackageForm::kSolid;
      plan.packages.push_back(
          {name,
           {StatisticsRequestUrl(request), DownloadServerUrl(name, request.version, request.form)},
           ExpectedFile{solid->size, solid->sha256},
           {},
           request.form,
           std::nullopt});
    }
    request.form = PackageForm::kZip;
    PlannedPackage planned{
        name,         {StatisticsRequestUrl(request), DownloadServerUrl(name, request.version)},
        {},           {},
        request.form, std::nullopt};
    if (release != nullptr) {
      const SignedPackage* package = release->Package(name);
      if (package != nullptr) {
        planned.expected = ExpectedFile{package->size, package->sha256};
      } else {
        planned.offered = Outcome::No("the signed release has none");
      }
    }
    plan.packages.push_back(std::move(planned));
  }
  return plan;
}

std::vector<std::wstring> FileUrlsOf(const PackagePlan& plan) {
  std::vector<std::wstring> urls;
  for (const PlannedPackage& package : plan.packages) urls.push_back(package.FileUrl());
  return urls;
}
