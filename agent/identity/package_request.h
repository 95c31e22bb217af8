// The package request: the statistics server answers with the package and records the
// machine's identifier and use counter on the way; the download server is the fallback.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "agent/base/refusal_report.h"
#include "agent/http/checked_body_sink.h"
#include "agent/http/transfer_limits.h"
#include "agent/identity/kept_package.h"

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
};

// text with every "//" replaced by "/" in one left-to-right pass ("///" gives "//").
std::wstring CollapseDoubleSlashes(std::wstring_view text);

// "http://" + statistics host + "/tg/kivopatch/" + name + "/?hardid=" + id + "&times=" +
// counter, with double slashes collapsed before the scheme is added; with a version,
// "&v=" + version follows, and "&from=" + fromBuild when there is one.
std::wstring StatisticsRequestUrl(const PackageRequest& request);

// "http://" + download host + "/d/u" + name + ".jpg"; with a version, "/d/" + version +
// "/u" + name + ".jpg", the release's own file, which the server never rewrites.
std::wstring DownloadServerUrl(std::wstring_view name, std::wstring_view version = L"");

// Whether version can name a release's own package: one to ten decimal digits.
bool IsReleaseNumber(std::wstring_view version);

// What a package download must respect besides the answer itself.
struct PackageTerms {
  const ExpectedFile* expected = nullptr;  // signed size and hash; nullptr: any body
  DownloadProgress* progress = nullptr;    // told as the package arrives; may be nullptr
  RefusalReport refused;                   // told why a download was refused, by its URL
  std::wstring version;                    // the signed release's number; "": none
  // Where a signed package's bytes are kept from run to run; nullptr: nowhere.
  KeptPackage* kept = nullptr;
};

// The most bytes a package of unknown size may take in directory: the build's limit, and
// no more than leaves kPackageFreeSpaceReserve free on its volume.
std::uint64_t PackageSizeLimit(const std::wstring& directory);
inline constexpr std::uint64_t kPackageFreeSpaceReserve = 64ull << 20;

// Fetches the package into targetPath from the statistics server, else from the download
// server. True when either stored a whole body that met the terms, false when neither did;
// a failed or refused download removes what it wrote, so no partial package stays behind.
//
// A signed release's package with a place to keep it (terms.kept, terms.version and
// terms.expected) is fetched into the kept bytes instead (FetchIntoKept), within
// PackageDeadline of its size for both servers together, and moved to targetPath once whole;
// a cut leaves its bytes kept for the next run. Where nothing can be kept, it is fetched as
// above, within the same deadline.
bool DownloadPackageFor(const PackageRequest& request, const std::wstring& targetPath,
                        const PackageTerms& terms = {});
