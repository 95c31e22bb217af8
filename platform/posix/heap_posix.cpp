#include <malloc.h>

#include "platform/entry.h"

namespace platform {

void KeepFreedMemoryForReuse() {
#ifdef __GLIBC__
  // Blocks up to glibc's limit of 32 MiB come from the heap rather than from mappings of their
  // own, and up to 256 MiB of free heap stays mapped.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
#endif
}

}  // namespace platform
