#include "agent/base/layout.h"

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/profile.h"
#include "platform/test_support.h"

namespace {

using platform::kSep;
using platform::NativePath;

class LayoutTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }

  std::wstring In(const std::wstring& relative) const {
    return temp_.path() + NativePath(relative);
  }

  platform::ScopedTempDir temp_;
  AgentLayout layout_{temp_.path()};
};

TEST_F(LayoutTest, PathsDeriveFromTheAgentDirectory) {
  const struct {
    const std::wstring& path;
    const wchar_t* relative;
  } cases[] = {
      {layout_.AgentDir(), L""},
      {layout_.UserDir(), L"User\\"},
      {layout_.ResourceDir(), L"Resource\\"},
      {layout_.GetVersionIniPath(), L"Resource\\version.ini"},
      {layout_.GetPartnerIniPath(), L"Resource\\Partner.ini"},
      {layout_.GetExtractorPath(), L"Resource\\UnPack.exe"},
      {layout_.GetUpdateDir(), L"update\\"},
      {layout_.GetUpdateResourceDir(), L"update\\Resource\\"},
      {layout_.GetUnpackedMarkerPath(), L"update\\Resource\\version.ini"},
      {layout_.GetPostUpgradeProgramPath(), L"update\\Kivo9PostUpgrade.exe"},
      {layout_.GetUserConfigPath(), L"User\\UserConfig.ini"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.path, In(c.relative)) << platform::ToUtf8(c.relative);
  EXPECT_EQ(AgentLayout::OfRunningAgent().AgentDir(), GetAgentDir());
}

TEST_F(LayoutTest, AgentDirIsTheExecutablesDirectory) {
  const std::wstring exe = platform::OwnExecutablePath();
  const std::wstring dir = GetAgentDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), kSep);
  EXPECT_EQ(dir + exe.substr(dir.size()), exe);
  EXPECT_EQ(exe.find(kSep, dir.size()), std::wstring::npos);
}

TEST_F(LayoutTest, LanguageFileIsChosenOncePerRun) {
  EXPECT_EQ(layout_.GetLanguageFileName(), L"English.ini");  // no user settings at all
  EXPECT_EQ(layout_.GetLanguageFilePath(), In(L"Language\\English.ini"));

  const AgentLayout run(temp_.path());
  CreateDirectoryChain(run.UserDir());
  ASSERT_TRUE(
      platform::WriteProfileValue(L"Settings", L"LngFile", L"German.ini", run.GetUserConfigPath()));
  EXPECT_EQ(run.GetLanguageFilePath(), In(L"Language\\German.ini"));
  ASSERT_TRUE(
      platform::WriteProfileValue(L"settings", L"lngfile", L"French.ini", run.GetUserConfigPath()));
  EXPECT_EQ(run.GetLanguageFileName(), L"French.ini");
  EXPECT_EQ(run.GetLanguageFilePath(), In(L"Language\\German.ini"));  // until the next run

  const AgentLayout nextRun(temp_.path());
  EXPECT_EQ(nextRun.GetLanguageFilePath(), In(L"Language\\French.ini"));
  ASSERT_TRUE(platform::WriteProfileValue(L"Settings", L"LngFile", std::wstring(300, L'x'),
                                          nextRun.GetUserConfigPath()));
  EXPECT_EQ(nextRun.GetLanguageFileName(), std::wstring(255, L'x'));

  // Only a file of Language/ is taken; anything that reaches elsewhere is the default.
  for (const std::wstring name :
       {L"..\\..\\secret.ini", L"../secret.ini", L"/etc/passwd", L"C:secret.ini",
        L"\\\\server\\share\\x.ini", L"English.ini:more"}) {
    ASSERT_TRUE(
        platform::WriteProfileValue(L"Settings", L"LngFile", name, nextRun.GetUserConfigPath()));
    EXPECT_EQ(AgentLayout(temp_.path()).GetLanguageFilePath(), In(L"Language\\English.ini"))
        << platform::ToUtf8(name);
  }
}

TEST_F(LayoutTest, InstalledVersionIsReadUntrimmed) {
  EXPECT_EQ(layout_.GetInstalledVersion(), L"");
  CreateDirectoryChain(layout_.ResourceDir());
  ASSERT_TRUE(platform::WriteProfileValue(L"Version", L"update", L"\" 9.1.2 \"",
                                          layout_.GetVersionIniPath()));
  EXPECT_EQ(layout_.GetInstalledVersion(), L" 9.1.2 ");
  ASSERT_TRUE(platform::WriteProfileValue(L"Version", L"update", std::wstring(400, L'7'),
                                          layout_.GetVersionIniPath()));
  EXPECT_EQ(layout_.GetInstalledVersion(), std::wstring(259, L'7'));
}

TEST_F(LayoutTest, PathExists) {
  ASSERT_TRUE(platform::WriteWholeFile(In(L"a.txt"), "x"));
  EXPECT_EQ(PathExists(In(L"a.txt")), 1);
  EXPECT_EQ(PathExists(temp_.path()), 1);  // ends in a separator
  EXPECT_EQ(PathExists(temp_.path() + L"a.txt" + kSep), 1);
  EXPECT_EQ(PathExists(In(L"b.txt")), 0);
  EXPECT_EQ(PathExists(In(L"*.txt")), 0);  // wildcards never match
  EXPECT_EQ(PathExists(In(L"?.txt")), 0);
  EXPECT_EQ(PathExists(L""), 0);
}

TEST_F(LayoutTest, CreateDirectoryChainCreatesEachMissingLevel) {
  CreateDirectoryChain(In(L"a\\b\\c\\"));
  EXPECT_EQ(PathExists(In(L"a\\b\\c")), 1);
  CreateDirectoryChain(In(L"a\\x\\y"));  // a exists; x and y are added below it
  EXPECT_EQ(PathExists(In(L"a\\x\\y\\")), 1);
  CreateDirectoryChain(In(L"a\\x\\y"));  // nothing left to do
  EXPECT_EQ(PathExists(In(L"a\\x\\y\\")), 1);
}

TEST_F(LayoutTest, CreateDirectoryChainStopsAtTheFirstFailure) {
  // A file where a directory should be: nothing can be created below it.
  ASSERT_TRUE(platform::WriteWholeFile(In(L"file"), "x"));
  CreateDirectoryChain(In(L"file\\b\\c"));
  EXPECT_EQ(PathExists(In(L"file\\b")), 0);
  EXPECT_EQ(platform::ReadWholeFile(In(L"file")), "x");
}

TEST_F(LayoutTest, CreateDirectoryChainNeverCutsANameShort) {
  // Levels beyond 259 characters are not created, and no level is created under a
  // shortened name.
  const std::wstring top = In(L"top");
  const std::wstring part(80, L'd');
  std::wstring path = top;
  while (path.size() < 400) path += kSep + part;
  CreateDirectoryChain(path);
  std::wstring deepest = top;
  while (deepest.size() + 1 + part.size() <= 259) deepest += kSep + part;
  EXPECT_EQ(PathExists(deepest), 1);
  platform::DirectorySearch search(deepest + kSep);
  platform::DirectoryEntry entry;
  while (search.Next(entry)) {
    EXPECT_TRUE(entry.name == L"." || entry.name == L"..") << platform::ToUtf8(entry.name);
  }
}

TEST_F(LayoutTest, TempFilesAreNewAndEmpty) {
  const std::wstring dir = GetTempDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), kSep);
  const std::wstring first = MakeTempFileName();
  const std::wstring second = MakeTempFileName();
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.substr(0, dir.size() + 3), dir + L"~GF");
  EXPECT_EQ(PathExists(first), 1);
  EXPECT_EQ(platform::ReadWholeFile(first), "");
  platform::RemoveFile(first);
  platform::RemoveFile(second);
}

}  // namespace
