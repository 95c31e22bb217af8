// The package request as a run makes it: for the machine and the user of this installation.
#include "agent/identity/hardware_id.h"
#include "agent/package/package_fetch.h"
#include "agent/run/upgrade_session.h"
#include "agent/run/version_value.h"
#include "platform/profile.h"

PackageRequest MakePackageRequest(const AgentLayout& layout, const std::wstring& name) {
  return PackageRequest{
      name, GetHardwareId(),
      platform::ReadProfileInt(L"Settings", L"UsedTimes", 0, layout.GetUserConfigPath()), L"",
      std::to_wstring(VersionValue(layout.GetInstalledVersion()))};
}

int UpgradeSession::DownloadPackage(const std::wstring& name, const std::wstring& targetPath) {
  const auto plan = PlanPackages(MakePackageRequest(run_.layout, name), {name, L"", L""}, nullptr);
  return plan && FetchPackage(plan->packages.front(), {targetPath, nullptr, nullptr, run_.refused})
             ? 1
             : 0;
}
