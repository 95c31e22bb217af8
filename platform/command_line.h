// The Windows rules for command lines, used on every platform so that a command line
// passed on by the launcher reaches the started program as the same arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a whole command line into its arguments, program name first. The program name
// ends at the next quote when it begins with one, else at the first blank or tab; the
// other arguments follow the C runtime's rules (blanks separate, quotes group, 2n
// backslashes before a quote give n and the quote groups, 2n+1 give n and a literal
// quote, "" inside quotes gives a literal quote).
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);

// Splits a parameter text that holds no program name.
std::vector<std::wstring> SplitParameters(std::wstring_view parameters);

// Quotes one argument so that SplitParameters gives it back unchanged.
std::wstring QuoteArgument(std::wstring_view argument);

// Joins arguments, each quoted as needed, separated by single blanks.
std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

}  // namespace platform
