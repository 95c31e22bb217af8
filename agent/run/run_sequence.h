// One run of the agent, from its directories to its exit code.
#pragma once

// The whole run for a command line of argc arguments (the program name included): any
// argument selects the silent mode. Returns the exit code of an ordinary end, 1; an exception
// from any step leaves it for the entry point to turn into exit code 3.
int RunAgent(int argc);

// Messages 2 and 3.
void PrintBanner();

// In console mode, message 7 and the wait for one key. Returns the exit code, 1.
int FinishRun();
