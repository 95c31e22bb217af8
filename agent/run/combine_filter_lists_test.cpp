#include "agent/run/combine_filter_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/test_support.h"
#include "platform_native.h"

namespace {

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
    CreateDirectoryChain(layout_.UserDir());
    CreateDirectoryChain(Package(L""));
    Put(Package(L"2Filter.ini"), kPackageFilter);
    Put(Package(L"FilterFly.ini"), "[FlyFilter]\r\nurl1=FlyFilter\r\n");
    Put(Package(L"2FilterFly.ini"), "[FlyUnFilter]\r\nurl1=FlyUnFilter\r\n");
  }
  std::wstring Package(const std::wstring& name) const {
    return layout_.GetUpdateResourceDir() + name;
  }
  static void Put(const std::wstring& path, const std::string& text) {
    ASSERT_TRUE(platform::WriteWholeFile(path, text));
  }
  void Request(const std::string& versionFile) {
    Put(Package(L"version.ini"), "[Version]\r\nupdate=9.1\r\n" + versionFile);
  }

  platform::ScopedTempDir temp_;
  AgentLayout layout_{temp_.path()};
};

TEST_F(CombineFilterListsTest, WithoutARequestTheUserFilesStayByteForByte) {
  const std::string filter = "; mine\r\n" + kUserFilter + "[UrlFilter]\r\nurl2=odd\r\n";
  Put(layout_.UserDir() + L"Filter.ini", filter);
  Put(layout_.UserDir() + L"FilterFly.ini", kUserFilterFly);
  for (const std::string version :
       {"", "combineFilter=0\r\n", "combineFilter=-1\r\n", "combineFilter=yes\r\n"}) {
    Request(version);
    CombineFilterLists(layout_.UserDir(), TreeInUpdateDir(layout_));
    EXPECT_EQ(platform::ReadWholeFile(layout_.UserDir() + L"Filter.ini"), filter) << version;
    EXPECT_EQ(platform::ReadWholeFile(layout_.UserDir() + L"FilterFly.ini"), kUserFilterFly)
        << version;
  }
  ASSERT_TRUE(platform::RemoveFile(Package(L"version.ini")));
  CombineFilterLists(layout_.UserDir(), TreeInUpdateDir(layout_));
  EXPECT_EQ(platform::ReadWholeFile(layout_.UserDir() + L"Filter.ini"), filter);
}

// Each list's package entry is named after the list, so the text shows which were written
// and in which order.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& sections) {
  std::size_t from = 0;
  for (const std::string& section : sections) {
    from = text.find("[" + section + "]\r\n" + (section.starts_with("Pop") ? "pop" : "url") +
                         "1=" + section + "\r\n",
                     from);
    ASSERT_NE(from, std::string::npos) << section << " in\n" << text;
  }
}

TEST_F(CombineFilterListsTest, ARequestMergesAllSixListsInTheirOrder) {
  for (const std::string request : {"1", "2147483647"}) {
    // The user's files hold none of the lists, so each lands at the end as it is written.
    Put(layout_.UserDir() + L"Filter.ini", "[Settings]\r\nx=1\r\n");
    Put(layout_.UserDir() + L"FilterFly.ini", "");
    Request("combineFilter=" + request + "\r\n");
    CombineFilterLists(layout_.UserDir(), TreeInUpdateDir(layout_));
    ExpectInOrder(platform::ReadWholeFile(layout_.UserDir() + L"Filter.ini"),
                  {"UrlFilter", "UrlUnFilter", "PopFilter", "PopUnFilter"});
    ExpectInOrder(platform::ReadWholeFile(layout_.UserDir() + L"FilterFly.ini"),
                  {"FlyFilter", "FlyUnFilter"});
  }
}

}  // namespace
