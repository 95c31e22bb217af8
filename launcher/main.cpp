// Kivo9: installs a pending update, then starts the browser. It shows nothing and always
// ends with exit code 0.
#include <string>
#include <vector>

#include "launcher/launch_sequence.h"
#include "platform/entry.h"

int ProgramMain(int argc, wchar_t** argv) {
  try {
    launcher::RunLauncher(std::vector<std::wstring>(argv, argv + argc));
  } catch (...) {
    // Whatever went wrong, the user only started the browser: no message, no other code.
  }
  return 0;
}
