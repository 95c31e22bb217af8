// The package request as a run makes it: for the machine and the user of this installation.
#include "agent/identity/hardware_id.h"
#include "agent/identity/package_request.h"
#include "agent/run/upgrade_session.h"
#include "platform/profile.h"

PackageRequest MakePackageRequest(const AgentLayout& layout, const std::wstring& name) {
  return PackageRequest{
      name, GetHardwareId(),
      platform::ReadProfileInt(L"Settings", L"UsedTimes", 0, layout.GetUserConfigPath()), L""};
}

int UpgradeSession::DownloadPackage(const std::wstring& name, const std::wstring& targetPath,
                                    const PackageTerms& terms) {
  PackageRequest request = MakePackageRequest(run_.layout, name);
  request.version = terms.version;
  return DownloadPackageFor(request, targetPath, terms) ? 1 : 0;
}
