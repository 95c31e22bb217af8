#include "launcher/launch_sequence.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/command_line.h"
#include "platform/text.h"
#include "platform_native.h"

namespace launcher {
namespace {

BrowserStart StartFor(const std::wstring& commandLine) {
  return ChooseBrowserStart(commandLine, platform::SplitCommandLine(commandLine));
}

TEST(LauncherPaths, DerivedFromTheOwnExecutable) {
  const std::wstring dir = platform::NativePath(L"/opt/Kivo9 Browser/");
  const LauncherPaths paths = DeriveLauncherPaths(dir + L"Kivo9");
  EXPECT_EQ(paths.programDir, dir);
  EXPECT_EQ(paths.dataDir.Slashed(), dir + platform::NativePath(L"Kivo9Data/"));
  EXPECT_EQ(paths.updateDir.Slashed(), dir + platform::NativePath(L"Kivo9Data/update/"));
  EXPECT_EQ(paths.browser, dir + platform::NativePath(L"Kivo9Data/Kivo9.exe"));
  EXPECT_EQ(paths.postUpgradeCopy, dir + platform::NativePath(L"Kivo9Data/Kivo9PostUpgrade.exe"));
  // Unknown own path: everything relative to the current directory.
  EXPECT_EQ(DeriveLauncherPaths(L"").browser, platform::NativePath(L"Kivo9Data/Kivo9.exe"));
  EXPECT_EQ(DeriveLauncherPaths(L"Kivo9").programDir, L"");
}

TEST(CommandLineTail, DropsTheProgramNameAndTheBlanksAfterIt) {
  EXPECT_EQ(CommandLineTail(L"\"C:\\Kivo 9\\Kivo9.exe\"  x \"y z\" "), L"x \"y z\" ");
  EXPECT_EQ(CommandLineTail(L"\"C:\\Kivo 9\\Kivo9.exe\"x"), L"x");
  EXPECT_EQ(CommandLineTail(L"Kivo9.exe\t\r\n\x01 -a"), L"-a");
  EXPECT_EQ(CommandLineTail(L"Kivo9.exe"), L"");
  EXPECT_EQ(CommandLineTail(L"\"unterminated name x"), L"");
  EXPECT_EQ(CommandLineTail(L""), L"");
}

TEST(FirstPlainArgument, SkipsSwitchesAndEmptyArguments) {
  EXPECT_EQ(FirstPlainArgument({L"k", L"-a", L"/b", L"", L"x", L"y"}), L"x");
  EXPECT_EQ(FirstPlainArgument({L"k", L"-wkivo", L"/x"}), L"");
  EXPECT_EQ(FirstPlainArgument({L"plain-program-name"}), L"");
  EXPECT_EQ(FirstPlainArgument({}), L"");
}

TEST(LeadingNumber, ReadsLikeAtol) {
  EXPECT_EQ(LeadingNumber(L"3"), 3);
  EXPECT_EQ(LeadingNumber(L" \t-7seconds"), -7);
  EXPECT_EQ(LeadingNumber(L"+12"), 12);
  EXPECT_EQ(LeadingNumber(L"abc"), 0);
  EXPECT_EQ(LeadingNumber(L"- 5"), 0);
  EXPECT_EQ(LeadingNumber(L""), 0);
  // Only the first 19 bytes count, and no digit string overflows.
  EXPECT_EQ(LeadingNumber(L"1234567890123456789012"), 1234567890123456789);
  EXPECT_EQ(LeadingNumber(L"9999999999999999999"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(LeadingNumber(L"                   5"), 0);  // the digit is byte 20
}

TEST(WaitMilliseconds, NeverWrapsOrTurnsNegative) {
  EXPECT_EQ(WaitMilliseconds(0), 0u);
  EXPECT_EQ(WaitMilliseconds(-5), 0u);
  EXPECT_EQ(WaitMilliseconds(3), 3000u);
  EXPECT_EQ(WaitMilliseconds(4294967), 4294967000u);
  EXPECT_EQ(WaitMilliseconds(4294968), kLongestWaitMs);
  EXPECT_EQ(WaitMilliseconds(2147484), 2147484000u);  // past the signed 32-bit range
  EXPECT_EQ(WaitMilliseconds(std::numeric_limits<std::int64_t>::max()), kLongestWaitMs);
}

TEST(BrowserStart, TailIsPassedOnUnchanged) {
  EXPECT_EQ(StartFor(L"k \"C:\\my files\\page.htm\"").parameters, L"\"C:\\my files\\page.htm\"");
  EXPECT_EQ(StartFor(L"k   a -b \"c d\"  ").parameters, L"a -b \"c d\"  ");
  EXPECT_EQ(StartFor(L"k 3 -wkivo").parameters, L"3 -wkivo");  // no blank: no switch
  EXPECT_EQ(StartFor(L"k 3 -wkivo").waitMs, 0u);
}

TEST(BrowserStart, NothingIsPassedWithoutAPlainArgument) {
  for (const wchar_t* commandLine : {L"k", L"", L"k -a /b", L"k \"-wkivo \"", L"k \"\" -x"}) {
    const BrowserStart start = StartFor(commandLine);
    EXPECT_EQ(start.parameters, L"") << platform::ToUtf8(commandLine);
    EXPECT_EQ(start.waitMs, 0u) << platform::ToUtf8(commandLine);
  }
}

TEST(BrowserStart, WaitSwitchDelaysAndDropsTheParameters) {
  const struct {
    const wchar_t* commandLine;
    std::uint32_t waitMs;
  } cases[] = {
      {L"k -wkivo 3", 3000},     {L"k 3 \"-wkivo \"", 3000},  // inside a quoted argument too
      {L"k -wkivo 0", 0},        {L"k -wkivo -2", 0},
      {L"k -wkivo page.htm", 0}, {L"k -wkivo 99999999999", kLongestWaitMs},
  };
  for (const auto& c : cases) {
    const BrowserStart start = StartFor(c.commandLine);
    EXPECT_EQ(start.waitMs, c.waitMs) << platform::ToUtf8(c.commandLine);
    EXPECT_EQ(start.parameters, L"") << platform::ToUtf8(c.commandLine);
  }
  EXPECT_EQ(StartFor(L"k -WKIVO 3").parameters, L"-WKIVO 3");  // case-sensitive
}

}  // namespace
}  // namespace launcher
