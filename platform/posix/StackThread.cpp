#include "platform/StackThread.h"

#include <pthread.h>

namespace platform {
namespace {

struct Start {
    void (*body)(void*);
    void* context;
};

void* ThreadMain(void* start) {
    const Start* s = static_cast<const Start*>(start);
    s->body(s->context);
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

std::error_code RunOnStackThread(std::size_t stackSize, void (*body)(void*), void* context) {
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
    Start start{body, context};
    pthread_t thread{};
    rc = pthread_create(&thread, attributes.Get(), &ThreadMain, &start);
    if (rc != 0) {
        return std::error_code(rc, std::generic_category());
    }
    rc = pthread_join(thread, nullptr);
    return rc == 0 ? std::error_code() : std::error_code(rc, std::generic_category());
}

}  // namespace platform
