#include <unistd.h>

#include "platform/terminal.h"

namespace platform {

bool StandardOutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace platform
