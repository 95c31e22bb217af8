// The package request as a run makes it: for the machine and the user of this installation.
#include "agent/identity/hardware_id.h"
#include "agent/identity/package_request.h"
#include "agent/run/upgrade_session.h"
#include "agent/run/version_check.h"
#include "platform/profile.h"

PackageRequest MakePackageRequest(const AgentLayout& layout, const std::wstring& name) {
  return PackageRequest{
      name, GetHardwareId(),
      platform::ReadProfileInt(L"Settings", L"UsedTimes", 0, layout.GetUserConfigPath()), L"", L""};
}

int UpgradeSession::DownloadPackage(const std::wstring& name, const std::wstring& targetPath,
                                    const PackageTerms& terms) {
  PackageRequest request = MakePackageRequest(run_.layout, name);
  request.version = terms.version;
  if (!request.version.empty()) {
    request.fromBuild = std::to_wstring(VersionValue(run_.layout.GetInstalledVersion()));
  }
  return DownloadPackageFor(request, targetPath, terms) ? 1 : 0;
}
