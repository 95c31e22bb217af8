#include "launcher/install_journal.h"

#include <gtest/gtest.h>

#include "platform_native.h"

namespace {

TEST(InstallJournal, ReadsBackWhatWasWrittenAndTheCommitLine) {
  const std::wstring nested = std::wstring(L"Plugins") + platform::kSep + L"a b.dll";
  launcher::InstallJournal journal;
  journal.createdDirectories = {L"Plugins"};
  journal.files = {{L"Kivo9.exe", true}, {nested, false}};
  const std::string text = launcher::FormatJournal(journal);

  launcher::InstallJournal read;
  ASSERT_TRUE(launcher::ParseJournal(text, read));
  EXPECT_FALSE(read.committed);
  EXPECT_EQ(read.createdDirectories, journal.createdDirectories);
  ASSERT_EQ(read.files.size(), 2u);
  EXPECT_EQ(read.files[1].path, nested);
  EXPECT_TRUE(read.files[0].replaces);
  EXPECT_FALSE(read.files[1].replaces);

  ASSERT_TRUE(launcher::ParseJournal(text + launcher::CommitLine(), read));
  EXPECT_TRUE(read.committed);
  ASSERT_TRUE(launcher::ParseJournal(text + "comm", read));  // a commit cut short
  EXPECT_FALSE(read.committed);
}

TEST(InstallJournal, RefusesWhatIsNotAWholeJournal) {
  const std::string whole = "kivo9-install 1\nnew a\nend\n";
  const std::string broken[] = {"",
                                whole.substr(0, whole.size() - 4),
                                "kivo9-install 2\nend\n",
                                "kivo9-install 1\nmove a\nend\n",
                                "kivo9-install 1\nnew \nend\n",
                                "kivo9-install 1\nreplace ../a\nend\n",
                                "kivo9-install 1\ndir a//b\nend\n"};
  for (const std::string& text : broken) {
    launcher::InstallJournal read;
    EXPECT_FALSE(launcher::ParseJournal(text, read)) << text;
  }
}

}  // namespace
