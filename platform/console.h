// Console text output and the final key wait.
#pragma once

#include <string_view>

namespace platform {

// Sets the runtime locale so that wide output is converted for the console (".OCP" on
// Windows, the user's locale elsewhere).
void SetConsoleLocale();

// Wide text to standard output or standard error (standard error is flushed at once).
void WriteOut(std::wstring_view text);
void WriteErr(std::wstring_view text);

// Waits for one character on standard input. Returns at once when standard input is
// closed or is not an interactive console.
void WaitForKey();

}  // namespace platform
