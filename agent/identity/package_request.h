// The package request: the statistics server answers with the package and records the
// machine's identifier and use counter on the way; the download server is the fallback.
#pragma once

#include <string>
#include <string_view>

struct PackageRequest {
  std::wstring name;        // package name, lower case, possibly empty
  std::wstring hardwareId;  // twelve hexadecimal digits, or ""
  int usedTimes = 0;        // "UsedTimes" of the user configuration
};

// text with every "//" replaced by "/" in one left-to-right pass ("///" gives "//").
std::wstring CollapseDoubleSlashes(std::wstring_view text);

// "http://" + statistics host + "/tg/kivopatch/" + name + "/?hardid=" + id + "&times=" +
// counter, with double slashes collapsed before the scheme is added.
std::wstring StatisticsRequestUrl(const PackageRequest& request);

// "http://" + download host + "/d/u" + name + ".jpg".
std::wstring DownloadServerUrl(std::wstring_view name);

// The request for name with the machine's identifier (GetHardwareId) and the "UsedTimes"
// of section "Settings" in the user configuration (0 when missing), both read afresh.
PackageRequest MakePackageRequest(const std::wstring& name);

// Fetches the package into targetPath from the statistics server, else from the download
// server. Returns 1 when either stored data in the file, 0 when neither did (the file then
// stays as the last request left it).
int DownloadPackageFor(const PackageRequest& request, const std::wstring& targetPath);
