// In-process event objects with the semantics of Win32 events: manual-reset events stay signalled
// until reset; auto-reset events release one waiter and reset themselves. Portable: built on the
// standard library's mutexes and condition variables on every platform.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace platform {

class Event {
  public:
    enum class Reset { kManual, kAuto };

    explicit Event(Reset reset, bool initiallySignalled = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event();

    void Set();
    void ResetEvent();

    // True when the event is signalled, without waiting. An auto-reset event is consumed by it.
    bool TryWait();
    // Waits at most `timeout` (forever when it is max()). True when the event was signalled.
    bool Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds::max());

    // Waits for the first of `events` to be signalled, without a time-out, and returns its index.
    // When several are signalled, the lowest index wins, as WaitForMultipleObjects does.
    static std::size_t WaitAny(const std::vector<Event*>& events);

  private:
    struct Waiter {
        std::mutex mutex;
        std::condition_variable cv;
        bool woken = false;
    };
    bool ConsumeLocked();
    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);

    std::mutex m_mutex;
    std::condition_variable m_cv;
    const Reset m_reset;
    bool m_signalled;
    std::vector<Waiter*> m_waiters;  // WaitAny callers sleeping on this event
};

}  // namespace platform
