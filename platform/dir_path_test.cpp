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
    // The type gives each caller the form it asks for, whichever form it was made from.
    const platform::DirPath dir(c.path);
    EXPECT_EQ(dir.Slashed(), c.asDirectory) << c.path;
    EXPECT_EQ(dir.Path(), platform::WithoutSeparator(c.asDirectory)) << c.path;
    EXPECT_EQ(dir, platform::DirPath(c.withoutSeparator)) << c.path;
  }
  const platform::DirPath data(NativePath(L"x\\Kivo9Data"));
  EXPECT_EQ(data.File(L"Kivo9.exe"), NativePath(L"x\\Kivo9Data\\Kivo9.exe"));
  EXPECT_EQ(data.Dir(L"update").Slashed(), NativePath(L"x\\Kivo9Data\\update\\"));
  EXPECT_EQ(data.Dir(NativePath(L"a\\")).Path(), NativePath(L"x\\Kivo9Data\\a"));
  EXPECT_EQ(data.Dir(L""), data);
}

}  // namespace
