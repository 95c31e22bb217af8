// One run of the agent, from its directories to its end.
#pragma once

#include "agent/run/run_inputs.h"

// The whole run for a command line of argc arguments (the program name included): any
// argument selects the silent mode. An exception from any step is left for the entry point.
void RunAgent(int argc);

// Messages 2 and 3.
void PrintBanner(const RunInputs& run);

// In console mode, message 7 and the wait for one key.
void FinishRun(const RunInputs& run);
