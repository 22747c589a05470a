#include "platform/StackThread.h"

#include <exception>
#include <functional>

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WindowsHeaders.h"

// Stopping a worker waits on a C++20 semaphore (std::stop_callback); libstdc++'s default one can
// lose a wake-up on Windows, its POSIX one cannot (cmake/Windows.cmake sets the choice).
#if defined(__GLIBCXX__) && !_GLIBCXX_USE_POSIX_SEMAPHORE
#error "build with _GLIBCXX_USE_POSIX_SEMAPHORE=1: the default semaphores can hang a thread's stop"
#endif

namespace platform {
namespace {

// What the thread runs and what it ended with, on the caller's stack until the thread has ended.
struct Start {
    const std::function<void()>* body;
    std::exception_ptr failure;
};

// Nothing may leave the thread's entry, which the system calls: an exception is kept for the
// caller.
void RunBody(Start& start) {
    try {
        (*start.body)();
    } catch (...) {
        start.failure = std::current_exception();
    }
}

DWORD WINAPI ThreadMain(LPVOID start) {
    RunBody(*static_cast<Start*>(start));
    return 0;
}

}  // namespace

std::error_code RunOnStackThread(std::size_t stackSize, const std::function<void()>& body) {
    Start start{&body, nullptr};
    // The size is the stack's reservation; pages are committed as the thread touches them.
    win32::UniqueHandle thread(::CreateThread(nullptr, stackSize, &ThreadMain, &start,
                                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread.IsValid()) {
        return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
    }
    if (::WaitForSingleObject(thread.Get(), INFINITE) != WAIT_OBJECT_0) {
        return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
    }
    if (start.failure) {
        std::rethrow_exception(start.failure);
    }
    return {};
}

}  // namespace platform
