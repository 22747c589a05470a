#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

}  // namespace
