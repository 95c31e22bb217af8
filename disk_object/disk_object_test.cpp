#include "disk_object/disk_object.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/test_support.h"
#include "platform/text.h"
#include "platform_native.h"

namespace {

using platform::kSep;
using platform::ReadWholeFile;
using platform::WriteWholeFile;
using Names = CDiskObject::StringList;

const std::wstring kParameterError = L"CDiskObject internal error - check call parameters";

class DiskObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }

  // A path below the temporary directory, written with '/' for separators.
  std::wstring At(const std::wstring& relative) const {
    return platform::NativePath(temp_.path() + relative);
  }
  void Dir(const std::wstring& relative) { ASSERT_TRUE(platform::MakeDirectory(At(relative))); }
  void File(const std::wstring& relative, const std::string& content = "x") {
    ASSERT_TRUE(WriteWholeFile(At(relative), content));
  }
  bool Exists(const std::wstring& relative) const { return platform::PathQuery(At(relative)); }

  platform::ScopedTempDir temp_;
  CDiskObject disk_;
};

// The error text of a failed system call: the trimmed system message, a blank, the detail.
void ExpectSystemErrorText(const std::wstring& text, const std::wstring& detail) {
  ASSERT_GT(text.size(), detail.size() + 1) << platform::ToUtf8(text);
  EXPECT_EQ(text.substr(text.size() - detail.size() - 1), L" " + detail);
  const std::wstring message = text.substr(0, text.size() - detail.size() - 1);
  const wchar_t* const kWhite = L" \t\r\n";
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.find_first_not_of(kWhite), 0u) << platform::ToUtf8(message);
  EXPECT_EQ(message.find_last_not_of(kWhite), message.size() - 1) << platform::ToUtf8(message);
}

TEST_F(DiskObjectTest, CopyTreeReproducesEmptyDirectoriesAndOverwrites) {
  Dir(L"src");
  File(L"src/a.txt", "new a");
  Dir(L"src/sub");
  File(L"src/sub/b.txt", "new b");
  Dir(L"src/sub/deep");  // empty
  Dir(L"src/empty");
  Dir(L"dst");
  File(L"dst/a.txt", "old content that is longer");
  File(L"dst/extra.txt", "kept");

  // The other platform's separator is taken as ours, and no trailing separator is needed.
  std::wstring source = temp_.path() + L"src";
  std::replace(source.begin(), source.end(), kSep, platform::kOtherSep);
  EXPECT_NE(disk_.CopyFolderTree(source, At(L"dst"), true), 0)
      << platform::ToUtf8(disk_.GetErrorText());
  EXPECT_EQ(disk_.GetErrorText(), L"");
  EXPECT_EQ(ReadWholeFile(At(L"dst/a.txt")), "new a");
  EXPECT_EQ(ReadWholeFile(At(L"dst/sub/b.txt")), "new b");
  EXPECT_EQ(ReadWholeFile(At(L"dst/extra.txt")), "kept");
  EXPECT_NE(disk_.FolderExists(At(L"dst/sub/deep")), 0);
  EXPECT_NE(disk_.FolderExists(At(L"dst/empty/")), 0);
  EXPECT_EQ(ReadWholeFile(At(L"src/a.txt")), "new a");  // the source stays
}

TEST_F(DiskObjectTest, CopyStopsAtTheFirstFileThatCannotBeWritten) {
  Dir(L"src");
  File(L"src/a.txt");
  File(L"src/b.txt");
  File(L"src/c.txt");
  Dir(L"dst");
  Dir(L"dst/b.txt");  // a directory where the file must go

  EXPECT_EQ(disk_.CopyFolderTree(At(L"src"), At(L"dst"), true), 0);
  ExpectSystemErrorText(disk_.GetErrorText(), At(L"src/b.txt") + L" -> " + At(L"dst/b.txt"));
  EXPECT_TRUE(Exists(L"dst/a.txt"));   // before the failure, in name order
  EXPECT_FALSE(Exists(L"dst/c.txt"));  // after it

  // Without stopOnError the failed file is passed over silently.
  EXPECT_NE(disk_.CopyFolderTree(At(L"src"), At(L"dst"), false), 0);
  EXPECT_EQ(disk_.GetErrorText(), L"");
  EXPECT_TRUE(Exists(L"dst/c.txt"));
}

TEST_F(DiskObjectTest, CopyFromAMissingDirectory) {
  // Files of a missing directory: none, and the target is still created.
  EXPECT_NE(disk_.CopyFolderFiles(At(L"missing"), At(L"made/here"), true), 0);
  EXPECT_NE(disk_.FolderExists(At(L"made/here")), 0);
  // A tree cannot be listed from a missing root: nothing is copied.
  EXPECT_EQ(disk_.CopyFolderTree(At(L"missing"), At(L"other"), true), 0);
  ExpectSystemErrorText(disk_.GetErrorText(), At(L"missing/") + L"*.*");
  EXPECT_FALSE(Exists(L"other"));
}

TEST_F(DiskObjectTest, DeleteTreeRemovesEverything) {
  Dir(L"t");
  File(L"t/f");
  Dir(L"t/a");
  Dir(L"t/a/b");
  File(L"t/a/b/g");
  Dir(L"t/empty");
  EXPECT_NE(disk_.DeleteFolderTree(At(L"t")), 0) << platform::ToUtf8(disk_.GetErrorText());
  EXPECT_FALSE(Exists(L"t"));
  EXPECT_EQ(disk_.DeleteFolderTree(At(L"t")), 0);  // gone: the listing cannot start
  EXPECT_NE(disk_.GetErrorText(), L"");
}

// The deletion walks the depth-first list backwards and stops at the first file it cannot
// remove: the directories after that one in the list are gone, the others remain.
TEST_F(DiskObjectTest, DeleteTreeStopsWhereAFileCannotBeRemoved) {
  Dir(L"t");
  File(L"t/top");
  for (const wchar_t* dir : {L"t/a", L"t/a/a1", L"t/a/a2", L"t/b", L"t/b/b1", L"t/c"}) {
    Dir(dir);
    File(std::wstring(dir) + L"/p");
  }
  File(L"t/a/a2/c");
  File(L"t/a/a2/m");  // the one that resists
  File(L"t/a/a2/z");
  Names order;
  ASSERT_NE(disk_.ListSubfolderTree(At(L"t"), order), 0);
  const std::wstring blockedDir = At(L"t/a/a2/");
  const auto blocked = std::find(order.begin(), order.end(), blockedDir);
  ASSERT_NE(blocked, order.end());

  {
    platform::DeletionBlocker blocker(At(L"t/a/a2/m"));
    if (!blocker.active()) GTEST_SKIP() << "no way to keep a file from deletion here";
    EXPECT_EQ(disk_.DeleteFolderTree(At(L"t")), 0);
  }
  ExpectSystemErrorText(disk_.GetErrorText(), blockedDir + L"m");
  for (auto it = order.begin(); it != order.end(); ++it) {
    const bool gone = it > blocked;
    EXPECT_EQ(platform::PathQuery(*it + L"p"), !gone) << platform::ToUtf8(*it);
  }
  EXPECT_FALSE(platform::PathQuery(blockedDir + L"c"));  // name order within the directory
  EXPECT_TRUE(platform::PathQuery(blockedDir + L"z"));
  EXPECT_TRUE(Exists(L"t/top"));
}

TEST_F(DiskObjectTest, EmptyPathsAreParameterErrorsWhereAPathIsRequired) {
  EXPECT_EQ(disk_.DeleteSingleFile(L""), 0);
  EXPECT_EQ(disk_.GetErrorText(), kParameterError);
  EXPECT_EQ(disk_.DeleteFolder(L""), 0);
  EXPECT_EQ(disk_.GetErrorText(), kParameterError);
  EXPECT_EQ(disk_.DeleteFolderTree(L""), 0);
  EXPECT_EQ(disk_.GetErrorText(), kParameterError);
  EXPECT_EQ(disk_.MakeFolderPath(L""), 0);
  EXPECT_EQ(disk_.GetErrorText(), kParameterError);
  EXPECT_EQ(disk_.FolderExists(L""), 0);
  EXPECT_EQ(disk_.GetErrorText(), kParameterError);
  // The next operation starts with a clean text.
  File(L"f");
  EXPECT_NE(disk_.DeleteSingleFile(At(L"f")), 0);
  EXPECT_EQ(disk_.GetErrorText(), L"");
  EXPECT_EQ(disk_.DeleteSingleFile(At(L"f")), 0);
  ExpectSystemErrorText(disk_.GetErrorText(), At(L"f"));
}

TEST_F(DiskObjectTest, EmptyPathStandsForTheCurrentDirectoryWhenListing) {
  File(L"one");
  Dir(L"sub");
  const std::wstring before = platform::CurrentDirectory();
  ASSERT_TRUE(platform::ChangeDirectory(temp_.path()));
  Names names;
  const int listed = disk_.ListFolderFiles(L"", names);
  platform::ChangeDirectory(before);
  EXPECT_NE(listed, 0);
  EXPECT_EQ(names, Names{L"one"});  // files only
}

TEST_F(DiskObjectTest, NamesAreListedByUtf16CodeUnits) {
  Dir(L"d");
  // Distinct even where names ignore case; upper case sorts before lower case.
  for (const wchar_t* name : {L"b.txt", L"aa.txt", L"_x", L"Ab.txt", L"B1", L"\u00e9"}) {
    File(std::wstring(L"d/") + name);
  }
  Dir(L"d/Dir");
  Names names;
  ASSERT_NE(disk_.ListFolderFiles(At(L"d"), names), 0);
  EXPECT_EQ(names, (Names{L"Ab.txt", L"B1", L"_x", L"aa.txt", L"b.txt", L"\u00e9"}));

  Names untouched{L"kept"};
  EXPECT_NE(disk_.ListFolderFiles(At(L"missing"), untouched), 0);
  EXPECT_EQ(untouched, Names{L"kept"});
  EXPECT_EQ(disk_.GetErrorText(), L"");
}

TEST_F(DiskObjectTest, SubfolderTreeIsDepthFirstWithFullPaths) {
  Dir(L"r");
  Dir(L"r/x");
  Dir(L"r/x/y");
  Dir(L"r/z");
  Names list{L"first"};
  ASSERT_NE(disk_.ListSubfolderTree(At(L"r"), list), 0);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], L"first");  // appended to
  const auto x = std::find(list.begin(), list.end(), At(L"r/x/"));
  const auto y = std::find(list.begin(), list.end(), At(L"r/x/y/"));
  EXPECT_NE(std::find(list.begin(), list.end(), At(L"r/z/")), list.end());
  ASSERT_NE(y, list.end());
  EXPECT_EQ(y, x + 1);  // right after its parent
}

TEST_F(DiskObjectTest, MakeFolderPathCreatesTheChainAndKeepsTheCurrentDirectory) {
  const std::wstring before = platform::CurrentDirectory();
  EXPECT_NE(disk_.MakeFolderPath(At(L"p/q/r")), 0);
  EXPECT_NE(disk_.MakeFolderPath(At(L"p/q/r/")), 0);  // existing: fine
  EXPECT_EQ(platform::CurrentDirectory(), before);
  EXPECT_NE(disk_.FolderExists(At(L"p/q/r")), 0);

  File(L"blocker");
  EXPECT_EQ(disk_.MakeFolderPath(At(L"blocker/sub")), 0);
  ExpectSystemErrorText(disk_.GetErrorText(), At(L"blocker/sub/"));
  EXPECT_EQ(platform::CurrentDirectory(), before);

  EXPECT_EQ(disk_.FolderExists(At(L"missing")), 0);
  EXPECT_EQ(disk_.GetErrorText(), L"");
  EXPECT_EQ(disk_.FolderExists(At(L"blocker")), 0);  // a file cannot be entered
}

TEST_F(DiskObjectTest, RelativePathsAreMadeAbsoluteFromTheCurrentDirectory) {
  Dir(L"cwd");
  const std::wstring before = platform::CurrentDirectory();
  ASSERT_TRUE(platform::ChangeDirectory(At(L"cwd")));
  const std::wstring cwd = platform::CurrentDirectory();
  std::wstring relative = L"sub/file.txt";
  std::wstring parent = L"../../up.txt";
  std::wstring folder = L"";
  const int relativeOk = disk_.NormalizeFilePath(relative);
  const int parentOk = disk_.NormalizeFilePath(parent);
  const int folderOk = disk_.NormalizeFolderPath(folder);
  const std::wstring after = platform::CurrentDirectory();
  platform::ChangeDirectory(before);

  EXPECT_NE(relativeOk, 0);
  EXPECT_EQ(relative, cwd + kSep + platform::NativePath(L"sub/file.txt"));
  EXPECT_NE(parentOk, 0);
  const std::wstring tempParent =
      temp_.path().substr(0, temp_.path().rfind(kSep, temp_.path().size() - 2));
  EXPECT_EQ(parent, platform::NativePath(tempParent + L"/up.txt"));
  EXPECT_NE(folderOk, 0);
  EXPECT_EQ(folder, cwd + kSep);
  EXPECT_EQ(after, cwd);  // climbing put the current directory back
}

TEST_F(DiskObjectTest, UnknownCurrentDirectoryLeavesPathsRelative) {
  Dir(L"gone");
  const std::wstring before = platform::CurrentDirectory();
  ASSERT_TRUE(platform::ChangeDirectory(At(L"gone")));
  const bool removed = platform::RemoveEmptyDirectory(At(L"gone")).ok();
  std::wstring path = L"x.txt";
  const int ok = disk_.NormalizeFilePath(path);
  platform::ChangeDirectory(before);
  if (!removed) GTEST_SKIP() << "the current directory cannot be removed here (Windows)";
  EXPECT_NE(ok, 0);
  EXPECT_EQ(path, L"x.txt");  // not put at the root
}

TEST_F(DiskObjectTest, ReservedCharactersAreParameterErrors) {
  for (const wchar_t* bad : {L"a*b.txt", L"dir?/x", L"x.t?t"}) {
    std::wstring path = At(bad);
    EXPECT_EQ(disk_.NormalizeFilePath(path), 0) << platform::ToUtf8(bad);
    EXPECT_EQ(disk_.GetErrorText(), kParameterError);
  }
  EXPECT_EQ(disk_.DeleteSingleFile(At(L"*")), 0);
  EXPECT_EQ(disk_.GetErrorText(), kParameterError);
  // A colon is reserved only where the platform reserves it (drive letters and streams).
  const bool colonReserved =
      std::wstring(platform::kReservedPathChars).find(L':') != std::wstring::npos;
  std::wstring colon = At(L"a:b");
  EXPECT_EQ(disk_.NormalizeFilePath(colon) == 0, colonReserved);
}

TEST_F(DiskObjectTest, NetworkPathsAreTakenAsTheyAreWhereTheyExist) {
  // Two leading separators name a server only on a platform with network paths; elsewhere
  // the path is an ordinary absolute one and is checked like any other.
  std::wstring network = std::wstring(2, kSep) + L"server" + kSep + L"share" + kSep + L"a*b";
  const std::wstring given = network;
  const int accepted = disk_.NormalizeFolderPath(network);
  EXPECT_EQ(accepted != 0, platform::kHasDriveLetters);
  if (accepted) {
    EXPECT_EQ(network, given + kSep);
  } else {
    EXPECT_EQ(disk_.GetErrorText(), kParameterError);
  }
}

// Links inside a tree are never followed: a hostile update could otherwise pull files in
// from anywhere or delete them anywhere.
TEST_F(DiskObjectTest, LinksInsideATreeAreLeftAlone) {
  Dir(L"outside");
  File(L"outside/secret", "keep me");
  Dir(L"tree");
  File(L"tree/real", "real");
  if (!platform::MakeSymbolicLink(At(L"outside"), At(L"tree/dirlink"), true) ||
      !platform::MakeSymbolicLink(At(L"outside/secret"), At(L"tree/filelink"), false)) {
    GTEST_SKIP() << "symbolic links cannot be made here (Windows without the privilege, or "
                    "an emulator without link support)";
  }
  EXPECT_NE(disk_.CopyFolderTree(At(L"tree"), At(L"copy"), true), 0);
  EXPECT_EQ(ReadWholeFile(At(L"copy/real")), "real");
  EXPECT_FALSE(Exists(L"copy/dirlink"));
  EXPECT_FALSE(Exists(L"copy/filelink"));

  EXPECT_NE(disk_.DeleteFolderTree(At(L"tree")), 0) << platform::ToUtf8(disk_.GetErrorText());
  EXPECT_FALSE(Exists(L"tree"));
  EXPECT_EQ(ReadWholeFile(At(L"outside/secret")), "keep me");
}

}  // namespace
