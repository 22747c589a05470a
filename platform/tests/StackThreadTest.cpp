// Tests of the big-stack thread: the body runs on it with the stack asked for, and what it throws
// reaches the caller as it was thrown.
#include <gtest/gtest.h>

#include <cstddef>
#include <new>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/StackThread.h"

namespace {

// Recursion that needs about `depth` kilobytes of stack: far more than a default thread's for the
// depth below, so the search runs only on a stack of the size asked for.
std::size_t Descend(std::size_t depth) {
    volatile char frame[1024];
    frame[0] = 1;
    return depth == 0 ? 0 : Descend(depth - 1) + static_cast<std::size_t>(frame[0]);
}

TEST(StackThreadTest, TheBodyRunsOnAThreadOfItsOwnWithTheStackAskedFor) {
    constexpr std::size_t kDepth = 48 * 1024;  // about 48 MiB of frames
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id ranOn;
    std::size_t result = 0;
    const std::error_code ec = platform::RunOnStackThread(std::size_t{128} << 20, [&] {
        ranOn = std::this_thread::get_id();
        result = Descend(kDepth);
    });
    ASSERT_FALSE(ec) << ec.message();
    EXPECT_NE(ranOn, caller);
    EXPECT_EQ(result, kDepth);
}

TEST(StackThreadTest, WhatTheBodyThrowsReachesTheCallerAsItWasThrown) {
    struct Case {
        const char* what;
        void (*body)();
        std::string caught;  // the type caught, then what() where it tells something
    };
    const Case cases[] = {
        {"regex error", [] { throw std::regex_error(std::regex_constants::error_stack); },
         "regex_error error_stack"},
        {"runtime error", [] { throw std::runtime_error("on the stack thread"); },
         "runtime_error on the stack thread"},
        {"out of memory", [] { throw std::bad_alloc(); }, "bad_alloc"},
        {"not an exception class", [] { throw 42; }, "int 42"},
        {"nothing", [] {}, "nothing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string caught = "nothing";
        try {
            const std::error_code ec = platform::RunOnStackThread(std::size_t{1} << 20, c.body);
            ASSERT_FALSE(ec) << ec.message();
        } catch (const std::regex_error& e) {
            caught = std::string("regex_error ") +
                     (e.code() == std::regex_constants::error_stack ? "error_stack" : "other");
        } catch (const std::runtime_error& e) {
            caught = std::string("runtime_error ") + e.what();
        } catch (const std::bad_alloc&) {
            caught = "bad_alloc";
        } catch (int value) {
            caught = "int " + std::to_string(value);
        }
        EXPECT_EQ(caught, c.caught);
    }
}

}  // namespace
