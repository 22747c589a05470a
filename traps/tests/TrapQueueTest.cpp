#include "traps/TrapQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::chrono::microseconds kNoWait{0};

TEST(TrapQueueTest, HandsOverInOrderAndCountsBytes) {
    CTrapQueue queue;
    queue.AppendTexts({"one", "two"});
    queue.AppendTexts({"three"});
    EXPECT_FALSE(queue.IsEmpty());
    EXPECT_EQ(queue.TakePeakBytes(), 11 * sizeof(wchar_t));
    EXPECT_EQ(queue.Pop(), L"one");
    EXPECT_EQ(queue.Pop(), L"two");
    // The peak starts again from what the queue held at the last look, and taking does not
    // lower it.
    EXPECT_EQ(queue.TakePeakBytes(), 11 * sizeof(wchar_t));
    EXPECT_EQ(queue.TakePeakBytes(), 5 * sizeof(wchar_t));
    EXPECT_EQ(queue.Pop(), L"three");
    EXPECT_EQ(queue.Pop(), L"");
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(TrapQueueTest, RoomBelowTheLimit) {
    struct Case {
        std::vector<std::string> texts;
        std::size_t limit;
        std::size_t room;
    };
    const Case cases[] = {
        {{}, 40, 40},
        {{"ab"}, 40, 40 - 2 * sizeof(wchar_t)},
        {{"abcdefghij"}, 10 * sizeof(wchar_t), 0},  // exactly full
        {{"abcdefghij", "k"}, 4, 0},                // past the limit by one append
    };
    for (const Case& c : cases) {
        CTrapQueue queue;
        queue.SetLimit(c.limit);
        queue.AppendTexts(c.texts);
        EXPECT_EQ(queue.WaitForRoom(kNoWait), c.room) << c.limit;
    }
}

TEST(TrapQueueTest, AFullQueueWaitsForRoomUntilATextIsTakenOrAWakeUp) {
    CTrapQueue queue;
    queue.SetLimit(1);
    queue.AppendTexts({"x"});
    std::thread taker([&queue] { EXPECT_EQ(queue.Pop(), L"x"); });
    EXPECT_EQ(queue.WaitForRoom(std::chrono::microseconds(-1)), 1u);
    taker.join();

    queue.AppendTexts({"y"});
    queue.WakeRoomWait();  // before the wait: ends the next one
    EXPECT_EQ(queue.WaitForRoom(std::chrono::microseconds(-1)), 0u);
}

TEST(TrapQueueTest, OneWakeUpEndsOneTextWait) {
    CTrapQueue queue;
    queue.WakeTextWait();
    EXPECT_FALSE(queue.WaitForText());
    std::thread appender([&queue] { queue.AppendTexts({"z"}); });
    EXPECT_TRUE(queue.WaitForText());
    appender.join();
    EXPECT_EQ(queue.Pop(), L"z");
    queue.AppendTexts({"w"});
    queue.Clear();
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_EQ(queue.WaitForRoom(kNoWait), CTrapQueue::kDefaultLimitBytes);
}

}  // namespace
