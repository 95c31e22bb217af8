// What only a POSIX file system shows: symbolic links and permission bits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/test_support.h"

namespace platform {
namespace {

std::string Narrow(const std::wstring& path) { return ToUtf8(path); }

TEST(FilesPosix, LinksAreReportedAsLinksAndRemovedThemselves) {
  ScopedTempDir temp;
  ASSERT_FALSE(temp.path().empty());
  const std::wstring target = temp.path() + L"target";
  ASSERT_TRUE(MakeDirectory(target));
  ASSERT_TRUE(WriteWholeFile(target + L"/kept", "1"));
  ASSERT_EQ(symlink(Narrow(target).c_str(), Narrow(temp.path() + L"dirlink").c_str()), 0);
  ASSERT_EQ(symlink(Narrow(target + L"/kept").c_str(), Narrow(temp.path() + L"filelink").c_str()),
            0);
  ASSERT_EQ(symlink("nowhere", Narrow(temp.path() + L"dangling").c_str()), 0);

  DirectorySearch search(temp.path());
  DirectoryEntry entry;
  int links = 0;
  while (search.Next(entry)) {
    const bool isLink = entry.name != L"target" && entry.name != L"." && entry.name != L"..";
    EXPECT_EQ(entry.isLink, isLink) << Narrow(entry.name);
    if (isLink) {
      EXPECT_FALSE(entry.isDirectory);
    }
    links += isLink;
  }
  EXPECT_EQ(links, 3);

  EXPECT_TRUE(PathQuery(temp.path() + L"dangling"));  // the link itself exists
  EXPECT_TRUE(RemoveEmptyDirectory(temp.path() + L"dirlink/"));
  EXPECT_TRUE(RemoveLink(temp.path() + L"filelink"));
  EXPECT_TRUE(RemoveLink(temp.path() + L"dangling"));
  EXPECT_FALSE(RemoveLink(target));  // not a link: left alone
  EXPECT_EQ(ReadWholeFile(target + L"/kept"), "1");
  EXPECT_FALSE(PathQuery(temp.path() + L"dirlink"));
}

TEST(FilesPosix, CopyKeepsTheModeAndRefusesWhatIsNoRegularFile) {
  ScopedTempDir temp;
  ASSERT_FALSE(temp.path().empty());
  const std::wstring program = temp.path() + L"program";
  ASSERT_TRUE(WriteWholeFile(program, "#!/bin/sh\n"));
  ASSERT_EQ(chmod(Narrow(program).c_str(), 0751), 0);
  ASSERT_TRUE(WriteWholeFile(temp.path() + L"copy", "old"));
  ASSERT_TRUE(CopyFileOverwrite(program, temp.path() + L"copy"));
  struct stat info;
  ASSERT_EQ(stat(Narrow(temp.path() + L"copy").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0751u);

  ASSERT_EQ(mkfifo(Narrow(temp.path() + L"fifo").c_str(), 0600), 0);
  EXPECT_FALSE(CopyFileOverwrite(temp.path() + L"fifo", temp.path() + L"fromfifo"));
}

}  // namespace
}  // namespace platform
