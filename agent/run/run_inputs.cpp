#include "agent/run/run_inputs.h"

#include <chrono>

RunInputs RunInputs::OfRunningAgent(int argc) {
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return {AgentLayout::OfRunningAgent(), argc <= 1, BuiltInReleaseKeys(), now.count(), {}};
}
