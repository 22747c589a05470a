#include "platform/StackThread.h"

#include <pthread.h>

#include <exception>
#include <functional>

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

void* ThreadMain(void* start) {
    RunBody(*static_cast<Start*>(start));
    return nullptr;
}

// The attributes object, destroyed on every path.
class Attributes {
  public:
    Attributes() : m_rc(pthread_attr_init(&m_attr)) {}
    ~Attributes() {
        if (m_rc == 0) {
            pthread_attr_destroy(&m_attr);
        }
    }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;

    int InitResult() const { return m_rc; }
    pthread_attr_t* Get() { return &m_attr; }

  private:
    pthread_attr_t m_attr{};
    int m_rc;
};

}  // namespace

std::error_code RunOnStackThread(std::size_t stackSize, const std::function<void()>& body) {
    Attributes attributes;
    if (attributes.InitResult() != 0) {
        return std::error_code(attributes.InitResult(), std::generic_category());
    }
    const auto smallest = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    if (stackSize < smallest) {
        stackSize = smallest;
    }
    int rc = pthread_attr_setstacksize(attributes.Get(), stackSize);
    if (rc != 0) {
        return std::error_code(rc, std::generic_category());
    }
    Start start{&body, nullptr};
    pthread_t thread{};
    rc = pthread_create(&thread, attributes.Get(), &ThreadMain, &start);
    if (rc != 0) {
        return std::error_code(rc, std::generic_category());
    }
    rc = pthread_join(thread, nullptr);
    if (rc != 0) {
        return std::error_code(rc, std::generic_category());
    }
    if (start.failure) {
        std::rethrow_exception(start.failure);
    }
    return {};
}

}  // namespace platform
