#include "platform/Event.h"

#include <algorithm>

namespace platform {

Event::Event(Reset reset, bool initiallySignalled)
    : m_reset(reset), m_signalled(initiallySignalled) {}

Event::~Event() = default;

void Event::Set() {
    // The waiters of WaitAny are told under the event's lock: WaitAny removes its waiter under the
    // same lock before the waiter (an object of its frame) goes away, so none is told after it
    // has gone. Told after the lock was let go, a waiter whose WaitAny had returned in between
    // was written to in a frame that no longer existed, which hung or aborted the caller.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    if (m_reset == Reset::kManual) {
        m_cv.notify_all();
    } else {
        m_cv.notify_one();
    }
    for (Waiter* waiter : m_waiters) {
        std::lock_guard<std::mutex> waiterLock(waiter->mutex);
        waiter->woken = true;
        waiter->cv.notify_all();
    }
}

void Event::ResetEvent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
}

bool Event::ConsumeLocked() {
    if (!m_signalled) {
        return false;
    }
    if (m_reset == Reset::kAuto) {
        m_signalled = false;
    }
    return true;
}

bool Event::TryWait() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return ConsumeLocked();
}

bool Event::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeout == std::chrono::milliseconds::max()) {
        m_cv.wait(lock, [this] { return m_signalled; });
    } else if (!m_cv.wait_for(lock, timeout, [this] { return m_signalled; })) {
        return false;
    }
    return ConsumeLocked();
}

void Event::AddWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiters.push_back(waiter);
}

void Event::RemoveWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiters.erase(std::remove(m_waiters.begin(), m_waiters.end(), waiter), m_waiters.end());
}

std::size_t Event::WaitAny(const std::vector<Event*>& events) {
    Waiter waiter;
    for (Event* event : events) {
        event->AddWaiter(&waiter);
    }
    std::size_t found = events.size();
    while (found == events.size()) {
        {
            std::lock_guard<std::mutex> lock(waiter.mutex);
            waiter.woken = false;
        }
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (events[i]->TryWait()) {
                found = i;
                break;
            }
        }
        if (found != events.size()) {
            break;
        }
        // A Set() after the scan above has marked the waiter woken, so no signal is missed.
        std::unique_lock<std::mutex> lock(waiter.mutex);
        waiter.cv.wait(lock, [&waiter] { return waiter.woken; });
    }
    for (Event* event : events) {
        event->RemoveWaiter(&waiter);
    }
    return found;
}

}  // namespace platform
