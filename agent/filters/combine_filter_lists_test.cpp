#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "agent/filters/filter_combiner.h"
#include "agent/run/layout.h"
#include "platform/profile.h"
#include "platform/test_support.h"
#include "platform_native.h"

namespace {

using platform::NativePath;

// The package holds one entry per list, named after the list; the user's lists hold "own".
const std::string kPackageFilter =
    "[UrlFilter]\r\nurl1=UrlFilter\r\n[UrlUnFilter]\r\nurl1=UrlUnFilter\r\n"
    "[PopFilter]\r\npop1=PopFilter\r\n[PopUnFilter]\r\npop1=PopUnFilter\r\n";
const std::string kUserFilter =
    "[UrlFilter]\r\nurl1=own\r\n[UrlUnFilter]\r\nurl1=own\r\n[PopFilter]\r\npop1=own\r\n"
    "[PopUnFilter]\r\npop1=own\r\n";
const std::string kUserFilterFly = "[FlyFilter]\r\nurl1=own\r\n[FlyUnFilter]\r\nurl1=own\r\n";

class CombineFilterListsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    InitPaths(temp_.path());
    CreateDirectoryChain(UserDir);
    CreateDirectoryChain(Package(L""));
    Put(Package(L"2Filter.ini"), kPackageFilter);
    Put(Package(L"FilterFly.ini"), "[FlyFilter]\r\nurl1=FlyFilter\r\n");
    Put(Package(L"2FilterFly.ini"), "[FlyUnFilter]\r\nurl1=FlyUnFilter\r\n");
  }
  void TearDown() override { InitPaths(L""); }

  std::wstring Package(const std::wstring& name) const {
    return GetUpdateDir() + NativePath(L"Resource\\") + name;
  }
  static void Put(const std::wstring& path, const std::string& text) {
    ASSERT_TRUE(platform::WriteWholeFile(path, text));
  }
  void Request(const std::string& versionFile) {
    Put(Package(L"version.ini"), "[Version]\r\nupdate=9.1\r\n" + versionFile);
  }
  std::wstring Stored(const std::wstring& section, const std::wstring& key,
                      const std::wstring& file) const {
    return platform::ReadProfileString(section, key, L"-", 100, UserDir + file);
  }

  platform::ScopedTempDir temp_;
};

TEST_F(CombineFilterListsTest, WithoutARequestTheUserFilesStayByteForByte) {
  const std::string filter = "; mine\r\n" + kUserFilter + "[UrlFilter]\r\nurl2=odd\r\n";
  Put(UserDir + L"Filter.ini", filter);
  Put(UserDir + L"FilterFly.ini", kUserFilterFly);
  for (const std::string version :
       {"", "combineFilter=0\r\n", "combineFilter=-1\r\n", "combineFilter=yes\r\n"}) {
    Request(version);
    CombineFilterLists();
    EXPECT_EQ(platform::ReadWholeFile(UserDir + L"Filter.ini"), filter) << version;
    EXPECT_EQ(platform::ReadWholeFile(UserDir + L"FilterFly.ini"), kUserFilterFly) << version;
  }
  ASSERT_TRUE(platform::RemoveFile(Package(L"version.ini")));
  CombineFilterLists();
  EXPECT_EQ(platform::ReadWholeFile(UserDir + L"Filter.ini"), filter);
}

TEST_F(CombineFilterListsTest, ARequestMergesAllSixLists) {
  Put(UserDir + L"Filter.ini", kUserFilter);
  Put(UserDir + L"FilterFly.ini", kUserFilterFly);
  Request("combineFilter=1\r\n");
  CombineFilterLists();
  for (const auto& [section, key, file] : {std::tuple{L"UrlFilter", L"url", L"Filter.ini"},
                                           {L"UrlUnFilter", L"url", L"Filter.ini"},
                                           {L"PopFilter", L"pop", L"Filter.ini"},
                                           {L"PopUnFilter", L"pop", L"Filter.ini"},
                                           {L"FlyFilter", L"url", L"FilterFly.ini"},
                                           {L"FlyUnFilter", L"url", L"FilterFly.ini"}}) {
    EXPECT_EQ(Stored(section, std::wstring(key) + L"1", file), section);
    EXPECT_EQ(Stored(section, std::wstring(key) + L"2", file), L"own");
  }
}

TEST_F(CombineFilterListsTest, TheLargestRequestMergesTheListsInTheirOrder) {
  Request("combineFilter=2147483647\r\n");
  CombineFilterLists();
  // The user had no files: each section was added at the end as it was written.
  const std::string filter = platform::ReadWholeFile(UserDir + L"Filter.ini");
  const auto url = filter.find("[UrlFilter]");
  const auto urlUn = filter.find("[UrlUnFilter]");
  const auto pop = filter.find("[PopFilter]");
  const auto popUn = filter.find("[PopUnFilter]");
  EXPECT_TRUE(url < urlUn && urlUn < pop && pop < popUn && popUn != std::string::npos) << filter;
  const std::string fly = platform::ReadWholeFile(UserDir + L"FilterFly.ini");
  EXPECT_LT(fly.find("[FlyFilter]"), fly.find("[FlyUnFilter]"));
  EXPECT_NE(fly.find("[FlyUnFilter]"), std::string::npos) << fly;
}

}  // namespace
