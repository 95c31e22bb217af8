// Whether the installed build is current, by the version page of the vendor's servers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/base/layout.h"
#include "agent/http/http_downloader.h"
#include "agent/run/run_inputs.h"
#include "agent/run/version_value.h"
#include "agent/trust/release_keys.h"
#include "agent/trust/signed_block.h"

struct VersionCheck {
  VersionCheckResult result = VersionCheckResult::CheckFailed;
  // The signed release to take (the page's own, or the release before a staged or halted
  // one); set only when the agent trusts signed pages alone and the page offers one.
  std::optional<SignedFields> release;
};

// Reads the installed version of the run's layout and compares it with the primary version
// page, or with the fallback page when the primary one yields no version. A signed agent
// says its build and whether this is its first check of the day (daily_check.h). A console run
// reads the test pages. With release keys a page counts only when it arrived whole, its
// signed block holds under them at the run's time and it is not older than the pages the
// installation believed before (its release record); a refused page counts as one without a
// version, and the run's report says why. A console run without keys, whose package is the
// normal release's whichever page it read, finds the build current when the test page names a
// newer build but the normal page does not.
VersionCheck CheckVersion(const RunInputs& run);

// A version page as it arrived: its bytes and text (system code page), whether it arrived
// whole, and why the client refused it (ok when it did not).
struct FetchedPage {
  std::string bytes;
  std::wstring text;
  bool whole = false;
  Outcome refusal;
};

// Where a version check reads its pages: the vendor's servers (ServerPages), or a test's own.
class PageSource {
 public:
  virtual ~PageSource() = default;
  virtual FetchedPage Fetch(const std::wstring& url) = 0;
};

// The vendor's servers, through one download client for every page of a check.
class ServerPages : public PageSource {
 public:
  FetchedPage Fetch(const std::wstring& url) override;

 private:
  CHttpDownloader downloader_;
};

// What a page says, judged on its own: its version ("" for none, or a refused page) and,
// with keys, its verified fields, or why it is refused. Pure: reads and writes nothing.
struct PageJudgement {
  std::wstring version;
  std::optional<SignedFields> fields;
  Outcome believed;  // why not, when refused
};
PageJudgement JudgePage(const FetchedPage& page, bool testPage, const ReleaseKeys& keys,
                        std::int64_t now);

// CheckVersion with the run's inputs, its pages read from pages. A page believed is recorded
// in the installation's release record after it is judged (a record that cannot be written
// keeps the old one), and the release taken is the one ChooseRelease gives (a console run is
// a person's check, which is not staged), with the install id made at first need; a halted
// release newer than the installed one is reported, and offers nothing.
VersionCheck CheckVersion(const RunInputs& run, PageSource& pages);

// CheckVersion for a given installed version text, trusting any page.
VersionCheckResult CheckVersionOf(const std::wstring& installedVersion, bool testPages);

// "http://" + host + the page path of the primary or fallback server, test or normal page.
std::wstring VersionPageUrl(bool fallbackServer, bool testPages);
