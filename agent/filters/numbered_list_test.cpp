#include "agent/filters/numbered_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/filters/filter_list.h"
#include "agent/filters/ini_list.h"
#include "platform/profile.h"
#include "platform/test_support.h"

namespace {

using List = std::vector<std::wstring>;

// The list read the slow way: one profile read per key, up to the first empty answer.
List ReadKeyByKey(const std::wstring& path, const std::wstring& section,
                  const std::wstring& keyPrefix) {
  List list;
  for (std::size_t i = 1;; ++i) {
    std::wstring value = platform::ReadProfileString(section, NumberedKey(keyPrefix, i), L"",
                                                     kMaxEntryChars + 1, path);
    if (value.empty()) return list;
    list.push_back(std::move(value));
  }
}

List ReadFromSection(const std::wstring& path, const std::wstring& section,
                     const std::wstring& keyPrefix) {
  return NumberedListFromSection(platform::ReadProfileSection(section, path), keyPrefix);
}

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

// Awkward sections, each read both ways by the test below.
std::string AwkwardFile() {
  return "; a comment\r\n[Other]\r\nurl1=elsewhere\r\n"
         "[Spaces]\r\n  url1 =  \t padded both sides \t \r\nURL2=upper key\r\nUrl3=a = b\r\n"
         "[Quotes]\r\nurl1=\"double\"\r\nurl2='single'\r\nurl3=\"unbalanced\r\nurl4='mixed\"\r\n"
         "url5=\"in\"side\"\r\nurl6=\"\r\nurl7=  \" spaced inside \"  "
         "\r\nurl8=\"\"\r\nurl9=after\r\n"
         "[Long]\r\nurl1=" +
         Repeat('a', 3000) + "\r\nurl2=\"" + Repeat('b', 2086) + "\"\r\n" + "url3=\"" +
         Repeat('c', 2087) + "\"\r\nurl4=\"" + Repeat('d', 2088) + "\"\r\n" +
         "url5=" + Repeat('e', 2087) + "\r\nurl6='" + Repeat('f', 3000) + "'\r\n" +
         "[Keys]\r\nurl2=second\r\nurl1=first\r\nurl1=shadowed\r\nurl02=leading zero\r\n"
         "url3\r\nurl3=after a line without equals\r\n"
         "[Gap]\r\nurl1=one\r\nurl2=two\r\nurl4=four\r\n"
         "[EmptyFirst]\r\nurl1=\r\nurl2=two\r\n"
         "[Blank]\r\nurl1=one\r\nurl2= \x1a \r\nurl3=three\r\n"
         "[Prefix]\r\npop1=pop entry\r\nurl1=url entry\r\npopular1=no\r\n"
         "[Spaces]\r\nurl4=second section of the same name\r\n";
}

TEST(NumberedList, SectionReadEqualsKeyByKeyRead) {
  platform::ScopedTempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::wstring path = dir.path() + L"awkward.ini";
  ASSERT_TRUE(platform::WriteWholeFile(path, AwkwardFile()));
  const std::vector<std::pair<std::wstring, std::wstring>> lists = {
      {L"Spaces", L"url"}, {L"Quotes", L"url"},     {L"Long", L"url"},  {L"Keys", L"url"},
      {L"Gap", L"url"},    {L"EmptyFirst", L"url"}, {L"Blank", L"url"}, {L"Prefix", L"pop"},
      {L"Prefix", L"url"}, {L"Missing", L"url"},    {L"spaces", L"URL"}};
  for (const auto& [section, prefix] : lists) {
    const List byKey = ReadKeyByKey(path, section, prefix);
    EXPECT_EQ(ReadFromSection(path, section, prefix), byKey)
        << "section " << platform::ToUtf8(section) << ", prefix " << platform::ToUtf8(prefix);
    // The merge's streaming read gives the same list (these lists hold no value twice).
    CFilterList streamed;
    ReadIniList(path, section, prefix, streamed);
    EXPECT_EQ(List(streamed.begin(), streamed.end()), byKey) << platform::ToUtf8(section);
  }
  // Both readings agree on what the profile functions define.
  EXPECT_EQ(ReadFromSection(path, L"Spaces", L"url"),
            (List{L"padded both sides", L"upper key", L"a = b"}));
  EXPECT_EQ(ReadFromSection(path, L"Gap", L"url"), (List{L"one", L"two"}));
  EXPECT_EQ(ReadFromSection(path, L"EmptyFirst", L"url"), List{});
  EXPECT_EQ(ReadFromSection(path, L"Keys", L"url"), (List{L"first", L"second"}));
  const List longEntries = ReadFromSection(path, L"Long", L"url");
  ASSERT_EQ(longEntries.size(), 6u);
  EXPECT_EQ(longEntries[0], std::wstring(kMaxEntryChars, L'a'));
  EXPECT_EQ(longEntries[1], std::wstring(2086, L'b'));
  EXPECT_EQ(longEntries[3], std::wstring(kMaxEntryChars, L'd'));
  EXPECT_EQ(longEntries[4], std::wstring(kMaxEntryChars, L'e'));
  EXPECT_EQ(longEntries[5], std::wstring(kMaxEntryChars, L'f'));
}

TEST(NumberedList, KeysCarryTheIndexInDecimal) {
  EXPECT_EQ(NumberedKey(L"url", 1), L"url1");
  EXPECT_EQ(NumberedKey(L"pop", 10), L"pop10");
  EXPECT_EQ(NumberedKey(L"url", 50000), L"url50000");
  EXPECT_EQ(NumberedKey(L"", 0), L"0");
  EXPECT_EQ(NumberedKey(L"u", static_cast<std::size_t>(-1)),
            L"u" + std::to_wstring(static_cast<std::size_t>(-1)));
}

}  // namespace
