// Wide entry point of a GUI-subsystem program; it never opens a window.
#include <windows.h>

#include <cstdlib>

#include "platform/entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  platform::KeepFreedMemoryForReuse();
  return ProgramMain(__argc, __wargv);
}
