#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/test_support.h"
#include "platform/text.h"
#include "platform_native.h"

namespace platform {
namespace {

constexpr char kMarkerSwitch[] = "--kivo_marker=";

TEST(Process, OwnExecutablePathNamesThisProgram) {
  const std::wstring path = OwnExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(PathQuery(path));
  EXPECT_NE(path.find(L"platform_tests"), std::wstring::npos) << ToUtf8(path);
}

TEST(Process, SystemMessagesHaveText) {
  EXPECT_FALSE(PathQuery(L"surely-missing-file-kivo"));
  const std::uint32_t code = LastErrorCode();
  EXPECT_NE(code, 0u);
  EXPECT_FALSE(SystemErrorMessage(code).empty());
}

TEST(Process, StartingAMissingProgramFails) {
  ScopedTempDir temp;
  ASSERT_FALSE(temp.path().empty());
  EXPECT_FALSE(StartProgram(temp.path() + L"missing-program", L"a b", L"", false));
}

// Run only as the started child of the test below: writes its working directory and the
// arguments after the marker switch into the marker file, ending with "end".
TEST(ProcessChild, ReportsWhereItRuns) {
  const std::vector<std::string> argv = ::testing::internal::GetArgvs();
  std::string marker, report = ToUtf8(CurrentDirectory()) + "\n";
  for (const std::string& argument : argv) {
    if (!marker.empty()) report += argument + "\n";
    if (argument.rfind(kMarkerSwitch, 0) == 0) marker = argument.substr(sizeof kMarkerSwitch - 1);
  }
  if (marker.empty()) GTEST_SKIP() << "runs only when started by the test of StartProgram";
  ASSERT_TRUE(WriteWholeFile(FromUtf8(marker), report + "end\n"));
}

// Starts this test program again, detached, in another directory, with arguments that need
// quoting; the child reports back through a file. The wait is generous because a start
// under an emulator is slow; it is no measure of speed.
TEST(Process, StartsInTheWorkingDirectoryWithSplitArguments) {
  ScopedTempDir temp;
  ASSERT_FALSE(temp.path().empty());
  const std::wstring marker = temp.path() + L"marker";
  const std::wstring workDir = temp.path() + L"work";
  ASSERT_TRUE(MakeDirectory(workDir));
  const std::wstring parameters = L"--gtest_filter=ProcessChild.* \"" + FromUtf8(kMarkerSwitch) +
                                  marker + L"\" \"two words\" a\\\"b";
  ASSERT_TRUE(StartProgram(OwnExecutablePath(), parameters, workDir, true));
  std::string report;
  for (int i = 0; i < 1200; ++i) {
    report = ReadWholeFile(marker);
    if (report.size() >= 4 && report.substr(report.size() - 4) == "end\n") break;
    SleepMilliseconds(50);
  }
  EXPECT_EQ(report, ToUtf8(workDir) + "\ntwo words\na\"b\nend\n");
}

// A child moved onto itself stays held; one moved onto a holder replaces the child held
// there (which is let go, not waited for) and is the one waited for.
TEST(Process, AMovedChildIsTheOneWaitedFor) {
  const std::wstring quick = L"--gtest_filter=ProcessChild.*";
  ChildProcess held, moved;
  ASSERT_TRUE(held.Start(OwnExecutablePath(), quick, L""));
  ASSERT_TRUE(moved.Start(OwnExecutablePath(), quick, L""));
  ChildProcess& same = held;
  held = std::move(same);
  ASSERT_TRUE(held.IsStarted());
  held = std::move(moved);
  EXPECT_FALSE(moved.IsStarted());
  std::uint32_t code = 99;
  ASSERT_TRUE(held.Wait(120000, code));
  EXPECT_EQ(code, 0u);
  std::uint32_t none = 99;
  EXPECT_FALSE(moved.Wait(0, none));
}

}  // namespace
}  // namespace platform
