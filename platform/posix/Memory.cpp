#include "platform/Memory.h"

#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void ReleaseFreeHeapMemory() {
#if defined(__GLIBC__)
    // Every arena, and the free pages inside them too, not only their tops.
    ::malloc_trim(0);
#endif
}

}  // namespace platform
