#include "agent/base/console_mode.h"

bool ConsoleMode = false;
