// Whether a person watches the output.
#pragma once

namespace platform {

// True when standard output is an interactive terminal (a console window on Windows);
// false for a file, a pipe, or no output at all.
bool StandardOutputIsTerminal();

}  // namespace platform
