// Wide entry point of a console program.
#include "platform/entry.h"

int wmain(int argc, wchar_t** argv) {
  platform::KeepFreedMemoryForReuse();
  return ProgramMain(argc, argv);
}
