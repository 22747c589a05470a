#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace {

using platform::Event;
using namespace std::chrono_literals;

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
    Event e(Event::Reset::kManual);
    EXPECT_FALSE(e.TryWait());
    e.Set();
    EXPECT_TRUE(e.TryWait());
    EXPECT_TRUE(e.TryWait());
    e.ResetEvent();
    EXPECT_FALSE(e.TryWait());
    EXPECT_FALSE(e.Wait(1ms));
}

TEST(EventTest, AutoResetReleasesOneWaitAndResets) {
    Event e(Event::Reset::kAuto, true);
    EXPECT_TRUE(e.TryWait());
    EXPECT_FALSE(e.TryWait());
    e.Set();
    EXPECT_TRUE(e.Wait(1ms));
    EXPECT_FALSE(e.TryWait());
}

TEST(EventTest, WaitWakesWhenAnotherThreadSets) {
    Event e(Event::Reset::kAuto);
    std::thread setter([&e] {
        std::this_thread::sleep_for(20ms);
        e.Set();
    });
    EXPECT_TRUE(e.Wait());
    setter.join();
}

TEST(EventTest, WaitAnyReturnsTheSignalledEventLowestIndexFirst) {
    Event stopRequest(Event::Reset::kAuto);
    Event stopped(Event::Reset::kManual);
    stopped.Set();
    stopRequest.Set();
    EXPECT_EQ(Event::WaitAny({&stopRequest, &stopped}), 0u);  // consumed the auto-reset one
    EXPECT_EQ(Event::WaitAny({&stopRequest, &stopped}), 1u);

    Event a(Event::Reset::kAuto);
    Event b(Event::Reset::kAuto);
    std::atomic<std::size_t> woke{99};
    std::thread waiter([&] { woke = Event::WaitAny({&a, &b}); });
    std::this_thread::sleep_for(20ms);
    b.Set();
    waiter.join();
    EXPECT_EQ(woke.load(), 1u);
    EXPECT_FALSE(b.TryWait());  // the waiter consumed it
}

TEST(EventTest, ManySettersNeverLoseAWakeUp) {
    for (int round = 0; round < 200; ++round) {
        Event a(Event::Reset::kAuto);
        Event b(Event::Reset::kAuto);
        std::thread setter([&] { (round % 2 ? a : b).Set(); });
        std::size_t index = Event::WaitAny({&a, &b});
        setter.join();
        EXPECT_EQ(index, round % 2 ? 0u : 1u);
    }
}

// Overwrites the stack below the caller, where the frame of a WaitAny that has returned was: a
// waiter that a late Set() still told would then be a mutex that looks locked for ever.
[[gnu::noinline]] void ScribbleStack() {
    volatile unsigned char bytes[8192];
    std::memset(const_cast<unsigned char*>(bytes), 0xff, sizeof bytes);
}

TEST(EventTest, ASetThatRacesTheEndOfAWaitAnyNeverTouchesTheGoneWaiter) {
    // One thread waits on {a, b} again and again and is woken by b; another sets a all the while,
    // as the service main sets the scheduler's stop event while the scheduler's main loop, woken by
    // its dispatch event, leaves its wait.
    Event a(Event::Reset::kAuto);
    Event b(Event::Reset::kAuto);
    std::atomic<bool> done{false};
    std::atomic<int> waits{0};
    std::thread waiter([&] {
        for (int i = 0; i < 200000; ++i) {
            b.Set();
            Event::WaitAny({&a, &b});
            ScribbleStack();
            waits.fetch_add(1);
        }
        done = true;
    });
    // More setters than cores, so that a setter is preempted between the steps of a Set().
    std::vector<std::thread> setters;
    for (int i = 0; i < 6; ++i) {
        setters.emplace_back([&] {
            while (!done) {
                a.Set();
            }
        });
    }
    // A guard against a hang, not a measure of speed: a deadlocked thread cannot be joined.
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    if (!done) {
        ADD_FAILURE() << "a Set() hung on a waiter that had gone, after " << waits.load()
                      << " waits";
        std::_Exit(1);
    }
    waiter.join();
    for (std::thread& setter : setters) {
        setter.join();
    }
    EXPECT_EQ(waits.load(), 200000);
}

}  // namespace
