#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

using Args = std::vector<std::wstring>;

TEST(CommandLine, SplitsByTheRuntimeRules) {
  EXPECT_EQ(SplitCommandLine(L"prog a  b\tc"), (Args{L"prog", L"a", L"b", L"c"}));
  EXPECT_EQ(SplitCommandLine(L"\"C:\\Program Files\\k.exe\" x"),
            (Args{L"C:\\Program Files\\k.exe", L"x"}));
  EXPECT_EQ(SplitCommandLine(L"p \"a b\" c\"d e\"f"), (Args{L"p", L"a b", L"cd ef"}));
  EXPECT_EQ(SplitCommandLine(L"p a\\\\\"b c\" d\\\"e f\\g"),
            (Args{L"p", L"a\\b c", L"d\"e", L"f\\g"}));
  EXPECT_EQ(SplitCommandLine(L"p \"\" \"a\"\"b\""), (Args{L"p", L"", L"a\"b"}));
  EXPECT_EQ(SplitCommandLine(L"p \"open"), (Args{L"p", L"open"}));
  EXPECT_EQ(SplitCommandLine(L""), (Args{L""}));
  EXPECT_EQ(SplitParameters(L"  "), Args{});
}

TEST(CommandLine, QuotedArgumentsSplitBackUnchanged) {
  const Args awkward = {
      L"plain",   L"",  L"two words", L"tail\\", L"in\"side", L"\\\\\"", L"C:\\dir with space\\",
      L"-wkivo ", L"\t"};
  EXPECT_EQ(SplitParameters(JoinArguments(awkward)), awkward);
  EXPECT_EQ(QuoteArgument(L"plain"), L"plain");
  EXPECT_EQ(QuoteArgument(L"a b\\"), L"\"a b\\\\\"");
}

}  // namespace
}  // namespace platform
