// The version check against the loopback server, which answers for the real host names.
#include "agent/run/version_check.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "build_config.h"
#include "platform/test_support.h"
#include "tests/server/loopback_server.h"

namespace {

const std::string kPrimaryHost = platform::ToUtf8(buildconfig::kVersionHost);
const std::string kFallbackHost = platform::ToUtf8(buildconfig::kVersionFallbackHost);

std::string Page(const std::string& host, const std::string& path, const std::string& body) {
  return "\"" + host + path + "\": [{\"body\": \"" + body + "\"}]";
}

std::string Primary(const std::string& body, bool testPage = true) {
  return Page(kPrimaryHost, testPage ? "/kivover/testver.htm" : "/kivover/ver.htm", body);
}

std::string Fallback(const std::string& body, bool testPage = true) {
  return Page(kFallbackHost, testPage ? "/d/testver.htm" : "/d/ver.htm", body);
}

const std::string kPrimaryTestUrl =
    LoopbackServer::Url(buildconfig::kVersionHost, "/kivover/testver.htm");
const std::string kFallbackTestUrl =
    LoopbackServer::Url(buildconfig::kVersionFallbackHost, "/d/testver.htm");

using VersionCheckTest = LoopbackServerTest;

TEST_F(VersionCheckTest, ComparesInstalledWithPrimaryVersion) {
  struct Case {
    std::wstring installed;
    std::string page;
    VersionCheckResult expected;
  };
  const Case cases[] = {
      {L"1203", "<p>Kivo9Version:1203:Kivo9VersionEnd</p>", VersionCheckResult::UpToDate},
      {L"1203", "Kivo9Version:1204:Kivo9VersionEnd", VersionCheckResult::UpdateAvailable},
      {L"1204", "Kivo9Version:1203:Kivo9VersionEnd", VersionCheckResult::UpToDate},
      {L"1203  \r\n", "Kivo9Version: 1204:Kivo9VersionEnd", VersionCheckResult::UpdateAvailable},
      {L"", "Kivo9Version:1203:Kivo9VersionEnd", VersionCheckResult::UpdateAvailable},
      {L"1203", "x Kivo9Version:1204\\n", VersionCheckResult::UpdateAvailable},
      {L"1204", "x Kivo9Version:1204\\r\\n", VersionCheckResult::UpToDate},
  };
  for (const Case& c : cases) {
    server_.Serve(Primary(c.page));
    EXPECT_EQ(CheckVersionOf(c.installed, true), c.expected) << c.page;
    EXPECT_EQ(server_.RequestedUrls(), std::vector<std::string>{kPrimaryTestUrl}) << c.page;
  }
}

TEST_F(VersionCheckTest, FallbackPageServesWhenPrimaryHasNoVersion) {
  const std::string unusable[] = {
      "",  // no route: 404
      Page(kPrimaryHost, "/kivover/testver.htm", ""),
      Primary("Kivo9Version:   :Kivo9VersionEnd"),
      Primary("no markers at all"),
      "\"" + kPrimaryHost + "/kivover/testver.htm\": [{\"close\": true}]",
  };
  for (const std::string& primary : unusable) {
    server_.Serve(primary + (primary.empty() ? "" : ", ") +
                  Fallback("Kivo9Version:1204:Kivo9VersionEnd"));
    EXPECT_EQ(CheckVersionOf(L"1203", true), VersionCheckResult::UpdateAvailable) << primary;
    EXPECT_EQ(CheckVersionOf(L"1204", true), VersionCheckResult::UpToDate) << primary;
    EXPECT_EQ(server_.RequestedUrls(),
              (std::vector<std::string>{kPrimaryTestUrl, kFallbackTestUrl, kPrimaryTestUrl,
                                        kFallbackTestUrl}))
        << primary;
  }
}

TEST_F(VersionCheckTest, FailsWhenNeitherPageHasAVersion) {
  server_.Serve("");
  EXPECT_EQ(CheckVersionOf(L"1203", true), VersionCheckResult::CheckFailed);
  EXPECT_EQ(CheckVersionOf(L"", true), VersionCheckResult::CheckFailed);
  server_.Serve(Primary("Kivo9Version:\\t:Kivo9VersionEnd") + ", " + Fallback("nothing"));
  EXPECT_EQ(CheckVersionOf(L"1203", true), VersionCheckResult::CheckFailed);
  EXPECT_EQ(server_.RequestedUrls(), (std::vector<std::string>{kPrimaryTestUrl, kFallbackTestUrl}));
}

TEST_F(VersionCheckTest, ConsoleModeReadsTestPagesSilentModeNormalPages) {
  // Each page names a different version, so the result tells which page was read.
  server_.Serve(Primary("Kivo9Version:1300:Kivo9VersionEnd", true) + ", " +
                Primary("Kivo9Version:1100:Kivo9VersionEnd", false));
  EXPECT_EQ(CheckVersionOf(L"1200", true), VersionCheckResult::UpdateAvailable);
  EXPECT_EQ(CheckVersionOf(L"1200", false), VersionCheckResult::UpToDate);
  server_.Serve(Fallback("Kivo9Version:1300:Kivo9VersionEnd", true) + ", " +
                Fallback("Kivo9Version:1100:Kivo9VersionEnd", false));
  EXPECT_EQ(CheckVersionOf(L"1200", true), VersionCheckResult::UpdateAvailable);
  EXPECT_EQ(CheckVersionOf(L"1200", false), VersionCheckResult::UpToDate);
  EXPECT_EQ(server_.RequestedUrls(),
            (std::vector<std::string>{
                kPrimaryTestUrl, kFallbackTestUrl,
                LoopbackServer::Url(buildconfig::kVersionHost, "/kivover/ver.htm"),
                LoopbackServer::Url(buildconfig::kVersionFallbackHost, "/d/ver.htm")}));
}

// Pages the test serves itself, through the seam the version check reads by.
class ScriptedPages : public PageSource {
 public:
  std::map<std::wstring, std::string> pages;  // URL: body; any other URL has no page
  std::vector<std::wstring> asked;

  FetchedPage Fetch(const std::wstring& url) override {
    asked.push_back(url);
    const auto page = pages.find(url);
    if (page == pages.end()) return {};
    return {page->second, platform::FromUtf8(page->second), true, {}};
  }
};

// A person's check without keys gets the normal release's package whichever page it read:
// the test page alone never sends it to fetch the build it has.
TEST(VersionCheckSeam, AConsoleRunWithoutKeysFetchesOnlyWhatTheNormalPageOffers) {
  platform::ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_TRUE(platform::MakeDirectory(dir.path() + L"Resource"));
  ASSERT_TRUE(platform::WriteWholeFile(dir.path() + platform::NativePath(L"Resource/version.ini"),
                                       "[Version]\nupdate=1204\n"));
  RunInputs run{AgentLayout(dir.path()), /*consoleMode=*/true, {}, 0, {}};
  const std::wstring test = VersionPageUrl(false, true), normal = VersionPageUrl(false, false);
  const std::wstring normalFallback = VersionPageUrl(true, false);
  struct Case {
    const char* normalPage;  // nullptr: none on either server
    VersionCheckResult expected;
    std::vector<std::wstring> asked;
  };
  const Case cases[] = {
      {"Kivo9Version:1204:Kivo9VersionEnd", VersionCheckResult::UpToDate, {test, normal}},
      {"Kivo9Version:1205:Kivo9VersionEnd", VersionCheckResult::UpdateAvailable, {test, normal}},
      {nullptr, VersionCheckResult::UpdateAvailable, {test, normal, normalFallback}},
  };
  for (const Case& c : cases) {
    ScriptedPages pages;
    pages.pages[test] = "Kivo9Version:1205:Kivo9VersionEnd";
    if (c.normalPage) pages.pages[normal] = c.normalPage;
    EXPECT_EQ(CheckVersion(run, pages).result, c.expected) << (c.normalPage ? c.normalPage : "-");
    EXPECT_EQ(pages.asked, c.asked);
  }
}

}  // namespace
