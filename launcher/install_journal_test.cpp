#include "launcher/install_journal.h"

#include <gtest/gtest.h>

#include "platform_native.h"

namespace {

bool Parse(const std::string& text, launcher::InstallJournal& read) {
  const auto parsed = launcher::ParseJournal(text);
  EXPECT_EQ(parsed.ok(), parsed.why().empty()) << text;  // a refusal always says why
  if (parsed) read = *parsed;
  return parsed.ok();
}

TEST(InstallJournal, ReadsBackWhatWasWrittenAndTheCommitLine) {
  const std::wstring nested = std::wstring(L"Plugins") + platform::kSep + L"a b.dll";
  launcher::InstallJournal journal;
  journal.createdDirectories = {L"Plugins"};
  journal.files = {{L"Kivo9.exe", true}, {nested, false}};
  const std::string text = launcher::FormatJournal(journal);

  launcher::InstallJournal read;
  ASSERT_TRUE(Parse(text, read));
  EXPECT_FALSE(read.committed);
  EXPECT_EQ(read.createdDirectories, journal.createdDirectories);
  ASSERT_EQ(read.files.size(), 2u);
  EXPECT_EQ(read.files[1].path, nested);
  EXPECT_TRUE(read.files[0].replaces);
  EXPECT_FALSE(read.files[1].replaces);

  ASSERT_TRUE(Parse(text + launcher::CommitLine(), read));
  EXPECT_TRUE(read.committed);
  ASSERT_TRUE(Parse(text + "comm", read));  // a commit cut short
  EXPECT_FALSE(read.committed);
  // Journals earlier launchers wrote: without the checksum, and with an FNV-1a one.
  ASSERT_TRUE(Parse("kivo9-install 1\nreplace Kivo9.exe\nend\ncommit\n", read));
  EXPECT_TRUE(read.committed);
  const std::string v2 = "kivo9-install 2\nreplace Kivo9.exe\nnew a/b.txt\n";
  ASSERT_TRUE(Parse(v2 + "end aefff53dc53f116b\n", read));
  EXPECT_FALSE(read.committed);
  ASSERT_EQ(read.files.size(), 2u);
  EXPECT_EQ(read.files[1].path, std::wstring(L"a") + platform::kSep + L"b.txt");
  EXPECT_FALSE(Parse(v2 + "end aefff53dc53f116c\n", read)) << "a checksum that does not match";
}

TEST(InstallJournal, RefusesWhatIsNotAWholeJournalOrNamesAReservedPlace) {
  launcher::InstallJournal journal;
  journal.files = {{L"Kivo9.exe", true}, {L"a", false}};
  const std::string whole = launcher::FormatJournal(journal);
  std::string flipped = whole;
  flipped[flipped.find("new a") + 4] = 'b';  // still a fine path, but not what was written
  const std::string v1 = "kivo9-install 1\n";
  const std::string broken[] = {"",
                                whole.substr(0, whole.size() - 1),
                                whole.substr(0, whole.find("sum ")),
                                flipped,
                                "kivo9-install 3\nend\n",
                                v1 + "move a\nend\n",
                                v1 + "new \nend\n",
                                v1 + "replace ../a\nend\n",
                                v1 + "new ..\\..\\victim.txt\nend\n",
                                v1 + "new a\\..\\..\\b\nend\n",
                                v1 + "replace User/mine.txt\nend\n",
                                v1 + "replace user/mine.txt\nend\n",
                                v1 + "new install.old/Kivo9.exe\nend\n",
                                v1 + "new update/Kivo9.exe\nend\n",
                                v1 + "dir a//b\nend\n",
                                v1 + "new /etc/passwd\nend\n"};
  for (const std::string& text : broken) {
    launcher::InstallJournal read;
    EXPECT_FALSE(Parse(text, read)) << text;
  }
}

}  // namespace
