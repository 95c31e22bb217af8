// UpgradeAgent: asks the version server for a newer build and has its package unpacked.
#include "agent/run/run_sequence.h"
#include "platform/entry.h"

namespace {
// Every ordinary end gives 1, whatever the outcome; an exception gives 3.
constexpr int kExitRunEnded = 1;
constexpr int kExitException = 3;
}  // namespace

int ProgramMain(int argc, wchar_t**) {
  try {
    RunAgent(argc);
    return kExitRunEnded;
  } catch (...) {
    return kExitException;  // nothing is printed: the run simply ends
  }
}
