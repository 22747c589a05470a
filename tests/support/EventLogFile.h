// Test helper: the events of the emulated Application log, oldest first (under Wine: the events
// that Wine showed, see WineEventLog.h).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/EventLog.h"
#ifdef _WIN32
#include "tests/support/WineEventLog.h"
#endif

namespace test {

inline std::vector<nlohmann::json> ReadEventLog() {
#ifdef _WIN32
    return ReadWineEventLog();
#endif
    std::vector<nlohmann::json> events;
    std::ifstream in(platform::ApplicationLogFile(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(event.is_discarded()) << line.substr(0, 200);
        events.push_back(std::move(event));
    }
    return events;
}

// The shown identifiers (EventID) of the events, in order.
inline std::vector<int> EventIds(const std::vector<nlohmann::json>& events) {
    std::vector<int> ids;
    for (const auto& e : events) {
        ids.push_back(e.value("EventID", -1));
    }
    return ids;
}

}  // namespace test
