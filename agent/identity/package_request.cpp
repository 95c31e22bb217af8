#include "agent/identity/package_request.h"

#include <algorithm>

#include "agent/http/block_file_sink.h"
#include "agent/http/http_downloader.h"
#include "build_config.h"
#include "platform/dir_path.h"
#include "platform/disk_space.h"
#include "platform/files.h"
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
  return L"http://" + CollapseDoubleSlashes(address) + version;
}

std::wstring DownloadServerUrl(std::wstring_view name, std::wstring_view version) {
  const std::wstring folder = version.empty() ? L"/d/" : L"/d/" + std::wstring(version) + L"/";
  return std::wstring(L"http://") + buildconfig::kDownloadHost + folder + L"u" +
         std::wstring(name) + L".jpg";
}

bool IsReleaseNumber(std::wstring_view version) {
  return !version.empty() && version.size() <= 10 && platform::ParseDecimal(version).has_value();
}

std::uint64_t PackageSizeLimit(const std::wstring& directory) {
  const auto free = platform::FreeDiskBytes(directory);
  const std::uint64_t room = !free                              ? UINT64_MAX
                             : *free > kPackageFreeSpaceReserve ? *free - kPackageFreeSpaceReserve
                                                                : 0;
  return std::min<std::uint64_t>(buildconfig::kPackageLimitBytes, room);
}

namespace {

using Clock = TransferWatch::Clock;

// The limits of one more fetch of a package that must be whole by endsBy, if by any time.
TransferLimits LimitsLeft(const PackageTerms& terms, std::optional<Clock::time_point> endsBy) {
  TransferLimits limits = TransferLimits::File(terms.progress);
  if (endsBy) {
    limits.deadline = std::max(Clock::duration::zero(), *endsBy - Clock::now());
    limits.what = "the package";
  }
  return limits;
}

// The whole kept file becomes the package. Across volumes it is copied: the file the
// extractor reads must lie in the package's own folder.
bool MoveKeptFile(KeptPackage& kept, const std::wstring& targetPath) {
  const bool moved = platform::MovePath(kept.BytesPath(), targetPath).ok() ||
                     platform::CopyFileFlushed(kept.BytesPath(), targetPath).ok();
  kept.Forget();
  return moved;
}

}  // namespace

bool DownloadPackageFor(const PackageRequest& request, const std::wstring& targetPath,
                        const PackageTerms& terms) {
  const std::wstring urls[] = {StatisticsRequestUrl(request),
                               DownloadServerUrl(request.name, request.version)};
  const auto endsBy = terms.expected != nullptr && !request.version.empty()
                          ? std::optional(Clock::now() + PackageDeadline(terms.expected->size))
                          : std::nullopt;
  if (endsBy && terms.kept != nullptr) {
    const std::uint64_t limit = PackageSizeLimit(platform::ParentOf(terms.kept->BytesPath()));
    bool unwritable = false;
    for (const std::wstring& url : urls) {
      const KeptFetch fetched = FetchIntoKept(url, urls[1], *terms.expected, limit, *terms.kept,
                                              LimitsLeft(terms, endsBy), terms.refused);
      if (fetched == KeptFetch::Stored) return MoveKeptFile(*terms.kept, targetPath);
      unwritable = fetched == KeptFetch::Unwritable;
      if (unwritable) break;
    }
    if (!unwritable) return false;
  }
  const std::uint64_t limit = PackageSizeLimit(platform::ParentOf(targetPath));
  for (const std::wstring& url : urls) {
    BlockFileSink file(targetPath);
    CheckedBodySink checked(
        file, limit, terms.expected != nullptr ? std::optional(*terms.expected) : std::nullopt);
    // A sink closes its file however the fetch ends: an open file cannot be removed everywhere.
    CHttpDownloader downloader;
    if (downloader.Fetch(url, checked, LimitsLeft(terms, endsBy)) != 0) return true;
    if (!downloader.Refusal().empty()) Report(terms.refused, url, downloader.Refusal());
    platform::RemoveFile(targetPath);
  }
  return false;
}
