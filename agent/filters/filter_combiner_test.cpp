#include "agent/filters/filter_combiner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/filters/numbered_list.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/test_support.h"
#include "platform_native.h"

#if __has_include(<sys/resource.h>)
#include <sys/resource.h>

#include <csignal>
#endif

namespace {

using List = std::vector<std::string>;

// The text of one numbered INI list section.
std::string Section(const std::string& name, const std::string& prefix, const List& entries) {
  std::string text = "[" + name + "]\r\n";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    text += prefix + std::to_string(i + 1) + "=" + entries[i] + "\r\n";
  }
  return text;
}

// The section exactly as stored: the keys prefix1 .. prefixN with the expected entries and
// nothing else.
platform::ProfileEntries Keys(const std::wstring& prefix, const List& entries) {
  platform::ProfileEntries keys;
  for (const std::string& entry : entries) {
    keys.emplace_back(NumberedKey(prefix, keys.size() + 1), platform::FromUtf8(entry));
  }
  return keys;
}

class FilterCombinerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.path().empty());
    ASSERT_TRUE(platform::MakeDirectory(root_.path() + L"User"));
    ASSERT_TRUE(platform::MakeDirectory(root_.path() + L"Resource"));
  }
  void Put(const std::wstring& path, const std::string& text) {
    ASSERT_TRUE(platform::WriteWholeFile(path, text));
  }
  platform::ProfileEntries Stored(const std::wstring& file, const std::wstring& section) {
    return platform::ReadProfileSection(section, user_ + file);
  }
  void CombineAll() { CFilterCombiner(user_, package_).CombineAll(); }

  platform::ScopedTempDir root_;
  const std::wstring user_ = root_.path() + L"User" + platform::kSep;
  const std::wstring package_ = root_.path() + L"Resource" + platform::kSep;
};

TEST_F(FilterCombinerTest, MergesEachListWithThePackagesListOfTheSameName) {
  Put(package_ + L"2Filter.ini", Section("UrlFilter", "url", {"alpha", "beta", "alpha"}) +
                                     Section("UrlUnFilter", "url", {"*", "u"}) +
                                     Section("PopFilter", "pop", {"p1", "p2"}) +
                                     Section("PopUnFilter", "url", {"wrong prefix"}));
  Put(package_ + L"FilterFly.ini", Section("FlyFilter", "url", {"*", "delta"}) +
                                       Section("FlyUnFilter", "url", {"not this file"}));
  Put(package_ + L"2FilterFly.ini",
      Section("FlyUnFilter", "url", {"*", "f"}) + Section("FlyFilter", "url", {"not this file"}));
  Put(user_ + L"Filter.ini", Section("UrlFilter", "url", {"beta", "gamma", "Beta"}) +
                                 Section("PopFilter", "pop", {"p2", "mine", "mine"}) +
                                 Section("PopUnFilter", "pop", {"kept"}));
  Put(user_ + L"FilterFly.ini", Section("FlyFilter", "url", {"epsilon", "*"}) +
                                    Section("FlyUnFilter", "url", {"f", "*", "g"}));
  CombineAll();
  EXPECT_EQ(Stored(L"Filter.ini", L"UrlFilter"), Keys(L"url", {"alpha", "beta", "gamma", "Beta"}));
  EXPECT_EQ(Stored(L"Filter.ini", L"UrlUnFilter"), Keys(L"url", {"*", "u"}));
  EXPECT_EQ(Stored(L"Filter.ini", L"PopFilter"), Keys(L"pop", {"p1", "p2", "mine"}));
  EXPECT_EQ(Stored(L"Filter.ini", L"PopUnFilter"), Keys(L"pop", {"kept"}));
  // The package's "*" leaves only its own "FlyFilter"; the user's "*" stays there.
  EXPECT_EQ(Stored(L"FilterFly.ini", L"FlyFilter"), Keys(L"url", {"delta", "epsilon", "*"}));
  EXPECT_EQ(Stored(L"FilterFly.ini", L"FlyUnFilter"), Keys(L"url", {"*", "f", "g"}));
}

TEST_F(FilterCombinerTest, PackageListEndsAtAGapOrEmptyKeyAndEntriesAreCut) {
  Put(package_ + L"2Filter.ini",
      "[UrlFilter]\r\nurl1=a\r\nurl2=b\r\nurl4=d\r\n[PopFilter]\r\npop1=\r\npop2=x\r\n"
      "[UrlUnFilter]\r\nurl1=" +
          std::string(3000, 'l') + "\r\n");
  Put(user_ + L"Filter.ini", Section("PopFilter", "pop", {"mine"}));
  CombineAll();
  EXPECT_EQ(Stored(L"Filter.ini", L"UrlFilter"), Keys(L"url", {"a", "b"}));
  EXPECT_EQ(Stored(L"Filter.ini", L"PopFilter"), Keys(L"pop", {"mine"}));
  EXPECT_EQ(Stored(L"Filter.ini", L"UrlUnFilter"), Keys(L"url", {std::string(2087, 'l')}));
}

TEST_F(FilterCombinerTest, MissingUserFileIsCreatedWithThePackagesLists) {
  Put(package_ + L"2Filter.ini",
      Section("PopUnFilter", "pop", {"b"}) + Section("UrlFilter", "url", {"a"}));
  CombineAll();
  EXPECT_EQ(Stored(L"Filter.ini", L"UrlFilter"), Keys(L"url", {"a"}));
  EXPECT_EQ(Stored(L"Filter.ini", L"PopUnFilter"), Keys(L"pop", {"b"}));
  // Empty lists leave no section behind.
  const std::string text = platform::ReadWholeFile(user_ + L"Filter.ini");
  EXPECT_EQ(text.find("UrlUnFilter"), std::string::npos);
  EXPECT_EQ(text.find("PopFilter"), std::string::npos);
  EXPECT_FALSE(platform::PathQuery(user_ + L"FilterFly.ini") &&
               !platform::ReadWholeFile(user_ + L"FilterFly.ini").empty());
}

TEST_F(FilterCombinerTest, WithoutPackageTheUserListIsRenumberedWithoutDuplicates) {
  Put(user_ + L"FilterFly.ini",
      "[FlyFilter]\r\nurl2=b\r\nurl1=a\r\nurl3=a\r\nURL4=*\r\n"
      "url5=c\r\nurl5=shadowed\r\nurl7=after gap\r\n");
  CombineAll();
  EXPECT_EQ(Stored(L"FilterFly.ini", L"FlyFilter"), Keys(L"url", {"a", "b", "*", "c"}));
}

TEST_F(FilterCombinerTest, OtherSectionsAndCommentsOfTheUserFileStay) {
  Put(package_ + L"2Filter.ini", Section("UrlFilter", "url", {"new"}));
  Put(user_ + L"Filter.ini", "; the user's own notes\r\n[Settings]\r\nkeep = as it is \r\n\r\n" +
                                 Section("UrlFilter", "url", {"old", "new"}) +
                                 "[After]\r\n;comment\r\nx=\"quoted\"\r\n");
  CombineAll();
  EXPECT_EQ(Stored(L"Filter.ini", L"UrlFilter"), Keys(L"url", {"new", "old"}));
  // Where the profile functions tidy the lines they rewrite, what the lines say stays.
  const std::string text = platform::ReadWholeFile(user_ + L"Filter.ini");
  EXPECT_TRUE(text.starts_with("; the user's own notes\r\n[Settings]\r\n")) << text;
  EXPECT_NE(text.find("[After]\r\n;comment\r\n"), std::string::npos) << text;
  EXPECT_LT(text.find("[UrlFilter]"), text.find("[After]"));
  EXPECT_EQ(Stored(L"Filter.ini", L"Settings"), (platform::ProfileEntries{{L"keep", L"as it is"}}));
  EXPECT_EQ(Stored(L"Filter.ini", L"After"), (platform::ProfileEntries{{L"x", L"\"quoted\""}}));
}

// The user's "FilterFly.ini" as it was, a package list for it large enough to need many
// writes key by key, and a small one for "Filter.ini".
class FailedWriteTest : public FilterCombinerTest {
 protected:
  void SetUp() override {
    FilterCombinerTest::SetUp();
    List many;
    for (int i = 0; i < 500; ++i) many.push_back("||ads" + std::to_string(i) + ".example.com^");
    Put(package_ + L"FilterFly.ini", Section("FlyFilter", "url", many));
    Put(package_ + L"2Filter.ini", Section("UrlFilter", "url", {"small"}));
    Put(user_ + L"FilterFly.ini", before_);
  }
  void ExpectFlyUnchanged() {
    EXPECT_EQ(platform::ReadWholeFile(user_ + L"FilterFly.ini"), before_);
  }

  const std::string before_ =
      "[FlyFilter]\r\nurl1=mine\r\n[FlyUnFilter]\r\nurl1=u\r\n[Z]\r\nz=1\r\n";
};

TEST_F(FailedWriteTest, AFileThatCannotBeReplacedStaysAsItWas) {
  {
    // A file that cannot be deleted cannot be replaced or rewritten either: it is immutable,
    // held open without sharing write and delete access, or in a read-only directory.
    platform::DeletionBlocker blocker(user_ + L"FilterFly.ini");
    if (!blocker.active()) GTEST_SKIP() << "no way to keep a file from change here";
    CombineAll();
  }
  ExpectFlyUnchanged();
}

#if __has_include(<sys/resource.h>)
// A disk that fills up half way: writes beyond a file size limit fail. The small file still
// fits, the large one does not.
TEST_F(FailedWriteTest, ADiskThatFillsUpHalfWayLeavesTheFileAsItWas) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  CombineAll();
  setrlimit(RLIMIT_FSIZE, &saved);
  ExpectFlyUnchanged();
  EXPECT_EQ(Stored(L"Filter.ini", L"UrlFilter"), Keys(L"url", {"small"}));
}
#endif

}  // namespace
