// Each program defines ProgramMain; the platform's entry file calls it with wide arguments.
#pragma once

int ProgramMain(int argc, wchar_t** argv);

namespace platform {
// Tunes the heap for a short run that builds and drops buffers of tens of megabytes (whole
// INI files and their index): freed memory stays with the process for reuse instead of going
// back to the system, which would hand it out again page by page at a cost above that of the
// work done in it. The entry calls it first.
void KeepFreedMemoryForReuse();

// Keeps the raw arguments for ProcessCommandLine() where the system has no command line.
void RememberArguments(int argc, char** argv);
}  // namespace platform
