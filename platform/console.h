// Console text output and the final key wait.
#pragma once

#include <string_view>

namespace platform {

// Sets the runtime locale so that wide output is converted for the console (".OCP" on
// Windows; elsewhere the user's locale, or C.UTF-8 when that is the plain C locale).
void SetConsoleLocale();

// Wide text to standard output or standard error through the runtime's wide output, which
// makes the stream wide-oriented (standard error is flushed at once). Text stops at an
// embedded NUL; characters the locale cannot show end the text.
void WriteOut(std::wstring_view text);
void WriteErr(std::wstring_view text);

// Waits for one character on standard input (a console delivers it with Enter). Returns at
// once when standard input is closed or is not an interactive console, so it never hangs.
void WaitForKey();

}  // namespace platform
