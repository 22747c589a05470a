// Tests of the worker threads' owner: the order of start and stop, the end of a blocked worker
// and what a body throws.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "traps/WorkerThreads.h"

namespace {

// How a worker sleeps until its stop: in a wait that takes the stop token, or on an event that
// a stop callback sets.
enum class Sleep { kStopTokenWait, kStopCallback };

// What the workers of one group saw, under one lock.
struct Record {
    std::mutex mutex;
    std::condition_variable_any cv;
    std::vector<std::string> log;
    std::vector<std::stop_token> tokens;  // of each worker, by its index
    std::vector<std::string> faults;      // a worker that saw its stop out of turn
};

// Body of worker `index` of `count`: logs its start, sleeps until its stop, checks that exactly
// the workers started after it have been asked to stop, logs its end and throws if asked to.
void RunWorker(Record& record, int index, int count, Sleep sleep, bool throws, std::stop_token stop,
               platform::Event& started) {
    {
        std::lock_guard<std::mutex> lock(record.mutex);
        record.log.push_back("start " + std::to_string(index));
        record.tokens[index] = stop;
    }
    started.Set();
    if (sleep == Sleep::kStopTokenWait) {
        std::unique_lock<std::mutex> lock(record.mutex);
        record.cv.wait(lock, stop, [] { return false; });
    } else {
        platform::Event stopRequested(platform::Event::Reset::kManual);
        std::stop_callback wake(stop, [&stopRequested] { stopRequested.Set(); });
        stopRequested.Wait();
    }
    {
        std::lock_guard<std::mutex> lock(record.mutex);
        for (int other = 0; other < count; ++other) {
            if (record.tokens[other].stop_requested() != (other >= index)) {
                record.faults.push_back("worker " + std::to_string(index) + " stopped while " +
                                        std::to_string(other) + " was " +
                                        (other >= index ? "not asked to stop" : "asked to stop"));
            }
        }
        record.log.push_back("end " + std::to_string(index));
    }
    if (throws) {
        throw std::runtime_error("worker " + std::to_string(index));
    }
}

TEST(WorkerThreadsTest, WorkersStopInTheReverseOrderOfTheirStartAndKeepWhatTheyThrew) {
    struct Case {
        const char* what;
        int workers;
        Sleep sleep;
        std::vector<int> throwing;
        std::string failure;  // what StopAll returns, empty for none
    };
    const Case cases[] = {
        {"one worker in a stop-token wait", 1, Sleep::kStopTokenWait, {}, ""},
        {"four workers in stop-token waits", 4, Sleep::kStopTokenWait, {}, ""},
        {"four workers woken by stop callbacks", 4, Sleep::kStopCallback, {}, ""},
        {"the only worker throws", 1, Sleep::kStopCallback, {0}, "worker 0"},
        {"a middle worker throws", 3, Sleep::kStopTokenWait, {1}, "worker 1"},
        // Stopped first, the last started is the first failure of the stop.
        {"two workers throw", 4, Sleep::kStopCallback, {0, 2}, "worker 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record record;
        record.tokens.resize(c.workers);
        CWorkerThreads workers;
        std::vector<std::string> expected;
        for (int i = 0; i < c.workers; ++i) {
            const bool throws =
                std::find(c.throwing.begin(), c.throwing.end(), i) != c.throwing.end();
            // Each is under way before the next starts, so that the log shows the order of start.
            platform::Event started(platform::Event::Reset::kManual);
            workers.Start([&record, &started, i, c, throws](std::stop_token stop) {
                RunWorker(record, i, c.workers, c.sleep, throws, std::move(stop), started);
            });
            started.Wait();
            expected.push_back("start " + std::to_string(i));
        }
        EXPECT_FALSE(workers.Empty());
        for (int i = c.workers - 1; i >= 0; --i) {
            expected.push_back("end " + std::to_string(i));
        }

        const std::exception_ptr failure = workers.StopAll();

        EXPECT_TRUE(workers.Empty());
        EXPECT_EQ(record.log, expected);
        EXPECT_EQ(record.faults, std::vector<std::string>{});
        if (c.failure.empty()) {
            EXPECT_FALSE(failure);
        } else {
            ASSERT_TRUE(failure);
            try {
                std::rethrow_exception(failure);
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(std::string(e.what()), c.failure);
            }
        }
        // Nothing is left to stop: a second stop finds no worker and no failure.
        EXPECT_FALSE(workers.StopAll());
    }
}

// The stop's requester runs a stop callback while the worker, woken by it, already leaves and
// destroys the callback: the destructor then waits for the callback to finish. Done many times,
// a wake-up lost in that hand-over (as the default semaphores of some toolchains lose it) leaves
// StopAll waiting for ever.
TEST(WorkerThreadsTest, AWorkerThatLeavesWhileItsStopCallbackRunsIsWaitedFor) {
    constexpr int kRounds = 500;
    int ended = 0;
    for (int round = 0; round < kRounds; ++round) {
        CWorkerThreads workers;
        platform::Event registered(platform::Event::Reset::kManual);
        workers.Start([&](std::stop_token stop) {
            platform::Event stopRequested(platform::Event::Reset::kManual);
            std::stop_callback wake(stop, [&stopRequested] { stopRequested.Set(); });
            registered.Set();
            stopRequested.Wait();
            if (stop.stop_requested()) {
                ++ended;
            }
        });
        registered.Wait();
        EXPECT_FALSE(workers.StopAll());
    }
    EXPECT_EQ(ended, kRounds);
}

}  // namespace
