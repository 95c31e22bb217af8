#include "agent/run/daily_check.h"

#include <gtest/gtest.h>

#include "platform/test_support.h"

namespace {

// A check as the version check makes it: asked first, the day kept once it is done.
bool FirstCheckToday(const std::wstring& path, std::int64_t now) {
  const bool first = ::FirstCheckToday(path, now);
  if (first) KeepCheckDay(path, now);
  return first;
}

TEST(DailyCheck, OnlyTheFirstCheckOfEachDayCounts) {
  platform::ScopedTempDir dir;
  const std::wstring path = dir.path() + L"check.day";
  constexpr std::int64_t kDay = 86400, kMorning = 20000 * kDay + 3600;
  EXPECT_TRUE(FirstCheckToday(path, kMorning));
  EXPECT_FALSE(FirstCheckToday(path, kMorning + 20 * 3600)) << "the same day, later";
  EXPECT_TRUE(FirstCheckToday(path, kMorning + kDay));
  EXPECT_TRUE(FirstCheckToday(path, kMorning)) << "a clock set back is another day too";
  ASSERT_TRUE(platform::WriteWholeFile(path, "kivo9-check-day 1\n20000"));
  EXPECT_TRUE(FirstCheckToday(path, kMorning)) << "a damaged day reads as none";
  EXPECT_FALSE(FirstCheckToday(path, kMorning));
}

}  // namespace
