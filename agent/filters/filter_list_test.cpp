#include "agent/filters/filter_list.h"

#include <gtest/gtest.h>

#include <iterator>
#include <list>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> Entries(const CFilterList& list) {
  return std::vector<std::wstring>(list.begin(), list.end());
}

TEST(FilterList, KeepsOrderAndEqualEntriesAndComparesCodeUnits) {
  CFilterList list;
  for (const wchar_t* entry : {L"beta", L"alpha", L"beta", L"Beta"}) list.AddTail(entry);
  EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"beta", L"alpha", L"beta", L"Beta"}));
  EXPECT_TRUE(list.Contains(L"Beta"));
  EXPECT_FALSE(list.Contains(L"BETA"));
  EXPECT_FALSE(list.Contains(L"alpha "));
  EXPECT_EQ(list.Find(L"beta"), list.begin());
  EXPECT_EQ(list.Find(L"gamma"), list.end());
}

TEST(FilterList, RemoveValueTakesTheFirstEqualEntryOnly) {
  CFilterList list;
  for (const wchar_t* entry : {L"*", L"a", L"*", L"b"}) list.AddTail(entry);
  list.RemoveValue(L"*");
  EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"a", L"*", L"b"}));
  // The remaining "*" is still found after its twin went.
  EXPECT_TRUE(list.Contains(L"*"));
  EXPECT_EQ(*list.Find(L"*"), L"*");
  list.RemoveValue(L"*");
  list.RemoveValue(L"missing");
  EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_FALSE(list.Contains(L"*"));
  list.AddTail(L"*");
  EXPECT_EQ(list.Find(L"*"), std::prev(list.end()));
}

TEST(FilterList, ManyValuesGrowAndRemoveWithoutLosingOthers) {
  CFilterList list;
  constexpr int kCount = 5000;
  for (int i = 0; i < kCount; ++i) list.AddTail(std::to_wstring(i));
  list.AddTail(L"");
  list.AddTail(L"17");
  for (int i = 0; i < kCount; i += 2) list.RemoveValue(std::to_wstring(i));
  EXPECT_EQ(list.GetCount(), static_cast<std::size_t>(kCount / 2 + 2));
  for (int i = 0; i < kCount; ++i) {
    ASSERT_EQ(list.Contains(std::to_wstring(i)), i % 2 == 1) << i;
  }
  EXPECT_TRUE(list.Contains(L""));
  list.RemoveValue(L"17");
  list.RemoveValue(L"");
  EXPECT_TRUE(list.Contains(L"17"));  // its second entry stays
  EXPECT_FALSE(list.Contains(L""));
  EXPECT_EQ(*std::prev(list.end()), L"17");
}

TEST(FilterList, TakenEntriesLeaveAnEmptyListThatRefills) {
  CFilterList list;
  for (const wchar_t* entry : {L"a", L"b", L"a"}) list.AddTail(entry);
  const std::list<std::wstring> taken = list.TakeEntries();
  EXPECT_EQ(taken, (std::list<std::wstring>{L"a", L"b", L"a"}));
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_FALSE(list.Contains(L"a"));
  list.AddTail(L"b");
  EXPECT_TRUE(list.Contains(L"b"));
  EXPECT_EQ(Entries(list), (std::vector<std::wstring>{L"b"}));
}

}  // namespace
