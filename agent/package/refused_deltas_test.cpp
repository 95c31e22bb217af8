#include "agent/package/refused_deltas.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/test_support.h"

namespace {

SignedDelta DeltaOf(std::uint8_t first) {
  SignedDelta delta;
  delta.package.sha256[0] = first;
  delta.start = L"1203";
  return delta;
}

// A delta that failed here is left out of every later release page that offers it again;
// a damaged record refuses nothing, and the record keeps the newest ones only.
TEST(RefusedDeltas, AFailedDeltaIsNeverOfferedAgain) {
  const platform::ScopedTempDir dir;
  const std::wstring record = dir.path() + L"delta.refused";
  SignedFields release;
  release.deltas = {DeltaOf(1), DeltaOf(2)};
  SignedFields failed;
  failed.deltas = {DeltaOf(1)};
  ASSERT_TRUE(RecordRefusedDeltas(record, failed));
  LeaveOutRefusedDeltas(record, release);
  ASSERT_EQ(release.deltas.size(), 1u);
  EXPECT_EQ(release.deltas[0].package.sha256[0], 2);

  std::string damaged = platform::ReadWholeFile(record);
  damaged[damaged.size() / 2] ^= 1;
  ASSERT_TRUE(platform::WriteWholeFile(record, damaged));
  release.deltas = {DeltaOf(1)};
  LeaveOutRefusedDeltas(record, release);
  EXPECT_EQ(release.deltas.size(), 1u) << "a damaged record refuses nothing";

  for (std::uint8_t i = 0; i < kMaxRefusedDeltas + 1; ++i) {
    failed.deltas = {DeltaOf(static_cast<std::uint8_t>(10 + i))};
    ASSERT_TRUE(RecordRefusedDeltas(record, failed));
  }
  release.deltas = {DeltaOf(10), DeltaOf(11), DeltaOf(10 + kMaxRefusedDeltas)};
  LeaveOutRefusedDeltas(record, release);
  ASSERT_EQ(release.deltas.size(), 1u) << "the oldest is forgotten";
  EXPECT_EQ(release.deltas[0].package.sha256[0], 10);
}

}  // namespace
