#include "platform/state_record.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/test_support.h"

namespace {

using Lines = std::vector<std::string_view>;

constexpr platform::StateFormat kTest{"kivo9-test", 2, 0, 100};
constexpr platform::StateFormat kTestOrUnsummed{"kivo9-test", 2, 1, 100};

TEST(StateRecord, ReadsWhatItWroteAndNothingDamagedOrForeign) {
  const std::string record = platform::FormatStateRecord(kTest, {"a b", "", "c"});
  ASSERT_EQ(record.substr(0, 13), "kivo9-test 2\n");
  EXPECT_EQ(platform::ParseStateRecord(record, kTest), (Lines{"a b", "", "c"}));
  EXPECT_EQ(platform::ParseStateRecord(platform::FormatStateRecord(kTest, {}), kTest), Lines{});

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
    EXPECT_FALSE(platform::ParseStateRecord(c.text, kTestOrUnsummed)) << c.what;
  }
  // The form an older writer left, without the sum line, is read only where it is asked for.
  const std::string unsummed = "kivo9-test 1\n20000\n";
  EXPECT_EQ(platform::ParseStateRecord(unsummed, kTestOrUnsummed), Lines{"20000"});
  EXPECT_FALSE(platform::ParseStateRecord(unsummed, kTest));
  EXPECT_FALSE(platform::ParseStateRecord("kivo9-test 1\n20000", kTestOrUnsummed));
}

TEST(StateRecord, IsReplacedWholeAndReadWithinItsBound) {
  platform::ScopedTempDir dir;
  const std::wstring path = dir.path() + L"state";
  EXPECT_FALSE(platform::ReadStateRecord(path, kTest)) << "missing";
  ASSERT_TRUE(platform::WriteStateRecord(path, kTest, {"one"}));
  ASSERT_TRUE(platform::WriteStateRecord(path, kTest, {"two"}));
  EXPECT_EQ(platform::ReadStateRecord(path, kTest), std::vector<std::string>{"two"});
  const std::size_t size = platform::ReadWholeFile(path).size();
  const platform::StateFormat tight{"kivo9-test", 2, 0, size - 1};
  EXPECT_FALSE(platform::ReadStateRecord(path, tight)) << "longer than its bound";
  EXPECT_TRUE(platform::ReadStateRecord(path, {"kivo9-test", 2, 0, size}));
  EXPECT_FALSE(platform::PathQuery(platform::ScratchPathOf(path))) << "no scratch left behind";
}

}  // namespace
