// What one run of the agent decides by: its places, its mode, the keys it trusts and the
// time it started. Formed once by RunAgent and passed down, so that code that decides reads
// its inputs, and a test can give it others.
#pragma once

#include <cstdint>

#include "agent/base/layout.h"
#include "agent/base/refusal_report.h"
#include "agent/trust/release_keys.h"

struct RunInputs {
  AgentLayout layout;
  // ConsoleMode: started without arguments, so a person is watching; otherwise silent.
  bool consoleMode = false;
  // The release keys; without any, every page counts.
  ReleaseKeys keys;
  // Seconds since the epoch when the run started.
  std::int64_t now = 0;
  // Where what the run refuses goes; empty: nowhere.
  RefusalReport refused;

  // The inputs of the running agent for a command line of argc arguments (the program name
  // included): any argument selects the silent mode. Refusals go nowhere yet.
  static RunInputs OfRunningAgent(int argc);
};
