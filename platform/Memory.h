// The heap of the process.
#pragma once

namespace platform {

// Hands the memory that the C library's heap holds free back to the system. The allocator keeps
// freed pages for reuse, and gives back only what lies at the top of a heap; after a burst of
// short-lived blocks (a backlog of queued traps) most of them lie between blocks still in use,
// so without this the process would keep its peak size for the rest of its run. Costs a walk
// over the heap: call it after such a burst, not routinely.
void ReleaseFreeHeapMemory();

}  // namespace platform
