// Whether the installed build is current, by the version page of the vendor's servers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/base/layout.h"
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

// CheckVersion for a given installed version text, keys and time (seconds since the epoch);
// refused pages go to refused. With keys, a page older than what the release record at
// recordPath holds is refused too (ReplayProblem), and a page believed is recorded there
// before this returns; "" keeps no record. Then the release taken is the one ChooseRelease
// gives (testPages is a person's check, which is not staged), with the install id kept at
// installIdPath ("" for none: outside every stage); a halted release newer than the
// installed one is reported, and offers nothing. pageQuery follows each page's URL (what a
// signed agent tells the server: "?b=<installed build>&d=<1 on its first check of the day>").
VersionCheck CheckVersionTrusting(const std::wstring& installedVersion, bool testPages,
                                  const ReleaseKeys& keys, std::int64_t now,
                                  const std::wstring& recordPath = L"",
                                  const RefusalReport& refused = {},
                                  const std::wstring& installIdPath = L"",
                                  const std::wstring& pageQuery = L"");

// CheckVersion for a given installed version text, trusting any page.
VersionCheckResult CheckVersionOf(const std::wstring& installedVersion, bool testPages);

// "http://" + host + the page path of the primary or fallback server, test or normal page.
std::wstring VersionPageUrl(bool fallbackServer, bool testPages);
