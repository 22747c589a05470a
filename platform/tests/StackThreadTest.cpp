// Tests of the big-stack thread: what its body throws reaches the caller as it was thrown.
#include <gtest/gtest.h>

#include <new>
#include <regex>
#include <stdexcept>
#include <string>

#include "platform/StackThread.h"

namespace {

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
