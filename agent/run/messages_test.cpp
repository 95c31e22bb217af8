#include "agent/run/messages.h"

#include <gtest/gtest.h>

#include "agent/base/layout.h"
#include "platform/profile.h"
#include "platform/test_support.h"

namespace {

using Pieces = std::vector<std::wstring>;

TEST(SplitString, LineMarkers) {
  auto lines = [](std::wstring_view text) { return SplitString(text, kLineMarker, false, false); };
  EXPECT_EQ(lines(L"one\\ntwo"), (Pieces{L"one", L"two"}));
  EXPECT_EQ(lines(L"one\\n"), (Pieces{L"one"}));  // no empty line at the end
  EXPECT_EQ(lines(L"one\\n\\ntwo"), (Pieces{L"one", L"", L"two"}));
  EXPECT_EQ(lines(L"\\none"), (Pieces{L"", L"one"}));
  EXPECT_EQ(lines(L" one \\n two "), (Pieces{L" one ", L" two "}));
  EXPECT_EQ(lines(L"one\\Ntwo\\"), (Pieces{L"one\\Ntwo\\"}));  // upper case is text
  EXPECT_EQ(lines(L""), Pieces{});
}

TEST(SplitString, TrimAndSkipEmpty) {
  EXPECT_EQ(SplitString(L" a ,, b ,", L",", true, false), (Pieces{L"a", L"", L"b"}));
  EXPECT_EQ(SplitString(L" a , ,b", L",", true, true), (Pieces{L"a", L"b"}));
  EXPECT_EQ(SplitString(L"a<>b<><>", L"<>", false, true), (Pieces{L"a", L"b"}));
  EXPECT_EQ(SplitString(L"abc", L"", false, false), (Pieces{L"abc"}));
}

TEST(FormatVersionMessage, OnlyTheFirstPlaceholderIsFilled) {
  EXPECT_EQ(FormatVersionMessage(L"Build %s is current.", L"9.1"), L"Build 9.1 is current.");
  EXPECT_EQ(FormatVersionMessage(L"%s and %s", L"9.1"), L"9.1 and %s");
  EXPECT_EQ(FormatVersionMessage(L"%n%d%x %s", L"9.1"), L"%n%d%x 9.1");
  EXPECT_EQ(FormatVersionMessage(L"100%% sure: %s", L"9.1"), L"100% sure: 9.1");
  EXPECT_EQ(FormatVersionMessage(L"%%s %s", L"9.1"), L"%s 9.1");
  EXPECT_EQ(FormatVersionMessage(L"50% %", L"9.1"), L"50% %");
  EXPECT_EQ(FormatVersionMessage(L"no placeholder", L"9.1"), L"no placeholder");
  // The version itself is never read as a format either.
  EXPECT_EQ(FormatVersionMessage(L"v%s!", L"%s%n"), L"v%s%n!");
}

class MessagesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    CreateDirectoryChain(temp_.path() + platform::NativePath(L"Language\\"));
  }
  void SetMessage(const std::wstring& file, int n, const std::wstring& text) {
    const std::wstring path = temp_.path() + platform::NativePath(L"Language\\") + file;
    ASSERT_TRUE(platform::WriteProfileValue(L"UpgradeExe", std::to_wstring(n), text, path));
  }

  platform::ScopedTempDir temp_;
  AgentLayout layout_{temp_.path()};
};

TEST_F(MessagesTest, LoadMessageFallsBackToTheNumber) {
  EXPECT_EQ(LoadMessage(layout_, 4), L"4");  // no language file
  SetMessage(L"English.ini", 2, L"Upgrade Agent");
  SetMessage(L"English.ini", 6, L"");
  SetMessage(L"English.ini", 7, std::wstring(300, L'z'));
  EXPECT_EQ(LoadMessage(layout_, 2), L"Upgrade Agent");
  EXPECT_EQ(LoadMessage(layout_, 6), L"");
  EXPECT_EQ(LoadMessage(layout_, 7), std::wstring(255, L'z'));
  EXPECT_EQ(LoadMessage(layout_, 8), L"8");
  // A zero byte in the file ends the text there; the next message is whole.
  const std::wstring path = temp_.path() + platform::NativePath(L"Language\\English.ini");
  ASSERT_TRUE(platform::WriteWholeFile(
      path, std::string("[UpgradeExe]\r\n3=one\0two\\nthree\r\n4=four\r\n", 40)));
  EXPECT_EQ(LoadMessage(layout_, 3), L"one");
  EXPECT_EQ(LoadMessage(layout_, 4), L"four");
}

TEST_F(MessagesTest, SilentRunDoesNotEvenLookUpTheLanguageFile) {
  const RunInputs silent{layout_, false, {}, 0, {}};
  PrintMessage(silent, 2);
  PrintVersionMessage(silent, L"9.1");
  // The language file is chosen at the first lookup; none happened, so a setting made now
  // still counts.
  CreateDirectoryChain(layout_.UserDir());
  ASSERT_TRUE(platform::WriteProfileValue(L"Settings", L"LngFile", L"German.ini",
                                          layout_.GetUserConfigPath()));
  SetMessage(L"German.ini", 2, L"Aktualisierung");
  EXPECT_EQ(LoadMessage(layout_, 2), L"Aktualisierung");
}

}  // namespace
