#include "platform/StackThread.h"

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

struct Start {
    void (*body)(void*);
    void* context;
};

DWORD WINAPI ThreadMain(LPVOID start) {
    const Start* s = static_cast<const Start*>(start);
    s->body(s->context);
    return 0;
}

}  // namespace

std::error_code RunOnStackThread(std::size_t stackSize, void (*body)(void*), void* context) {
    Start start{body, context};
    // The size is the stack's reservation; pages are committed as the thread touches them.
    win32::UniqueHandle thread(::CreateThread(nullptr, stackSize, &ThreadMain, &start,
                                              STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread.IsValid()) {
        return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
    }
    if (::WaitForSingleObject(thread.Get(), INFINITE) != WAIT_OBJECT_0) {
        return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
    }
    return {};
}

}  // namespace platform
