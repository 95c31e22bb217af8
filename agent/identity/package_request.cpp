#include "agent/identity/package_request.h"

#include "agent/http/http_downloader.h"
#include "build_config.h"

std::wstring CollapseDoubleSlashes(std::wstring_view text) {
  std::wstring result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    result += text[i];
    if (text[i] == L'/' && i + 1 < text.size() && text[i + 1] == L'/') ++i;
  }
  return result;
}

std::wstring StatisticsRequestUrl(const PackageRequest& request) {
  const std::wstring address = std::wstring(buildconfig::kStatsHost) + L"/tg/kivopatch/" +
                               request.name + L"/?hardid=" + request.hardwareId + L"&times=" +
                               std::to_wstring(request.usedTimes);
  // The scheme is added afterwards, so that its two slashes stay.
  return L"http://" + CollapseDoubleSlashes(address);
}

std::wstring DownloadServerUrl(std::wstring_view name) {
  return std::wstring(L"http://") + buildconfig::kDownloadHost + L"/d/u" + std::wstring(name) +
         L".jpg";
}

int DownloadPackageFor(const PackageRequest& request, const std::wstring& targetPath) {
  {
    CHttpDownloader statistics;
    if (statistics.DownloadToFile(StatisticsRequestUrl(request), targetPath) != 0) return 1;
  }
  CHttpDownloader download;
  return download.DownloadToFile(DownloadServerUrl(request.name), targetPath) != 0 ? 1 : 0;
}
