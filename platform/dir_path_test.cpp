#include "platform/dir_path.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

TEST(DirPath, OwnsTheTrailingSeparator) {
  using platform::NativePath;
  const struct {
    std::wstring path, withoutSeparator, asDirectory, parent;
  } cases[] = {
      {NativePath(L"a\\b\\"), NativePath(L"a\\b"), NativePath(L"a\\b\\"), NativePath(L"a\\b\\")},
      {NativePath(L"a\\b"), NativePath(L"a\\b"), NativePath(L"a\\b\\"), NativePath(L"a\\")},
      {NativePath(L"\\"), NativePath(L"\\"), NativePath(L"\\"), NativePath(L"\\")},
      {L"name", L"name", NativePath(L"name\\"), L""},
      {L"", L"", L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::WithoutSeparator(c.path), c.withoutSeparator) << c.path;
    EXPECT_EQ(platform::AsDirectory(c.path), c.asDirectory) << c.path;
    EXPECT_EQ(platform::ParentOf(c.path), c.parent) << c.path;
  }
}

}  // namespace
