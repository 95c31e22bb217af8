// Download progress for a person at a terminal: one line, rewritten in place.
#pragma once

#include <memory>

#include "agent/http/transfer_limits.h"

// A progress line on standard output; nullptr when standard output is not a terminal, so
// that scripted runs see exactly the messages and nothing else.
std::unique_ptr<DownloadProgress> MakeTerminalProgress();
