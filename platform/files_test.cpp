#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <set>

#include "platform/file_writer.h"
#include "platform/process.h"
#include "platform/test_support.h"
#include "platform_native.h"

namespace platform {
namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }
  std::wstring At(const std::wstring& name) const { return temp_.path() + name; }
  ScopedTempDir temp_;
};

TEST_F(FilesTest, PathQueryFindsFilesAndDirectoriesButNeverWildcards) {
  ASSERT_TRUE(WriteWholeFile(At(L"file.txt"), "x"));
  EXPECT_TRUE(PathQuery(At(L"file.txt")));
  EXPECT_TRUE(PathQuery(temp_.path()));
  EXPECT_TRUE(PathQuery(At(L"")));
  EXPECT_FALSE(PathQuery(At(L"missing")));
  EXPECT_FALSE(PathQuery(At(L"file.tx?")));
  EXPECT_FALSE(PathQuery(At(L"*")));
  EXPECT_FALSE(PathQuery(L""));
  // Where the name is legal (not on Windows), it still never exists.
  MakeDirectory(At(L"odd?"));
  EXPECT_FALSE(PathQuery(At(L"odd?")));
}

TEST_F(FilesTest, CopyOverwritesAndKeepsEveryByte) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_TRUE(WriteWholeFile(At(L"big"), big));
  ASSERT_TRUE(WriteWholeFile(At(L"target"), std::string(5 * 1024 * 1024, 'z')));
  ASSERT_TRUE(CopyFileOverwrite(At(L"big"), At(L"target")));
  EXPECT_EQ(ReadWholeFile(At(L"target")), big);  // longer old content is gone

  ASSERT_TRUE(WriteWholeFile(At(L"empty"), ""));
  ASSERT_TRUE(CopyFileOverwrite(At(L"empty"), At(L"target")));
  EXPECT_EQ(ReadWholeFile(At(L"target")), "");
}

TEST_F(FilesTest, WholeFileReadsKeepToTheirLimit) {
  struct Case {
    std::size_t size;
    std::size_t limit;
    bool read;
  };
  for (const Case c : {Case{0, 0, true}, Case{3, 3, true}, Case{4, 3, false},
                       Case{40000, 40000, true}, Case{40001, 40000, false}}) {
    const std::string content(c.size, 'k');
    ASSERT_TRUE(WriteWholeFile(At(L"small"), content));
    std::string bytes = "before";
    EXPECT_EQ(ReadWholeFile(At(L"small"), c.limit, bytes), c.read) << c.size << " of " << c.limit;
    if (c.read) {
      EXPECT_EQ(bytes, content);
    }
  }
  // A huge file in a small one's place is turned away by its size, without being read.
  std::filesystem::resize_file(FileSystemPath(At(L"small")), std::uintmax_t{1} << 30);
  std::string bytes;
  EXPECT_FALSE(ReadWholeFile(At(L"small"), 4096, bytes));
  EXPECT_NE(LastErrorCode(), 0u);
  EXPECT_LE(bytes.capacity(), std::size_t{1} << 20);

  ASSERT_TRUE(MakeDirectory(At(L"dir")));
  for (const std::wstring& name : {At(L"dir"), At(L"missing")}) {
    EXPECT_FALSE(ReadWholeFile(name, 4096, bytes)) << ToUtf8(name);
    EXPECT_NE(LastErrorCode(), 0u);
  }
}

// Each way a file is made new: a link standing at its path (to a file outside, or to nothing)
// is replaced by the file, and what it pointed at stays as it was.
TEST_F(FilesTest, FilesMadeNewReplaceALinkAndNeverWriteThroughIt) {
  ASSERT_TRUE(WriteWholeFile(At(L"source"), "new"));
  struct Writer {
    const char* what;
    bool (*write)(const std::wstring& path, const std::wstring& source);
  };
  const Writer writers[] = {
      {"WriteFileFlushed",
       [](const std::wstring& p, const std::wstring&) {
         return WriteFileFlushed(p, "new", false).ok();
       }},
      {"CopyFileFlushed",
       [](const std::wstring& p, const std::wstring& s) { return CopyFileFlushed(s, p).ok(); }},
      {"FileWriter",
       [](const std::wstring& p, const std::wstring&) {
         FileWriter out;
         return out.Create(p) && out.Write("new", 3) && out.Close();
       }},
      {"ReplaceFileDurably (its scratch name)",
       [](const std::wstring& p, const std::wstring&) {
         return ReplaceFileDurably(p.substr(0, p.size() - 4), "new");
       }},
  };
  int linked = 0;
  for (const Writer& writer : writers) {
    for (const bool dangling : {false, true}) {
      SCOPED_TRACE(std::string(writer.what) + (dangling ? ", a dangling link" : ", a link"));
      const std::wstring outside = At(dangling ? L"nowhere" : L"outside");
      ASSERT_TRUE(dangling || WriteWholeFile(outside, "kept"));
      const std::wstring path = At(L"made.new");
      if (!MakeSymbolicLink(outside, path, false) || QueryPath(path).kind != PathKind::Link) {
        RemoveFile(path);
        continue;  // an emulator may show no link as one
      }
      ++linked;
      EXPECT_TRUE(writer.write(path, At(L"source")));
      const std::wstring made = writer.what[0] == 'R' ? At(L"made") : path;
      EXPECT_EQ(QueryPath(made).kind, PathKind::File);
      EXPECT_EQ(ReadWholeFile(made), "new");
      EXPECT_EQ(ReadWholeFile(outside), dangling ? "" : "kept");
      EXPECT_EQ(PathQuery(outside), !dangling);
      RemoveFile(path);
      RemoveFile(At(L"made"));
    }
  }
  GTEST_LOG_(INFO) << linked << " link cases where links are seen";
  // Anything else in the place (here a directory) is no file to replace: it stays.
  for (const Writer& writer : writers) {
    SCOPED_TRACE(writer.what);
    const std::wstring path = At(L"made.new");
    ASSERT_TRUE(MakeDirectory(path));
    EXPECT_FALSE(writer.write(path, At(L"source")));
    EXPECT_EQ(QueryPath(path).kind, PathKind::Directory);
    ASSERT_TRUE(RemoveEmptyDirectory(path));
  }
}

// A state file's place taken by an empty folder is cleared once; a folder with something in
// it is no file to replace and stays as it is.
TEST_F(FilesTest, ADurableReplaceClearsAnEmptyFolderInItsPlace) {
  ASSERT_TRUE(MakeDirectory(At(L"check.day")));
  EXPECT_TRUE(ReplaceFileDurably(At(L"check.day"), "day 1"));
  EXPECT_EQ(ReadWholeFile(At(L"check.day")), "day 1");
  ASSERT_TRUE(MakeDirectory(At(L"install.id")));
  ASSERT_TRUE(WriteWholeFile(At(L"install.id") + kSep + L"inside", "kept"));
  EXPECT_FALSE(ReplaceFileDurably(At(L"install.id"), "id"));
  EXPECT_EQ(ReadWholeFile(At(L"install.id") + kSep + L"inside"), "kept");
  EXPECT_FALSE(PathQuery(At(L"install.id.new")));
}

TEST_F(FilesTest, CopyFailuresLeaveAnErrorAndNoTarget) {
  EXPECT_FALSE(CopyFileOverwrite(At(L"missing"), At(L"target")));
  EXPECT_NE(LastErrorCode(), 0u);
  EXPECT_FALSE(PathQuery(At(L"target")));

  ASSERT_TRUE(WriteWholeFile(At(L"source"), "abc"));
  EXPECT_FALSE(CopyFileOverwrite(At(L"source"), At(L"no") + kSep + L"target"));
  EXPECT_NE(LastErrorCode(), 0u);

  ASSERT_TRUE(MakeDirectory(At(L"dir")));
  EXPECT_FALSE(CopyFileOverwrite(At(L"source"), At(L"dir")));  // a directory is no file
  EXPECT_FALSE(CopyFileOverwrite(At(L"dir"), At(L"copy")));
  EXPECT_FALSE(PathQuery(At(L"copy")));
}

TEST_F(FilesTest, DirectoriesAndFilesAreCreatedAndRemovedOneByOne) {
  ASSERT_TRUE(MakeDirectory(At(L"d")));
  EXPECT_FALSE(MakeDirectory(At(L"d")));                // exists
  EXPECT_FALSE(MakeDirectory(At(L"x") + kSep + L"y"));  // parent missing
  ASSERT_TRUE(WriteWholeFile(At(L"d") + kSep + L"f", "1"));
  EXPECT_FALSE(RemoveEmptyDirectory(At(L"d")));  // not empty
  EXPECT_FALSE(RemoveFile(At(L"d")));            // a directory is not removed as a file
  EXPECT_TRUE(RemoveFile(At(L"d") + kSep + L"f"));
  EXPECT_FALSE(RemoveFile(At(L"d") + kSep + L"f"));
  EXPECT_NE(LastErrorCode(), 0u);
  EXPECT_TRUE(RemoveEmptyDirectory(At(L"d") + kSep));
  EXPECT_FALSE(PathQuery(At(L"d")));
}

TEST_F(FilesTest, CurrentDirectoryFollowsChanges) {
  const std::wstring before = CurrentDirectory();
  ASSERT_FALSE(before.empty());
  ASSERT_TRUE(MakeDirectory(At(L"cwd")));
  ASSERT_TRUE(ChangeDirectory(At(L"cwd")));
  const std::wstring inside = CurrentDirectory();
  EXPECT_TRUE(ChangeDirectory(before));
  EXPECT_EQ(CurrentDirectory(), before);
  EXPECT_FALSE(ChangeDirectory(At(L"missing")));
  EXPECT_EQ(CurrentDirectory(), before);
  // No trailing separator, and the same directory seen from both sides.
  ASSERT_FALSE(inside.empty());
  EXPECT_NE(inside.back(), kSep);
  ASSERT_TRUE(WriteWholeFile(inside + kSep + L"seen", "1"));
  EXPECT_TRUE(PathQuery(At(L"cwd") + kSep + L"seen"));
}

TEST_F(FilesTest, SearchReportsFilesAndRealDirectories) {
  ASSERT_TRUE(WriteWholeFile(At(L"a.txt"), "1"));
  ASSERT_TRUE(WriteWholeFile(At(L"noext"), "1"));
  ASSERT_TRUE(MakeDirectory(At(L"sub")));
  std::set<std::wstring> files, dirs;
  DirectorySearch search(temp_.path());
  ASSERT_TRUE(search.IsOpen());
  DirectoryEntry entry;
  while (search.Next(entry)) {
    EXPECT_FALSE(entry.isLink);
    (entry.isDirectory ? dirs : files).insert(entry.name);
  }
  EXPECT_EQ(files, (std::set<std::wstring>{L"a.txt", L"noext"}));
  dirs.erase(L".");
  dirs.erase(L"..");
  EXPECT_EQ(dirs, std::set<std::wstring>{L"sub"});
}

TEST_F(FilesTest, SearchOfAMissingDirectoryDoesNotStart) {
  DirectorySearch search(At(L"missing") + kSep);
  EXPECT_FALSE(search.IsOpen());
  EXPECT_NE(LastErrorCode(), 0u);
  DirectoryEntry entry;
  EXPECT_FALSE(search.Next(entry));
}

TEST_F(FilesTest, ResultsTellDoneMissingAndFailedApartWithTextAndPath) {
  ASSERT_TRUE(WriteWholeFile(At(L"file"), "x"));
  ASSERT_TRUE(MakeDirectory(At(L"dir")));
  ASSERT_TRUE(WriteWholeFile(At(L"dir") + kSep + L"inside", "x"));
  const std::wstring missing = At(L"missing") + kSep + L"x";
  const struct {
    const char* what;
    FileResult result;
    FileOutcome outcome;
    std::wstring path;
  } cases[] = {
      {"directory queried", QueryDirectory(At(L"dir")), FileOutcome::Done, L""},
      {"file queried as directory", QueryDirectory(At(L"file")), FileOutcome::Failed, At(L"file")},
      {"missing directory", QueryDirectory(At(L"missing")), FileOutcome::Missing, At(L"missing")},
      {"file in a missing directory", RemoveFile(missing), FileOutcome::Missing, missing},
      {"directory that is not empty", RemoveEmptyDirectory(At(L"dir")), FileOutcome::Failed,
       At(L"dir")},
      {"existing directory made", MakeDirectory(At(L"dir")), FileOutcome::Failed, At(L"dir")},
      {"missing source copied", CopyFileOverwrite(At(L"none"), At(L"to")), FileOutcome::Missing,
       At(L"none")},
      {"search of a missing directory", DirectorySearch(At(L"none") + kSep).Status(),
       FileOutcome::Missing, At(L"none") + kSep},
      {"file removed", RemoveFile(At(L"file")), FileOutcome::Done, L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result.outcome(), c.outcome) << c.what;
    EXPECT_EQ(c.result.ok(), c.outcome == FileOutcome::Done) << c.what;
    EXPECT_EQ(c.result.path(), c.path) << c.what;
    EXPECT_EQ(c.result.code() == 0, c.result.ok()) << c.what;
    // A failure reads as the system's own words, then the path.
    const std::wstring text = platform::FromUtf8(c.result.Describe());
    EXPECT_EQ(text.empty(), c.result.ok()) << c.what;
    if (!c.result.ok()) {
      EXPECT_EQ(text, c.result.SystemText() + L" " + c.path) << c.what;
      EXPECT_FALSE(c.result.SystemText().empty()) << c.what;
      EXPECT_EQ(std::iswspace(static_cast<std::wint_t>(text.front())), 0) << c.what;
      EXPECT_EQ(std::iswspace(static_cast<std::wint_t>(c.result.SystemText().back())), 0);
    }
  }
}

TEST_F(FilesTest, TempNamesAreNewEmptyFilesInTheGivenDirectory) {
  const std::wstring temp = TempDirectory();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), kSep);
  EXPECT_TRUE(PathQuery(temp));

  std::set<std::wstring> names;
  for (int i = 0; i < 20; ++i) {
    const std::wstring name = CreateTempFileName(temp_.path(), L"~GFX");
    ASSERT_EQ(name.rfind(temp_.path() + L"~GF", 0), 0u) << ToUtf8(name);
    EXPECT_EQ(name.substr(name.size() - 4), L".tmp");
    // Between the prefix and ".tmp": the unique number in hexadecimal, in either case (Wine
    // writes lower case, so "fafe" is as good a name as "0A1F").
    const std::wstring number =
        name.substr(temp_.path().size() + 3, name.size() - 4 - temp_.path().size() - 3);
    EXPECT_FALSE(number.empty());
    EXPECT_EQ(number.find_first_not_of(L"0123456789ABCDEFabcdef"), std::wstring::npos)
        << ToUtf8(name);
    EXPECT_TRUE(PathQuery(name));
    EXPECT_EQ(ReadWholeFile(name), "");
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 20u);
  EXPECT_EQ(CreateTempFileName(At(L"missing") + kSep, L"~GF"), L"");
}

}  // namespace
}  // namespace platform
