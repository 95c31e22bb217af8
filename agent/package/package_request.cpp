#include "agent/package/package_request.h"

#include "build_config.h"
#include "platform/numbers.h"

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
  std::wstring version = request.version.empty() ? L"" : L"&v=" + request.version;
  if (!version.empty() && !request.fromBuild.empty()) version += L"&from=" + request.fromBuild;
  if (!version.empty() && request.form == PackageForm::kSolid) version += L"&form=solid";
  if (!version.empty() && request.form == PackageForm::kDelta) version += L"&form=delta";
  return L"http://" + CollapseDoubleSlashes(address) + version;
}

std::wstring DownloadServerUrl(std::wstring_view name, std::wstring_view version, PackageForm form,
                               std::wstring_view start) {
  const std::wstring folder = version.empty() ? L"/d/" : L"/d/" + std::wstring(version) + L"/";
  std::wstring kind = L".jpg";
  if (!version.empty() && form == PackageForm::kSolid) kind = L".tzst";
  if (!version.empty() && form == PackageForm::kDelta)
    kind = L"." + std::wstring(start) + L".delta";
  return std::wstring(L"http://") + buildconfig::kDownloadHost + folder + L"u" +
         std::wstring(name) + kind;
}

bool IsReleaseNumber(std::wstring_view version) {
  return !version.empty() && version.size() <= 10 && platform::ParseDecimal(version).has_value();
}
