// Test helper: the events of the emulated Application log under the current VORMA_SYSROOT (under
// Wine: the events that Wine showed, see WineEventLog.h).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Text.h"
#ifdef _WIN32
#include "tests/support/WineEventLog.h"
#endif

namespace test {

struct LoggedEvent {
    std::uint32_t eventIdentifier = 0;
    int eventType = -1;
    std::vector<std::wstring> strings;
};

// Every event written so far, oldest first; none when the log does not exist yet.
inline std::vector<LoggedEvent> ReadApplicationLog() {
    std::vector<LoggedEvent> events;
#ifdef _WIN32
    for (const nlohmann::json& object : ReadWineEventLog()) {
        LoggedEvent event;
        event.eventIdentifier = object.at("EventIdentifier").get<std::uint32_t>();
        event.eventType = object.at("EventType").get<int>();
        for (const auto& text : object.at("Strings")) {
            event.strings.push_back(platform::Utf8ToWide(text.get<std::string>()));
        }
        events.push_back(std::move(event));
    }
    return events;
#endif
    const char* root = std::getenv("VORMA_SYSROOT");
    if (root == nullptr) {
        return events;
    }
    std::ifstream in(std::filesystem::path(root) / "eventlog" / "Application.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        nlohmann::json object = nlohmann::json::parse(line);
        LoggedEvent event;
        event.eventIdentifier = object.at("EventIdentifier").get<std::uint32_t>();
        event.eventType = object.at("EventType").get<int>();
        for (const auto& text : object.at("Strings")) {
            event.strings.push_back(platform::Utf8ToWide(text.get<std::string>()));
        }
        events.push_back(std::move(event));
    }
    return events;
}

// An insertion string as the log keeps it: the text itself, except under Wine, which shows only
// the beginning of a long text (WineShownText).
inline std::wstring AsLoggedString(const std::wstring& text) {
#ifdef _WIN32
    return WineShownText(text);
#else
    return text;
#endif
}

// The whole file as text, for searching it for what must never be there.
inline std::string ReadApplicationLogText() {
#ifdef _WIN32
    std::ifstream wine(WineEventLogPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(wine), std::istreambuf_iterator<char>());
#endif
    const char* root = std::getenv("VORMA_SYSROOT");
    if (root == nullptr) {
        return {};
    }
    std::ifstream in(std::filesystem::path(root) / "eventlog" / "Application.jsonl",
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test
