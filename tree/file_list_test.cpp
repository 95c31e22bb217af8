#include "tree/file_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/files.h"
#include "platform/test_support.h"
#include "platform_native.h"

namespace {

const std::string kHash(64, 'a');

TEST(ParseFileList, ReadsLinesWithEitherLineEnd) {
  const auto parsed = tree::ParseFileList(kHash + " 12 Kivo9.exe\r\n" + kHash + " 0 a b/c d.txt\n");
  ASSERT_TRUE(parsed) << parsed.why();
  const std::vector<tree::ListedFile>& files = *parsed;
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].size, 12u);
  EXPECT_EQ(files[1].path, "a b/c d.txt");  // blanks belong to the path
}

TEST(ParseFileList, RefusesMalformedLinesAndPathsLeavingTheTree) {
  const std::string bad[] = {
      "abc 1 x",                          // short hash
      std::string(64, 'A') + " 1 x",      // upper case
      kHash + " -1 x",                    // no size
      kHash + " 99999999999999999999 x",  // size too long
      kHash + " 1",                       // no path
      kHash + " 1 ../x",                  // climbs out
      kHash + " 1 /x",                    // absolute
      kHash + " 1 a//x",                  // empty part
      kHash + " 1 a\\x",                  // the other separator
      kHash + " 1 x\n" + kHash + " 2 x",  // twice
      kHash + " 1 User/UserConfig.ini",   // the user's own
      kHash + " 1 install.old/x",         // the launcher's working name
  };
  for (const std::string& text : bad) {
    const auto parsed = tree::ParseFileList(text);
    EXPECT_FALSE(parsed) << text;
    EXPECT_FALSE(parsed.why().empty()) << text;
  }
}

TEST(ListTree, ListsFilesAndDirectoriesSortedAndRefusesTheOtherSeparator) {
  platform::ScopedTempDir dir;
  const std::wstring root = dir.path();
  const wchar_t sep = platform::kSep;
  ASSERT_TRUE(platform::MakeDirectory(root + L"b"));
  ASSERT_TRUE(platform::MakeDirectory(root + L"b" + sep + L"c"));
  ASSERT_TRUE(platform::WriteWholeFile(root + L"b" + sep + L"c" + sep + L"f", "123"));
  ASSERT_TRUE(platform::WriteWholeFile(root + L"a", ""));
  const auto listed = tree::ListTree(root);
  ASSERT_TRUE(listed) << listed.why();
  const tree::TreeListing& listing = *listed;
  EXPECT_EQ(listing.directories,
            (std::vector<std::wstring>{L"b", std::wstring(L"b") + sep + L"c"}));
  ASSERT_EQ(listing.files.size(), 2u);
  EXPECT_EQ(listing.files[0].path, L"a");
  EXPECT_EQ(listing.files[1].size, 3u);
  EXPECT_EQ(tree::ListPath(listing.files[1].path), "b/c/f");
  if (platform::kOtherSep != L'\\') return;
  ASSERT_TRUE(platform::WriteWholeFile(root + L"b" + sep + L"x\\y", ""));
  EXPECT_FALSE(tree::ListTree(root));
}

// The walkers the install keeps its backup with: the regular files of a tree, never what
// lies behind a link; the folders that hold no file, removed; the parents of a path, made.
TEST(TreeWalkers, ListRegularFilesRemoveEmptyFoldersAndMakeParents) {
  platform::ScopedTempDir dir;
  const platform::DirPath root(dir.path());
  const std::wstring sep(1, platform::kSep);
  std::set<std::wstring> made;
  ASSERT_TRUE(tree::MakeParents(root, L"a" + sep + L"b" + sep + L"f", made));
  ASSERT_TRUE(tree::MakeParents(root, L"e" + sep + L"g" + sep + L"h", made));
  EXPECT_EQ(made, (std::set<std::wstring>{L"a" + sep, L"a" + sep + L"b" + sep, L"e" + sep,
                                          L"e" + sep + L"g" + sep}));
  ASSERT_TRUE(platform::WriteWholeFile(root.File(L"a" + sep + L"b" + sep + L"f"), "1"));
  ASSERT_TRUE(platform::WriteWholeFile(root.File(L"top"), "2"));
  const bool linked = platform::MakeSymbolicLink(root.File(L"a"), root.File(L"link"), true) &&
                      platform::QueryPath(root.File(L"link")).kind == platform::PathKind::Link;
  std::vector<std::wstring> files = tree::ListRegularFiles(root);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::wstring>{L"a" + sep + L"b" + sep + L"f", L"top"}))
      << (linked ? "nothing behind the link" : "no link here");
  EXPECT_TRUE(tree::ListRegularFiles(root.Dir(L"missing")).empty());

  tree::RemoveEmptyDirectories(root.Dir(L"e"));
  EXPECT_EQ(platform::QueryPath(root.Dir(L"e").Path()).kind, platform::PathKind::Missing);
  tree::RemoveEmptyDirectories(root.Dir(L"a"));
  EXPECT_EQ(platform::ReadWholeFile(root.File(L"a" + sep + L"b" + sep + L"f")), "1")
      << "a folder holding a file stays";
  ASSERT_TRUE(platform::WriteWholeFile(root.File(L"x"), ""));
  EXPECT_FALSE(tree::MakeParents(root, L"x" + sep + L"y", made)) << "a file in the way";
}

}  // namespace
