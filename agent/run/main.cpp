// UpgradeAgent: asks the version server for a newer build and has its package unpacked.
#include "agent/run/run_sequence.h"
#include "platform/entry.h"

namespace {
constexpr int kExitException = 3;
}

int ProgramMain(int argc, wchar_t**) {
  try {
    return RunAgent(argc);
  } catch (...) {
    return kExitException;  // nothing is printed: the run simply ends
  }
}
