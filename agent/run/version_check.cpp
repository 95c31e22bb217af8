// The version check against the primary and fallback version servers.
#include "agent/run/version_check.h"

#include <future>

#include "agent/http/http_downloader.h"
#include "agent/run/daily_check.h"
#include "agent/run/release_choice.h"
#include "agent/trust/page_trust.h"
#include "agent/trust/release_record.h"
#include "build_config.h"
#include "platform/crypto.h"
#include "platform/text.h"

namespace {

// Records the page of fields in the installation's record when it is newer than what the
// record holds. A record that cannot be written keeps the old one: the page still counts, only
// its seq is not remembered.
void Remember(const std::wstring& recordPath, ReleaseRecord record, const SignedFields& fields) {
  const SeenPage page{fields.sequence, fields.signedBytesSha256};
  const auto seen = record.find(fields.channel);
  if (seen == record.end() || seen->second.seq < page.seq) {
    record[fields.channel] = page;
    WriteReleaseRecord(recordPath, record);
  }
}

// The release this installation takes from the believed page: staged, halted or the one
// before (release_choice.h).
void Choose(VersionCheck& check, const std::wstring& installedVersion, bool person,
            const std::wstring& installIdPath, const std::wstring& url,
            const RefusalReport& refused) {
  auto installId = [&installIdPath]() -> std::optional<InstallId> {
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

// What the servers answer: the version of the first page that holds one, with its fields
// (with keys) and the URL it came from.
struct Answer {
  std::wstring version;
  std::optional<SignedFields> fields;
  std::wstring url;
};

// Reads the primary page, then the fallback one when the primary yields no version. A page
// refused by the client, by its judgement or, with a record, as older than what the
// installation believed, is reported and counts as one without a version.
Answer AskServers(PageSource& pages, bool testPages, const ReleaseKeys& keys, std::int64_t now,
                  const std::wstring& query, const ReleaseRecord* record,
                  const RefusalReport& refused) {
  for (const bool fallbackServer : {false, true}) {
    const std::wstring url = VersionPageUrl(fallbackServer, testPages);
    const FetchedPage page = pages.Fetch(url + query);
    if (!page.refusal) Report(refused, url, page.refusal.why());
    PageJudgement judged = JudgePage(page, testPages, keys, now);
    if (judged.believed && judged.fields && record) {
      judged.believed =
          ReplayProblem(*record, judged.fields->channel,
                        {judged.fields->sequence, judged.fields->signedBytesSha256}, keys.seqFloor);
    }
    if (!judged.believed) {
      Report(refused, url, judged.believed.why());
      continue;
    }
    if (!judged.version.empty()) return {judged.version, std::move(judged.fields), url};
  }
  return {};
}

}  // namespace

FetchedPage ServerPages::Fetch(const std::wstring& url) {
  TextSink sink;
  FetchedPage page;
  const FetchOutcome fetched = downloader_.Fetch(url, sink, TransferLimits::Page());
  page.whole = fetched.stored;
  page.refusal = fetched.refusal;
  page.bytes = sink.Bytes();
  page.text = sink.Text();
  return page;
}

PageJudgement JudgePage(const FetchedPage& page, bool testPage, const ReleaseKeys& keys,
                        std::int64_t now) {
  PageJudgement judged;
  judged.version = PageVersion(page.text);
  if (!keys.RequireSignatures() || judged.version.empty()) return judged;
  // A page cut short is no page; the client has said why when it cut it itself.
  if (!page.whole) {
    if (page.refusal) judged.believed = Outcome::No("the page did not arrive whole");
    judged.version.clear();
    return judged;
  }
  auto trusted =
      TrustedPageFields(page.bytes, {testPage ? "testver" : "ver", judged.version, now}, keys);
  if (trusted) {
    judged.fields = std::move(*trusted);
  } else {
    judged.believed = trusted.outcome();
    judged.version.clear();
  }
  return judged;
}

std::wstring VersionPageUrl(bool fallbackServer, bool testPages) {
  if (fallbackServer) {
    return std::wstring(L"http://") + buildconfig::kVersionFallbackHost +
           (testPages ? L"/d/testver.htm" : L"/d/ver.htm");
  }
  return std::wstring(L"http://") + buildconfig::kVersionHost +
         (testPages ? L"/kivover/testver.htm" : L"/kivover/ver.htm");
}

VersionCheck CheckVersion(const RunInputs& run) {
  ServerPages pages;
  return CheckVersion(run, pages);
}

VersionCheck CheckVersion(const RunInputs& run, PageSource& pages) {
  const std::wstring installed = run.layout.GetInstalledVersion();
  const bool signedOnly = run.keys.RequireSignatures();
  std::wstring query;
  bool firstToday = false;
  ReleaseRecord record;
  // The crypto library sets itself up while the page travels; joined when this returns.
  std::future<void> cryptoReady;
  if (signedOnly) {
    firstToday = FirstCheckToday(run.layout.GetCheckDayPath(), run.now);
    query = L"?b=" + std::to_wstring(VersionValue(installed)) + L"&d=" + (firstToday ? L"1" : L"0");
    record = ReadReleaseRecord(run.layout.GetReleaseRecordPath());
    cryptoReady = std::async(std::launch::async, platform::PrepareCrypto);
  }
  Answer answer = AskServers(pages, run.consoleMode, run.keys, run.now, query,
                             signedOnly ? &record : nullptr, run.refused);
  // What the check leaves behind, once the pages are judged: the day it was made, the page
  // believed, the install id a staged release asks for.
  if (firstToday) KeepCheckDay(run.layout.GetCheckDayPath(), run.now);
  VersionCheck check;
  check.result = CompareVersions(installed, answer.version);
  if (answer.fields) {
    Remember(run.layout.GetReleaseRecordPath(), record, *answer.fields);
    check.release = std::move(answer.fields);
    Choose(check, installed, run.consoleMode, run.layout.GetInstallIdPath(), answer.url,
           run.refused);
  }
  // An agent without keys gets the normal release's package whichever page it read, so a
  // person's check that the test page sends to a newer build asks the normal page whether
  // that package is newer than the installed build: otherwise it would download and hand
  // over the build it has at every run. A normal page that says nothing changes nothing.
  if (!signedOnly && run.consoleMode && check.result == VersionCheckResult::UpdateAvailable &&
      CompareVersions(installed,
                      AskServers(pages, false, run.keys, run.now, L"", nullptr, {}).version) ==
          VersionCheckResult::UpToDate) {
    check.result = VersionCheckResult::UpToDate;
  }
  return check;
}

VersionCheckResult CheckVersionOf(const std::wstring& installedVersion, bool testPages) {
  ServerPages pages;
  return CompareVersions(installedVersion,
                         AskServers(pages, testPages, ReleaseKeys{}, 0, L"", nullptr, {}).version);
}
