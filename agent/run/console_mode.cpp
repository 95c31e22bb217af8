#include "agent/run/console_mode.h"

bool ConsoleMode = false;
