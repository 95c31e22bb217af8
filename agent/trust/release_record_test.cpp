#include "agent/trust/release_record.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/test_support.h"

namespace {

SeenPage Seen(std::uint64_t seq, std::uint8_t fill) {
  SeenPage page{seq, {}};
  page.signedBytes.fill(fill);
  return page;
}

TEST(ReleaseRecord, ReadsBackWhatItWroteAndNothingDamaged) {
  const ReleaseRecord record{{"testver", Seen(1765238500, 2)}, {"ver", Seen(1765238400, 1)}};
  const std::string text = FormatReleaseRecord(record);
  const ReleaseRecord read = ParseReleaseRecord(text);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read.at("ver").seq, 1765238400u);
  EXPECT_EQ(read.at("testver").signedBytes, record.at("testver").signedBytes);
  EXPECT_TRUE(ParseReleaseRecord(FormatReleaseRecord({})).empty());
  // Cut anywhere, or any byte changed: no record, never a part of one.
  for (std::size_t cut = 0; cut < text.size(); ++cut) {
    EXPECT_TRUE(ParseReleaseRecord(text.substr(0, cut)).empty()) << cut;
    std::string altered = text;
    altered[cut] ^= 0x01;
    EXPECT_TRUE(ParseReleaseRecord(altered).empty()) << cut;
  }
  EXPECT_TRUE(ParseReleaseRecord(text + "\n").empty());
}

TEST(ReleaseRecord, RefusesAnOlderPageOrTheSameSeqWithOtherBytes) {
  const ReleaseRecord record{{"ver", Seen(100, 1)}};
  const struct {
    const char* channel;
    SeenPage page;
    std::uint64_t floor;
    const char* why;
  } cases[] = {
      {"ver", Seen(101, 9), 0, ""},
      {"ver", Seen(100, 1), 0, ""},
      {"ver", Seen(100, 9), 0, "seq 100 was believed before with other contents"},
      {"ver", Seen(99, 1), 0, "older than a page already believed (seq 99 below 100)"},
      {"ver", Seen(100, 1), 500, ""},  // the record, not the floor, counts once there is one
      {"testver", Seen(5, 1), 5, ""},
      {"testver", Seen(4, 1), 5, "older than this build (seq 4 below 5)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReplayProblem(record, c.channel, c.page, c.floor).why(), c.why);
}

TEST(ReleaseRecord, IsReplacedWholeOnDisk) {
  platform::ScopedTempDir dir;
  const std::wstring path = dir.path() + L"release.seen";
  EXPECT_TRUE(ReadReleaseRecord(path).empty()) << "missing";
  ASSERT_TRUE(WriteReleaseRecord(path, {{"ver", Seen(7, 3)}}));
  ASSERT_TRUE(WriteReleaseRecord(path, {{"ver", Seen(8, 3)}}));
  EXPECT_EQ(ReadReleaseRecord(path).at("ver").seq, 8u);
  EXPECT_FALSE(platform::PathQuery(path + L".new"));
}

}  // namespace
