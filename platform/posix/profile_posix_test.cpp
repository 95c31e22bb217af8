// The file handling around our INI code: the parse cache must notice every change made by
// others, and a write that fails must leave the old file whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/profile.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class ProfileFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kivo-profile-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ / "test.ini";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Get(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::wstring Read(const std::wstring& key) {
    return ReadProfileString(L"S", key, L"-", 256, path_.wstring());
  }

  fs::path dir_;
  fs::path path_;
};

TEST_F(ProfileFileTest, CacheNoticesChangesOfEveryKind) {
  Put(path_, "[S]\nk=1\n");
  EXPECT_EQ(Read(L"k"), L"1");
  // Same size, rewritten in place: only the modification time tells.
  Put(path_, "[S]\nk=2\n");
  const timespec later[2] = {{0, UTIME_OMIT}, {1000000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), later, 0), 0);
  EXPECT_EQ(Read(L"k"), L"2");
  // Same size and time, but another file renamed over it.
  const fs::path other = dir_ / "other.ini";
  Put(other, "[S]\nk=3\n");
  ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), later, 0), 0);
  fs::rename(other, path_);
  EXPECT_EQ(Read(L"k"), L"3");
  fs::remove(path_);
  EXPECT_EQ(Read(L"k"), L"-");
  ASSERT_TRUE(WriteProfileValue(L"S", L"k", L"4", path_.wstring()));
  EXPECT_EQ(Read(L"k"), L"4");
  // Our own write is kept for the next read; a change by others after it still shows.
  ASSERT_TRUE(WriteProfileValue(L"S", L"k", L"5", path_.wstring()));
  Put(path_, "[S]\nk=6\n");
  ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), later, 0), 0);
  EXPECT_EQ(Read(L"k"), L"6");
  ASSERT_TRUE(WriteProfileValue(L"S", L"k", L"7", path_.wstring()));
  Put(other, "[S]\nk=8\n");
  fs::rename(other, path_);
  EXPECT_EQ(Read(L"k"), L"8");
}

TEST_F(ProfileFileTest, FailedWriteLeavesTheOldFile) {
  const std::string old = "[S]\nk=1\n";
  Put(path_, old);
  EXPECT_EQ(Read(L"k"), L"1");
  // A file-size limit stands in for a full disk, which root cannot be refused otherwise.
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteProfileValue(L"S", L"big", std::wstring(200, L'x'), path_.wstring());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_EQ(Get(path_), old);
  EXPECT_EQ(Read(L"big"), L"-");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ProfileFileTest, WriteKeepsModeAndLinks) {
  Put(path_, "[S]\nk=1\n");
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::path link = dir_ / "link.ini";
  fs::create_symlink(path_, link);
  ASSERT_TRUE(WriteProfileValue(L"S", L"k", L"2", link.wstring()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Get(path_), "[S]\nk=2\n");
  EXPECT_EQ(Read(L"k"), L"2");
  EXPECT_EQ(ReadProfileString(L"S", L"k", L"-", 256, link.wstring()), L"2");
  EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ProfileFileTest, DirectoryInPlaceOfTheFile) {
  fs::create_directory(path_);
  EXPECT_EQ(Read(L"k"), L"-");
  EXPECT_TRUE(ReadProfileSection(L"S", path_.wstring()).empty());
  EXPECT_FALSE(WriteProfileValue(L"S", L"k", L"1", path_.wstring()));
  EXPECT_FALSE(WriteProfileEntries(L"S", {}, path_.wstring()));
  EXPECT_TRUE(fs::is_directory(path_));
}

TEST_F(ProfileFileTest, SectionWithALineBreakIsRefusedWhole) {
  const std::string old = "[S]\nk=1\n";
  Put(path_, old);
  EXPECT_FALSE(WriteProfileEntries(L"S", {{L"a", L"1"}, {L"b", L"2\n[T]"}}, path_.wstring()));
  EXPECT_FALSE(WriteProfileEntries(L"S", {{L"a\rb", L"1"}}, path_.wstring()));
  EXPECT_FALSE(WriteProfileEntries(L"S\n", {{L"a", L"1"}}, path_.wstring()));
  EXPECT_EQ(Get(path_), old);
}

// A named pipe (no writer ever comes) and a read-only file: reads give the defaults at once,
// writes are refused, and both stay as they are.
TEST_F(ProfileFileTest, PipesAndReadOnlyFilesAreLeftAlone) {
  ASSERT_EQ(mkfifo(path_.c_str(), 0644), 0);
  EXPECT_EQ(Read(L"k"), L"-");
  EXPECT_TRUE(ReadProfileSection(L"S", path_.wstring()).empty());
  EXPECT_FALSE(WriteProfileEntries(L"S", {{L"k", L"v"}}, path_.wstring()));
  EXPECT_TRUE(fs::is_fifo(path_));
  fs::remove(path_);

  const std::string old = "[S]\nk=1\n";
  Put(path_, old);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(Read(L"k"), L"1");
  EXPECT_FALSE(WriteProfileValue(L"S", L"k", L"2", path_.wstring()));
  EXPECT_FALSE(WriteProfileEntries(L"S", {{L"k", L"3"}}, path_.wstring()));
  EXPECT_FALSE(WriteProfileEntries(L"S", {}, path_.wstring()));
  EXPECT_EQ(Get(path_), old);
  EXPECT_EQ(Read(L"k"), L"1");
}

}  // namespace
}  // namespace platform
