// The version check against the primary and fallback version servers.
#include "agent/run/version_check.h"

#include <future>

#include "agent/http/http_downloader.h"
#include "agent/run/daily_check.h"
#include "agent/run/release_choice.h"
#include "agent/trust/page_trust.h"
#include "agent/trust/release_record.h"
#include "build_config.h"
#include "platform/console.h"
#include "platform/crypto.h"
#include "platform/text.h"

namespace {

// Whether the page of fields is no older than the installation's record says it has
// believed; if so, it is recorded. A record that cannot be written leaves the old one: the
// page still counts, only its seq is not remembered.
bool Remember(const std::wstring& recordPath, const SignedFields& fields, std::uint64_t floor,
              std::string& why) {
  ReleaseRecord record = ReadReleaseRecord(recordPath);
  const SeenPage page{fields.sequence, fields.signedBytesSha256};
  why = ReplayProblem(record, fields.channel, page, floor);
  if (!why.empty()) return false;
  const auto seen = record.find(fields.channel);
  if (seen == record.end() || seen->second.seq < page.seq) {
    record[fields.channel] = page;
    WriteReleaseRecord(recordPath, record);
  }
  return true;
}

// The release this installation takes from the believed page: staged, halted or the one
// before (release_choice.h).
void Choose(VersionCheck& check, const std::wstring& installedVersion, bool person,
            const std::wstring& installIdPath, const std::wstring& url,
            const RefusalReport& refused) {
  auto installId = [&installIdPath]() -> std::optional<InstallId> {
    if (installIdPath.empty()) return std::nullopt;
    return KeptInstallId(installIdPath);
  };
  ReleaseChoice choice =
      ChooseRelease(*check.release, VersionValue(installedVersion), person, installId);
  if (choice.halted) Report(refused, url, "release " + check.release->version + " is halted");
  check.release = std::move(choice.release);
  check.result = check.release
                     ? CompareVersions(installedVersion, platform::FromUtf8(check.release->version))
                     : VersionCheckResult::UpToDate;
}

}  // namespace

std::wstring VersionPageUrl(bool fallbackServer, bool testPages) {
  if (fallbackServer) {
    return std::wstring(L"http://") + buildconfig::kVersionFallbackHost +
           (testPages ? L"/d/testver.htm" : L"/d/ver.htm");
  }
  return std::wstring(L"http://") + buildconfig::kVersionHost +
         (testPages ? L"/kivover/testver.htm" : L"/kivover/ver.htm");
}

VersionCheck CheckVersion(const RunInputs& run) {
  const std::wstring installed = run.layout.GetInstalledVersion();
  std::wstring query;
  if (run.keys.RequireSignatures()) {
    query = L"?b=" + std::to_wstring(VersionValue(installed)) + L"&d=" +
            (FirstCheckToday(run.layout.GetCheckDayPath(), run.now) ? L"1" : L"0");
  }
  VersionCheck check = CheckVersionTrusting(installed, run.consoleMode, run.keys, run.now,
                                            run.layout.GetReleaseRecordPath(), run.refused,
                                            run.layout.GetInstallIdPath(), query);
  // An agent without keys gets the normal release's package whichever page it read, so a
  // person's check that the test page sends to a newer build asks the normal page whether
  // that package is newer than the installed build: otherwise it would download and hand
  // over the build it has at every run. A normal page that says nothing changes nothing.
  if (!run.keys.RequireSignatures() && run.consoleMode &&
      check.result == VersionCheckResult::UpdateAvailable &&
      CheckVersionOf(installed, false) == VersionCheckResult::UpToDate) {
    check.result = VersionCheckResult::UpToDate;
  }
  return check;
}

VersionCheckResult CheckVersionOf(const std::wstring& installedVersion, bool testPages) {
  return CheckVersionTrusting(installedVersion, testPages, ReleaseKeys{}, 0).result;
}

VersionCheck CheckVersionTrusting(const std::wstring& installedVersion, bool testPages,
                                  const ReleaseKeys& keys, std::int64_t now,
                                  const std::wstring& recordPath, const RefusalReport& refused,
                                  const std::wstring& installIdPath,
                                  const std::wstring& pageQuery) {
  VersionCheck check;
  // The crypto library sets itself up while the page travels; joined when this returns.
  std::future<void> cryptoReady;
  if (keys.RequireSignatures())
    cryptoReady = std::async(std::launch::async, platform::PrepareCrypto);
  // One downloader serves both pages.
  CHttpDownloader downloader;
  std::wstring trustedUrl;
  auto versionOf = [&](bool fallbackServer) {
    const std::wstring url = VersionPageUrl(fallbackServer, testPages);
    TextSink page;
    const bool whole = downloader.Fetch(url + pageQuery, page, TransferLimits::Page()) != 0;
    if (!downloader.Refusal().empty()) Report(refused, url, downloader.Refusal());
    std::wstring version = PageVersion(page.Text());
    if (!keys.RequireSignatures() || version.empty()) return version;
    // A page cut short is no page; the client has said why when it cut it itself.
    if (!whole) {
      if (downloader.Refusal().empty()) Report(refused, url, "the page did not arrive whole");
      return std::wstring();
    }
    std::string why;
    auto fields =
        TrustedPageFields(page.Bytes(), {testPages ? "testver" : "ver", version, now}, keys, why);
    if (!fields) {
      Report(refused, url, why);
      return std::wstring();
    }
    if (!recordPath.empty() && !Remember(recordPath, *fields, keys.seqFloor, why)) {
      Report(refused, url, why);
      return std::wstring();
    }
    check.release = std::move(fields);
    trustedUrl = url;
    return version;
  };
  std::wstring serverVersion = versionOf(false);
  if (serverVersion.empty()) serverVersion = versionOf(true);
  check.result = CompareVersions(installedVersion, serverVersion);
  if (check.release) Choose(check, installedVersion, testPages, installIdPath, trustedUrl, refused);
  return check;
}
