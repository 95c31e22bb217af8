#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/text.h"
#include "tree/install_names.h"

namespace {

TEST(UpdatablePaths, AsTheTableSharedWithThePublishToolSays) {
  std::ifstream table(KIVO_UPDATE_PATHS);
  ASSERT_TRUE(table.good()) << KIVO_UPDATE_PATHS;
  int rows = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const std::wstring path = platform::FromUtf8(line.substr(tab + 1));
    EXPECT_EQ(tree::IsUpdatablePath(path), line.substr(0, tab) == "ok") << line;
    ++rows;
  }
  EXPECT_GT(rows, 15);
}

}  // namespace
