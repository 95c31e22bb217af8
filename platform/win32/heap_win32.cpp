#include "platform/entry.h"

namespace platform {

// The process heap of Windows has no such setting at run time.
void KeepFreedMemoryForReuse() {}

}  // namespace platform
