// Each program defines ProgramMain; the platform's entry file calls it with wide arguments.
#pragma once

int ProgramMain(int argc, wchar_t** argv);

namespace platform {
// Keeps the raw arguments for ProcessCommandLine() where the system has no command line.
void RememberArguments(int argc, char** argv);
}  // namespace platform
