#include "entry_rules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

bool Allowed(std::string_view path, std::string_view link = "", std::string_view hard = "") {
  return EntryAllowed(path, link, hard).ok();
}

TEST(EntryRules, RelativePathsPass) {
  EXPECT_TRUE(Allowed("Resource/version.ini"));
  EXPECT_TRUE(Allowed("./Kivo9.exe"));
  EXPECT_TRUE(Allowed("dir/"));
  EXPECT_TRUE(Allowed("a..b/..c/d..x"));
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

// The table the publish tool's name check is held to as well.
TEST(EntryRules, WindowsNamesAsTheSharedTableSays) {
  std::ifstream table(KIVO_WINDOWS_NAMES);
  ASSERT_TRUE(table.good()) << KIVO_WINDOWS_NAMES;
  const auto unescaped = [](const std::string& text) {
    std::string name;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
        name += '\\';
        ++i;
      } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
        name += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
        i += 3;
      } else {
        name += text[i];
      }
    }
    return name;
  };
  int cases = 0, pairs = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const std::string verdict = line.substr(0, tab);
    if (verdict == "twins" || verdict == "apart") {
      const std::size_t second = line.find('\t', tab + 1);
      ASSERT_NE(second, std::string::npos) << line;
      const std::string one = unescaped(line.substr(tab + 1, second - tab - 1));
      const std::string other = unescaped(line.substr(second + 1));
      EXPECT_EQ(NameKey(one) == NameKey(other), verdict == "twins") << one << " / " << other;
      ++pairs;
      continue;
    }
    const std::string name = unescaped(line.substr(tab + 1));
    EXPECT_EQ(Allowed(name), verdict == "ok") << name;
    ++cases;
  }
  EXPECT_GT(cases, 30);
  EXPECT_GT(pairs, 5);
}

}  // namespace
