#include "platform/state_record.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/test_support.h"

namespace {

using Lines = std::vector<std::string_view>;

TEST(StateRecord, ReadsWhatItWroteAndNothingDamagedOrForeign) {
  const std::string record = platform::FormatStateRecord("kivo9-test", 2, {"a b", "", "c"});
  ASSERT_EQ(record.substr(0, 13), "kivo9-test 2\n");
  EXPECT_EQ(platform::ParseStateRecord(record, "kivo9-test", {2}), (Lines{"a b", "", "c"}));
  EXPECT_EQ(platform::ParseStateRecord(platform::FormatStateRecord("kivo9-test", 2, {}),
                                       "kivo9-test", {2}),
            Lines{});

  std::string flipped = record;
  flipped[14] ^= 1;
  const struct {
    const char* what;
    std::string text;
  } damaged[] = {
      {"cut short", record.substr(0, record.size() - 1)},
      {"a line cut off", record.substr(0, record.find("sum "))},
      {"a field altered", flipped},
      {"more after the sum", record + "x\n"},
      {"another kind", "kivo9-other" + record.substr(10)},
      {"a kind that only begins the same", "kivo9-testing" + record.substr(10)},
      {"another format", "kivo9-test 3" + record.substr(12)},
      {"no format", "kivo9-test\nsum x\n"},
      {"empty", ""},
  };
  for (const auto& c : damaged) {
    EXPECT_FALSE(platform::ParseStateRecord(c.text, "kivo9-test", {2})) << c.what;
  }
  // The form an older writer left, without the sum line, is read only where it is asked for.
  const std::string unsummed = "kivo9-test 1\n20000\n";
  EXPECT_EQ(platform::ParseStateRecord(unsummed, "kivo9-test", {2}, {1}), Lines{"20000"});
  EXPECT_FALSE(platform::ParseStateRecord(unsummed, "kivo9-test", {2}));
  EXPECT_FALSE(platform::ParseStateRecord("kivo9-test 1\n20000", "kivo9-test", {2}, {1}));
}

TEST(StateRecord, IsReplacedWholeAndReadWithinItsBound) {
  platform::ScopedTempDir dir;
  const std::wstring path = dir.path() + L"state";
  EXPECT_FALSE(platform::ReadStateFile(path, 100)) << "missing";
  ASSERT_TRUE(platform::WriteStateRecord(path, "kivo9-test", 2, {"one"}));
  ASSERT_TRUE(platform::WriteStateRecord(path, "kivo9-test", 2, {"two"}));
  const auto text = platform::ReadStateFile(path, 100);
  ASSERT_TRUE(text);
  EXPECT_EQ(platform::ParseStateRecord(*text, "kivo9-test", {2}), Lines{"two"});
  EXPECT_FALSE(platform::ReadStateFile(path, text->size() - 1)) << "longer than its bound";
  EXPECT_FALSE(platform::PathQuery(platform::ScratchPathOf(path))) << "no scratch left behind";
}

}  // namespace
