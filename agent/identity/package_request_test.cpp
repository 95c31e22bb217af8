#include "agent/identity/package_request.h"

#include <gtest/gtest.h>

#include "build_config.h"

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
  EXPECT_EQ(StatisticsRequestUrl({L"zhcn", L"001A2B3C4D5E", 5}),
            kStats + L"/tg/kivopatch/zhcn/?hardid=001A2B3C4D5E&times=5");
  EXPECT_EQ(StatisticsRequestUrl({L"", L"001A2B3C4D5E", 5}),
            kStats + L"/tg/kivopatch/?hardid=001A2B3C4D5E&times=5");
  EXPECT_EQ(StatisticsRequestUrl({L"en", L"", 0}), kStats + L"/tg/kivopatch/en/?hardid=&times=0");
  EXPECT_EQ(StatisticsRequestUrl({L"en", L"", -7}), kStats + L"/tg/kivopatch/en/?hardid=&times=-7");
}

TEST(PackageRequest, DownloadServerUrlIsNotCleanedUp) {
  EXPECT_EQ(DownloadServerUrl(L"zhcn"), kDownload + L"/d/uzhcn.jpg");
  EXPECT_EQ(DownloadServerUrl(L""), kDownload + L"/d/u.jpg");
  EXPECT_EQ(DownloadServerUrl(L"/x"), kDownload + L"/d/u/x.jpg");
}

}  // namespace
