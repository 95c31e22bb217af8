#include "entry_rules.h"

#include <gtest/gtest.h>

namespace {

bool Allowed(std::string_view path, std::string_view link = "", std::string_view hard = "") {
  return !RefusalReason(path, link, hard).has_value();
}

TEST(EntryRules, RelativePathsPass) {
  EXPECT_TRUE(Allowed("Resource/version.ini"));
  EXPECT_TRUE(Allowed("./Kivo9.exe"));
  EXPECT_TRUE(Allowed("dir/"));
  EXPECT_TRUE(Allowed("a..b/..c/d.."));
}

TEST(EntryRules, EscapingPathsAreRefused) {
  EXPECT_FALSE(Allowed("../evil"));
  EXPECT_FALSE(Allowed("a/../../evil"));
  EXPECT_FALSE(Allowed("a/.."));
  EXPECT_FALSE(Allowed(".."));
  EXPECT_FALSE(Allowed("/etc/evil"));
  EXPECT_FALSE(Allowed("//evil"));
  EXPECT_FALSE(Allowed(""));
}

TEST(EntryRules, LinksMayOnlyPointDownward) {
  EXPECT_TRUE(Allowed("bin/current", "v2/app"));
  EXPECT_TRUE(Allowed("self", "."));
  EXPECT_FALSE(Allowed("root", "/"));
  EXPECT_FALSE(Allowed("up", ".."));
  EXPECT_FALSE(Allowed("a/b/sibling", "../c"));
  EXPECT_FALSE(Allowed("t", "s/s/.."));
}

TEST(EntryRules, HardLinksFollowThePathRules) {
  EXPECT_TRUE(Allowed("copy", "", "Resource/version.ini"));
  EXPECT_FALSE(Allowed("copy", "", "/etc/passwd"));
  EXPECT_FALSE(Allowed("copy", "", "../outside"));
}

}  // namespace
