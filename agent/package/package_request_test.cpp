#include "agent/package/package_request.h"

#include <gtest/gtest.h>

#include "agent/package/package_fetch.h"
#include "build_config.h"
#include "platform/disk_space.h"
#include "platform/test_support.h"
#include "platform_native.h"
#include "tests/server/loopback_server.h"

namespace {

const std::wstring kStats = std::wstring(L"http://") + buildconfig::kStatsHost;
const std::wstring kDownload = std::wstring(L"http://") + buildconfig::kDownloadHost;

TEST(PackageRequest, DoubleSlashesCollapseInOnePass) {
  EXPECT_EQ(CollapseDoubleSlashes(L"a//b"), L"a/b");
  EXPECT_EQ(CollapseDoubleSlashes(L"a///b"), L"a//b");
  EXPECT_EQ(CollapseDoubleSlashes(L"a////b//"), L"a//b/");
  EXPECT_EQ(CollapseDoubleSlashes(L"/a/b/"), L"/a/b/");
  EXPECT_EQ(CollapseDoubleSlashes(L""), L"");
}

TEST(PackageRequest, StatisticsUrlCarriesNameIdentifierAndCounter) {
  EXPECT_EQ(StatisticsRequestUrl({L"zhcn", L"001A2B3C4D5E", 5, L"", L""}),
            kStats + L"/tg/kivopatch/zhcn/?hardid=001A2B3C4D5E&times=5");
  EXPECT_EQ(StatisticsRequestUrl({L"", L"001A2B3C4D5E", 5, L"", L""}),
            kStats + L"/tg/kivopatch/?hardid=001A2B3C4D5E&times=5");
  EXPECT_EQ(StatisticsRequestUrl({L"en", L"", 0, L"", L""}),
            kStats + L"/tg/kivopatch/en/?hardid=&times=0");
  EXPECT_EQ(StatisticsRequestUrl({L"en", L"", -7, L"", L""}),
            kStats + L"/tg/kivopatch/en/?hardid=&times=-7");
  // A signed agent names the release it wants; its own file on the download server.
  EXPECT_EQ(StatisticsRequestUrl({L"en", L"001A2B3C4D5E", 5, L"1204", L""}),
            kStats + L"/tg/kivopatch/en/?hardid=001A2B3C4D5E&times=5&v=1204");
  EXPECT_EQ(StatisticsRequestUrl({L"en", L"001A2B3C4D5E", 5, L"1204", L"1203"}),
            kStats + L"/tg/kivopatch/en/?hardid=001A2B3C4D5E&times=5&v=1204&from=1203");
  EXPECT_EQ(DownloadServerUrl(L"en", L"1204"), kDownload + L"/d/1204/uen.jpg");
  EXPECT_EQ(DownloadServerUrl(L"", L"1204"), kDownload + L"/d/1204/u.jpg");
  for (const wchar_t* number : {L"1", L"1204", L"2147483647"}) EXPECT_TRUE(IsReleaseNumber(number));
  for (const wchar_t* other : {L"", L"12a", L"../x", L"-1", L"12345678901", L"1 2"}) {
    EXPECT_FALSE(IsReleaseNumber(other)) << other;
  }
}

TEST(PackageRequest, DownloadServerUrlIsNotCleanedUp) {
  EXPECT_EQ(DownloadServerUrl(L"zhcn"), kDownload + L"/d/uzhcn.jpg");
  EXPECT_EQ(DownloadServerUrl(L""), kDownload + L"/d/u.jpg");
  EXPECT_EQ(DownloadServerUrl(L"/x"), kDownload + L"/d/u/x.jpg");
}

TEST(PackageRequest, UnsignedPackagesLeaveRoomOnTheirVolume) {
  const platform::ScopedTempDir dir;
  const auto free = platform::FreeDiskBytes(dir.path());
  ASSERT_TRUE(free);
  const std::uint64_t limit = PackageSizeLimit(dir.path());
  EXPECT_LE(limit, buildconfig::kPackageLimitBytes);
  EXPECT_LE(limit, *free > kPackageFreeSpaceReserve ? *free - kPackageFreeSpaceReserve : 0);
  EXPECT_EQ(PackageSizeLimit(dir.path() + L"missing" + platform::kSep),
            buildconfig::kPackageLimitBytes)
      << "a volume that cannot be asked leaves the build's limit";
}

}  // namespace

namespace {

const std::string kStatsHost = platform::ToUtf8(buildconfig::kStatsHost);
const std::string kDownloadHost = platform::ToUtf8(buildconfig::kDownloadHost);

std::string Route(const std::string& host, const std::string& path, const std::string& answer) {
  return "\"" + host + path + "\": [" + answer + "]";
}

// What the servers serve under the request's name, fetched into path.
bool DownloadPackageFor(const PackageRequest& request, const std::wstring& path) {
  const PlannedPackage package{request.name,
                               {StatisticsRequestUrl(request), DownloadServerUrl(request.name)},
                               {},
                               {},
                               PackageForm::kZip,
                               std::nullopt};
  return FetchPackage(package, {path, nullptr, nullptr, {}}).ok();
}

class PackageRequestTest : public LoopbackServerTest {
 protected:
  std::wstring Target() const { return dir_.path() + L"~GF1A.tmp.rar"; }
};

TEST_F(PackageRequestTest, StatisticsServerAnswersWithThePackage) {
  const std::string path = "/tg/kivopatch/zhcn/?hardid=001A2B3C4D5E&times=5";
  server_.Serve(Route(kStatsHost, path, R"({"body": "Rar!package"})"));
  EXPECT_TRUE(DownloadPackageFor({L"zhcn", L"001A2B3C4D5E", 5, L"", L""}, Target()));
  EXPECT_EQ(platform::ReadWholeFile(Target()), "Rar!package");
  EXPECT_EQ(server_.RequestedUrls(),
            std::vector<std::string>{LoopbackServer::Url(buildconfig::kStatsHost, path)});
}

TEST_F(PackageRequestTest, DownloadServerServesAfterAFailedStatisticsRequest) {
  for (const std::string failure :
       {R"({"status": 404})", R"({"body": ""})", R"({"close": true})"}) {
    server_.Serve(Route(kStatsHost, "/tg/kivopatch/zhcn/?hardid=001A2B3C4D5E&times=5", failure) +
                  ", " + Route(kDownloadHost, "/d/uzhcn.jpg", R"({"body": "from download"})"));
    EXPECT_TRUE(DownloadPackageFor({L"zhcn", L"001A2B3C4D5E", 5, L"", L""}, Target())) << failure;
    EXPECT_EQ(platform::ReadWholeFile(Target()), "from download") << failure;
    EXPECT_EQ(server_.RequestedUrls(),
              (std::vector<std::string>{
                  LoopbackServer::Url(buildconfig::kStatsHost,
                                      "/tg/kivopatch/zhcn/?hardid=001A2B3C4D5E&times=5"),
                  LoopbackServer::Url(buildconfig::kDownloadHost, "/d/uzhcn.jpg")}))
        << failure;
  }
}

TEST_F(PackageRequestTest, EmptyNameAndNoAdapterShapeTheRequests) {
  server_.Serve("");
  EXPECT_FALSE(DownloadPackageFor({L"", L"", 0, L"", L""}, Target()));
  EXPECT_EQ(server_.RequestedUrls(),
            (std::vector<std::string>{
                LoopbackServer::Url(buildconfig::kStatsHost, "/tg/kivopatch/?hardid=&times=0"),
                LoopbackServer::Url(buildconfig::kDownloadHost, "/d/u.jpg")}));
}

}  // namespace
