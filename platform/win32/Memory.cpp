#include "platform/Memory.h"

#include <malloc.h>

#include "platform/win32/WindowsHeaders.h"

namespace platform {

void ReleaseFreeHeapMemory() {
    // The C run time's heap, then the process heap that it may share.
    ::_heapmin();
    ::HeapCompact(::GetProcessHeap(), 0);
}

}  // namespace platform
