#include "agent/run/version_value.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr std::wstring_view kStart = kVersionStartMarker;
constexpr std::wstring_view kEnd = kVersionEndMarker;

TEST(ExtractBetween, TextBetweenFirstStartAndFollowingEnd) {
  EXPECT_EQ(ExtractBetween(L"<p>Kivo9Version:1203:Kivo9VersionEnd</p>", kStart, kEnd), L"1203");
  EXPECT_EQ(ExtractBetween(L"Kivo9Version:12:Kivo9VersionEnd Kivo9Version:99", kStart, kEnd),
            L"12");
  // An end marker before the start marker does not count.
  EXPECT_EQ(ExtractBetween(L":Kivo9VersionEnd Kivo9Version:7:Kivo9VersionEnd", kStart, kEnd), L"7");
  EXPECT_EQ(ExtractBetween(L"Kivo9Version::Kivo9VersionEnd", kStart, kEnd), L"");
}

TEST(ExtractBetween, WithoutEndMarkerRunsToTheEnd) {
  EXPECT_EQ(ExtractBetween(L"x Kivo9Version:1204\n", kStart, kEnd), L"1204\n");
  EXPECT_EQ(ExtractBetween(L"Kivo9Version:1204:Kivo9VersionEnd", kStart, L""),
            L"1204:Kivo9VersionEnd");
}

TEST(ExtractBetween, MarkersMatchExactly) {
  EXPECT_EQ(ExtractBetween(L"no marker here", kStart, kEnd), L"");
  EXPECT_EQ(ExtractBetween(L"kivo9version:1203:Kivo9VersionEnd", kStart, kEnd), L"");
  EXPECT_EQ(ExtractBetween(L"Kivo9Version:1203:KIVO9VERSIONEND", kStart, kEnd),
            L"1203:KIVO9VERSIONEND");
  EXPECT_EQ(ExtractBetween(L"", kStart, kEnd), L"");
}

TEST(PageVersion, TrailingWhiteSpaceGoesLeadingStays) {
  EXPECT_EQ(PageVersion(L"Kivo9Version: 1204 \t\r\n\v\f:Kivo9VersionEnd"), L" 1204");
  EXPECT_EQ(PageVersion(L"Kivo9Version:   \r\n:Kivo9VersionEnd"), L"");
  EXPECT_EQ(TrimTrailingSpace(L"1203  \r\n"), L"1203");
  EXPECT_EQ(TrimTrailingSpace(L" \t "), L"");
}

TEST(VersionValue, ReadsLikeAtol) {
  EXPECT_EQ(VersionValue(L"1203"), 1203);
  EXPECT_EQ(VersionValue(L"2.1.0"), 2);
  EXPECT_EQ(VersionValue(L"letters"), 0);
  EXPECT_EQ(VersionValue(L" \t\n1204"), 1204);
  EXPECT_EQ(VersionValue(L"-15x"), -15);
  EXPECT_EQ(VersionValue(L"+15"), 15);
  EXPECT_EQ(VersionValue(L"- 15"), 0);
  EXPECT_EQ(VersionValue(L""), 0);
}

TEST(VersionValue, OnlyNineteenCharactersTakePart) {
  // 18 blanks leave one digit of "12" inside the 19 characters.
  EXPECT_EQ(VersionValue(std::wstring(18, L' ') + L"12"), 1);
  EXPECT_EQ(VersionValue(std::wstring(19, L' ') + L"12"), 0);
}

TEST(VersionValue, NumbersBeyond32BitsTakeTheNearestValue) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(VersionValue(L"2147483647"), kMax);
  EXPECT_EQ(VersionValue(L"2147483648"), kMax);
  EXPECT_EQ(VersionValue(L"9999999999999999999"), kMax);
  EXPECT_EQ(VersionValue(L"-2147483648"), kMin);
  EXPECT_EQ(VersionValue(L"-2147483649"), kMin);
  EXPECT_EQ(VersionValue(L"-999999999999999999"), kMin);
}

TEST(CompareVersions, DecidesByValue) {
  EXPECT_EQ(CompareVersions(L"1203", L"1203"), VersionCheckResult::UpToDate);
  EXPECT_EQ(CompareVersions(L"1203", L"1204"), VersionCheckResult::UpdateAvailable);
  EXPECT_EQ(CompareVersions(L"1204", L"1203"), VersionCheckResult::UpToDate);
  EXPECT_EQ(CompareVersions(L"1203  \r\n", L" 1204"), VersionCheckResult::UpdateAvailable);
  EXPECT_EQ(CompareVersions(L"abc", L"xyz"), VersionCheckResult::UpToDate);
  EXPECT_EQ(CompareVersions(L"99999999999", L"2147483647"), VersionCheckResult::UpToDate);
}

TEST(CompareVersions, MissingVersions) {
  EXPECT_EQ(CompareVersions(L"", L"1203"), VersionCheckResult::UpdateAvailable);
  EXPECT_EQ(CompareVersions(L" \r\n", L"letters"), VersionCheckResult::UpdateAvailable);
  EXPECT_EQ(CompareVersions(L"1203", L""), VersionCheckResult::CheckFailed);
  EXPECT_EQ(CompareVersions(L"1203", L" \n"), VersionCheckResult::CheckFailed);
}

}  // namespace
