// The version check against the primary and fallback version servers.
#include "agent/run/version_check.h"

#include "agent/http/http_downloader.h"
#include "agent/run/layout.h"
#include "build_config.h"

std::wstring VersionPageUrl(bool fallbackServer, bool testPages) {
  if (fallbackServer) {
    return std::wstring(L"http://") + buildconfig::kVersionFallbackHost +
           (testPages ? L"/d/testver.htm" : L"/d/ver.htm");
  }
  return std::wstring(L"http://") + buildconfig::kVersionHost +
         (testPages ? L"/kivover/testver.htm" : L"/kivover/ver.htm");
}

VersionCheckResult CheckVersion(bool testPages) {
  return CheckVersionOf(GetInstalledVersion(), testPages);
}

VersionCheckResult CheckVersionOf(const std::wstring& installedVersion, bool testPages) {
  // One downloader serves both pages.
  CHttpDownloader downloader;
  std::wstring serverVersion =
      PageVersion(downloader.DownloadToString(VersionPageUrl(false, testPages)));
  if (serverVersion.empty()) {
    serverVersion = PageVersion(downloader.DownloadToString(VersionPageUrl(true, testPages)));
  }
  return CompareVersions(installedVersion, serverVersion);
}
