#include "launcher/journaled_install.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "launcher/install_journal.h"
#include "platform/dir_path.h"
#include "platform/files.h"
#include "platform/test_support.h"
#include "platform/text.h"
#include "platform_native.h"
#include "tree/update_tree.h"

namespace {

using Tree = std::map<std::wstring, std::string>;  // relative path ('/') -> content

// A data directory with an old tree and a pending update, on the real disk.
class JournaledInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = dir_.path() + L"Kivo9Data" + platform::kSep;
    places_ = {platform::DirPath(data_), platform::DirPath(data_ + L"update"), data_ + L"Kivo9.exe",
               data_ + L"Kivo9PostUpgrade.exe"};
    Put(data_, {{L"Kivo9.exe", "old browser"},
                {L"Resource/version.ini", "old"},
                {L"User/mine.txt", "mine"}});
    Put(places_.updateDir.Slashed(), {{L"Kivo9.exe", "new browser"},
                                      {L"Resource/version.ini", "new"},
                                      {L"Plugins/a.dll", "added"}});
    platform::MarkExecutable(places_.updateDir.File(L"Kivo9.exe"));
  }

  static std::wstring Native(const std::wstring& relative) {
    std::wstring path = relative;
    for (wchar_t& c : path) c = c == L'/' ? platform::kSep : c;
    return path;
  }

  void Put(const std::wstring& root, const Tree& files) {
    platform::MakeDirectory(platform::WithoutSeparator(root));
    for (const auto& [relative, content] : files) {
      const std::wstring path = root + Native(relative);
      for (std::size_t i = root.size(); i < path.size(); ++i) {
        if (path[i] == platform::kSep) platform::MakeDirectory(path.substr(0, i));
      }
      ASSERT_TRUE(platform::WriteWholeFile(path, content));
    }
  }

  std::string Read(const std::wstring& relative) {
    return platform::ReadWholeFile(data_ + Native(relative));
  }

  bool Exists(const std::wstring& relative) {
    return platform::QueryPath(data_ + Native(relative)).kind != platform::PathKind::Missing;
  }

  void ExpectOld() {
    EXPECT_EQ(Read(L"Kivo9.exe"), "old browser");
    EXPECT_EQ(Read(L"Resource/version.ini"), "old");
    EXPECT_FALSE(Exists(L"Plugins/a.dll"));
    EXPECT_EQ(platform::ReadWholeFile(places_.updateDir.File(L"Kivo9.exe")), "new browser");
    EXPECT_EQ(Read(L"User/mine.txt"), "mine");
  }

  void ExpectNew() {
    EXPECT_EQ(Read(L"Kivo9.exe"), "new browser");
    EXPECT_EQ(Read(L"Resource/version.ini"), "new");
    EXPECT_EQ(Read(L"Plugins/a.dll"), "added");
    EXPECT_EQ(Read(L"User/mine.txt"), "mine");
    for (const wchar_t* gone : {L"update", L"install.old", L"install.trash", L"install.journal"}) {
      EXPECT_FALSE(Exists(gone)) << platform::ToUtf8(gone);
    }
  }

  // The state of an install stopped with the browser replaced and its old one aside.
  void StopWithTheBrowserAside() {
    launcher::InstallJournal journal;
    journal.createdDirectories = {L"Plugins"};
    journal.files = {{L"Kivo9.exe", true},
                     {Native(L"Plugins/a.dll"), false},
                     {Native(L"Resource/version.ini"), true}};
    ASSERT_TRUE(platform::MakeDirectory(data_ + L"install.old"));
    ASSERT_TRUE(platform::MovePath(data_ + L"Kivo9.exe", data_ + Native(L"install.old/Kivo9.exe")));
    ASSERT_TRUE(platform::MovePath(places_.updateDir.File(L"Kivo9.exe"), data_ + L"Kivo9.exe"));
    ASSERT_TRUE(
        platform::WriteWholeFile(launcher::JournalPath(places_), launcher::FormatJournal(journal)));
  }

  std::wstring BackupPath() const { return launcher::BackupDir(places_).Slashed(); }

  platform::ScopedTempDir dir_;
  std::wstring data_;
  launcher::InstallPlaces places_;
  std::string report_;
};

TEST_F(JournaledInstallTest, InstallsTheTreeAndSaysSo) {
  ASSERT_TRUE(launcher::RecoverInterruptedInstall(places_, report_));
  EXPECT_EQ(report_, "");  // nothing to recover, nothing said
  ASSERT_TRUE(launcher::InstallUpdateTree(places_, report_));
  ExpectNew();
  EXPECT_EQ(report_, "installed the update\n");
}

TEST_F(JournaledInstallTest, RefusesAnUnfitTreeUntouchedWithTheReason) {
  const struct {
    const wchar_t* label;
    Tree extra;
    const char* reason;
  } cases[] = {
      {L"the user's folder", {{L"User/mine.txt", "theirs"}}, "reserved place: User"},
      {L"a working name", {{L"install.old/x", "x"}}, "reserved place: install.old"},
  };
  for (const auto& c : cases) {
    SetUp();
    Put(places_.updateDir.Slashed(), c.extra);
    report_.clear();
    EXPECT_FALSE(launcher::InstallUpdateTree(places_, report_)) << platform::ToUtf8(c.label);
    EXPECT_NE(report_.find(c.reason), std::string::npos) << report_;
    ExpectOld();
    tree::RemoveTree(places_.updateDir.Slashed());
  }
}

TEST_F(JournaledInstallTest, RollsBackWhatAJournalDescribesOrWhatTheDiskHolds) {
  for (const bool damaged : {false, true}) {
    SetUp();
    StopWithTheBrowserAside();
    if (damaged) {
      std::string journal = platform::ReadWholeFile(launcher::JournalPath(places_));
      ASSERT_TRUE(platform::WriteWholeFile(launcher::JournalPath(places_),
                                           journal.substr(0, journal.size() / 2)));
    }
    report_.clear();
    ASSERT_TRUE(launcher::RecoverInterruptedInstall(places_, report_));
    ExpectOld();
    EXPECT_FALSE(Exists(L"install.journal"));
    EXPECT_FALSE(Exists(L"install.old"));
    EXPECT_NE(report_.find(damaged ? "rolled back from the backup" : "rolled back an"),
              std::string::npos)
        << report_;
    ASSERT_TRUE(launcher::InstallUpdateTree(places_, report_));
    ExpectNew();
    tree::RemoveTree(data_);
  }
}

TEST_F(JournaledInstallTest, ABackupOrUpdateThatIsALinkMovesNothingInOrOut) {
  const std::wstring outside = dir_.path() + L"outside" + platform::kSep;
  Put(outside, {{L"Kivo9.exe", "from outside"}, {L"Plugins/a.dll", "outside"}});
  StopWithTheBrowserAside();
  ASSERT_TRUE(tree::RemoveTree(BackupPath()));
  if (!platform::MakeSymbolicLink(outside, platform::WithoutSeparator(BackupPath()), true) ||
      platform::QueryPath(platform::WithoutSeparator(BackupPath())).kind !=
          platform::PathKind::Link) {
    GTEST_SKIP() << "no links the file queries see here";
  }
  ASSERT_TRUE(platform::WriteWholeFile(launcher::JournalPath(places_), "kivo9-install 2\n"));
  launcher::RecoverInterruptedInstall(places_, report_);
  EXPECT_EQ(platform::ReadWholeFile(outside + L"Kivo9.exe"), "from outside");
  EXPECT_EQ(platform::ReadWholeFile(outside + Native(L"Plugins/a.dll")), "outside");
  EXPECT_NE(Read(L"Kivo9.exe"), "from outside");
  EXPECT_EQ(Read(L"User/mine.txt"), "mine");
}

// A file the install replaced that was a link, even one leading nowhere, is put back as that
// link when the install is rolled back.
TEST_F(JournaledInstallTest, ARollbackPutsBackALinkItReplacedEvenADanglingOne) {
  const std::wstring version = data_ + Native(L"Resource/version.ini");
  ASSERT_TRUE(platform::RemoveFile(version));
  if (!platform::MakeSymbolicLink(data_ + L"nowhere", version, false) ||
      platform::QueryPath(version).kind != platform::PathKind::Link) {
    GTEST_SKIP() << "no links the file queries see here";
  }
  launcher::InstallJournal journal;
  journal.files = {{Native(L"Resource/version.ini"), true}};
  ASSERT_TRUE(platform::MakeDirectory(data_ + L"install.old"));
  ASSERT_TRUE(platform::MakeDirectory(data_ + Native(L"install.old/Resource")));
  ASSERT_TRUE(platform::MovePath(version, data_ + Native(L"install.old/Resource/version.ini")));
  ASSERT_TRUE(platform::MovePath(places_.updateDir.File(Native(L"Resource/version.ini")), version));
  ASSERT_TRUE(
      platform::WriteWholeFile(launcher::JournalPath(places_), launcher::FormatJournal(journal)));
  ASSERT_TRUE(launcher::RecoverInterruptedInstall(places_, report_));
  EXPECT_EQ(platform::QueryPath(version).kind, platform::PathKind::Link) << "the link is back";
  EXPECT_EQ(platform::ReadWholeFile(places_.updateDir.File(Native(L"Resource/version.ini"))),
            "new");
  EXPECT_FALSE(Exists(L"install.old"));
}

TEST_F(JournaledInstallTest, AStaleBackupIsClearedNotTakenForThisInstall) {
  Put(data_, {{L"install.old/Kivo9.exe", "stale browser"}, {L"install.old/lost.txt", "lost"}});
  ASSERT_TRUE(launcher::InstallUpdateTree(places_, report_));
  ExpectNew();
  EXPECT_EQ(Read(L"lost.txt"), "lost");  // it had no place: it went back, not away
}

}  // namespace
