// A thread with a stack of a chosen size, for work whose recursion outgrows the stack that threads
// get by default (1 MiB on Windows, 8 MiB on most Linux systems).
#pragma once

#include <cstddef>
#include <functional>
#include <system_error>

namespace platform {

// Runs `body` on a new thread whose stack holds `stackSize` bytes (rounded up as the system
// requires), and returns once it has ended. The stack is reserved address space; only the part
// the body touches takes memory, and all of it is given back when the thread ends. What `body`
// throws is caught on its thread and thrown again here, on the caller's. An error means the
// thread could not be started and `body` did not run.
std::error_code RunOnStackThread(std::size_t stackSize, const std::function<void()>& body);

}  // namespace platform
