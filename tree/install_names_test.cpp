#include "tree/install_names.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/test_support.h"
#include "platform_native.h"

namespace {

TEST(IsUpdatablePath, SplitsOnBothSeparatorsAndKeepsOutOfReservedPlaces) {
  const struct {
    const wchar_t* path;
    bool updatable;
  } cases[] = {
      {L"Kivo9.exe", true},
      {L"Plugins/a b.dll", true},
      {L"Plugins\\sub\\x.dat", true},
      {L"Users/x", true},     // only the user's folder itself is reserved
      {L"lib/User/x", true},  // below the top it is an ordinary name
      {L"install.txt", true},
      {L"", false},
      {L"a//b", false},
      {L"a/", false},
      {L"/etc/passwd", false},
      {L"\\\\server\\share", false},
      {L"..", false},
      {L"a/../../b", false},
      {L"a\\..\\..\\victim.txt", false},
      {L"./a", false},
      {L"User", false},
      {L"User/mine.txt", false},
      {L"user\\mine.txt", false},
      {L"update/Kivo9.exe", false},
      {L"UPDATE.partial/x", false},
      {L"install.journal", false},
      {L"install.old/Kivo9.exe", false},
      {L"install.trash", false},
      {L"install.log", false},
      {L"a\tb", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tree::IsUpdatablePath(c.path), c.updatable) << c.path;
  }
  // Where the platform reserves the colon (drives, streams), no part may hold one.
  const bool colonReserved =
      std::wstring_view(platform::kReservedPathChars).find(L':') != std::wstring_view::npos;
  EXPECT_EQ(tree::IsUpdatablePath(L"C:/x"), !colonReserved);
  EXPECT_EQ(tree::IsUpdatablePath(L"a.txt:stream"), !colonReserved);
}

TEST(HasNoLinkOnTheWay, RefusesAFileOrLinkAmongTheDirectories) {
  platform::ScopedTempDir dir;
  const std::wstring root = dir.path();
  const wchar_t sep = platform::kSep;
  ASSERT_TRUE(platform::MakeDirectory(root + L"a"));
  ASSERT_TRUE(platform::WriteWholeFile(root + L"f", "x"));
  EXPECT_TRUE(tree::HasNoLinkOnTheWay(root, L"a/b/c"));  // what is missing is no way out
  EXPECT_TRUE(tree::HasNoLinkOnTheWay(root, L"f"));      // the last part is not examined
  EXPECT_FALSE(tree::HasNoLinkOnTheWay(root, L"f/x"));
  EXPECT_FALSE(tree::HasNoLinkOnTheWay(root, std::wstring(L"f") + sep + L"x"));
  // An emulator may make a link that its own file queries then follow.
  if (platform::MakeSymbolicLink(root + L"a", root + L"link", true) &&
      platform::QueryPath(root + L"link").kind == platform::PathKind::Link) {
    EXPECT_FALSE(tree::HasNoLinkOnTheWay(root, L"link/x"));
    EXPECT_FALSE(tree::HasNoLinkOnTheWay(root, L"link\\x"));
  }
}

}  // namespace
