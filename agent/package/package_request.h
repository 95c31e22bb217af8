// The package request: the statistics server answers with the package and records the
// machine's identifier and use counter on the way; the download server is the fallback.
#pragma once

#include <string>
#include <string_view>

// Which of a release's packages of a name: the zip package, the same tree as a solid package,
// or a delta package that makes the tree from the installed build's.
enum class PackageForm { kZip, kSolid, kDelta };

struct PackageRequest {
  std::wstring name;        // package name, lower case, possibly empty
  std::wstring hardwareId;  // twelve hexadecimal digits, or ""
  int usedTimes = 0;        // "UsedTimes" of the user configuration
  // The release a signed page names (decimal digits), whose own package is asked for; ""
  // for the package the servers serve under the name itself (an agent without keys).
  std::wstring version;
  // With a version: the build the installation runs (decimal), sent as "&from=" so that the
  // server counts updates from each build to each build; "" sends nothing.
  std::wstring fromBuild;
  // With a version: the release's solid package, or its delta package from fromBuild, instead
  // of its zip package.
  PackageForm form = PackageForm::kZip;
};

// text with every "//" replaced by "/" in one left-to-right pass ("///" gives "//").
std::wstring CollapseDoubleSlashes(std::wstring_view text);

// "http://" + statistics host + "/tg/kivopatch/" + name + "/?hardid=" + id + "&times=" +
// counter, with double slashes collapsed before the scheme is added; with a version,
// "&v=" + version follows, "&from=" + fromBuild when there is one, and "&form=solid" for
// the solid package or "&form=delta" for the delta package.
std::wstring StatisticsRequestUrl(const PackageRequest& request);

// "http://" + download host + "/d/u" + name + ".jpg"; with a version, "/d/" + version +
// "/u" + name + ".jpg", the release's own file, which the server never rewrites, or with
// solid its solid package, "/u" + name + ".tzst", or with delta its delta package from
// release start, "/u" + name + "." + start + ".delta".
std::wstring DownloadServerUrl(std::wstring_view name, std::wstring_view version = L"",
                               PackageForm form = PackageForm::kZip, std::wstring_view start = L"");

// Whether version can name a release's own package: one to ten decimal digits.
bool IsReleaseNumber(std::wstring_view version);
