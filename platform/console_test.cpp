#include "platform/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>

#include "platform/test_support.h"

namespace platform {
namespace {

// Input from a file is no console: the wait must neither block nor eat the input.
TEST(Console, WaitForKeyIgnoresInputThatIsNoConsole) {
  ScopedTempDir temp;
  const std::wstring path = temp.path() + L"input.txt";
  ASSERT_TRUE(WriteWholeFile(path, "x"));
  ASSERT_NE(std::freopen(FileSystemPath(path).string().c_str(), "r", stdin), nullptr);
  WaitForKey();
  EXPECT_EQ(std::getwchar(), static_cast<wint_t>(L'x'));
  // Let go of the file, so that it can be removed.
  std::freopen(kHasDriveLetters ? "NUL" : "/dev/null", "r", stdin);
}

}  // namespace
}  // namespace platform
