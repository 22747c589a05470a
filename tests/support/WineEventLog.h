// Test helper (Windows under Wine): the Application log as Wine shows it. Wine stores no event:
// ReportEventW prints its identifiers on the advapi fixme channel and each insertion string on
// the eventlog channel. cmake/wine-run.sh keeps those lines in the file named by
// VORMA_WINE_EVENT_LOG; this reads them back into the objects the POSIX log file holds
// ({"SourceName", "EventID", "EventIdentifier", "EventType", "Category", "Strings", "Message"}).
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MessageFormat.h"
#include "platform/Resources.h"
#include "platform/Text.h"

namespace test {

// The file of this run, or empty text when the program does not run under cmake/wine-run.sh.
inline std::string WineEventLogPath() {
    const char* path = std::getenv("VORMA_WINE_EVENT_LOG");
    return path != nullptr ? path : "";
}

// Forgets the events so far (a fresh log, as a new system root gives on POSIX).
inline void ClearWineEventLog() {
    std::string path = WineEventLogPath();
    if (!path.empty()) {
        std::ofstream(path, std::ios::binary | std::ios::trunc);
    }
}

// Wine's debugstr_w: \n \r \t \\ \" and \XXXX (four hex digits) for every other character that
// is not printable ASCII.
inline std::wstring UnescapeWineText(const std::string& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out.push_back(static_cast<unsigned char>(c));
            continue;
        }
        char n = text[i + 1];
        if (n == 'n' || n == 'r' || n == 't' || n == '\\' || n == '"') {
            out.push_back(n == 'n' ? L'\n' : n == 'r' ? L'\r' : n == 't' ? L'\t' : n);
            ++i;
        } else if (i + 4 < text.size() && std::isxdigit(static_cast<unsigned char>(n))) {
            out.push_back(static_cast<wchar_t>(std::stoul(text.substr(i + 1, 4), nullptr, 16)));
            i += 4;
        } else {
            out.push_back(L'\\');
        }
    }
    return out;
}

// What Wine shows of an insertion string: its debug output cuts a text after about 290
// characters of escaped output (a character outside printable ASCII takes five, \n \r \t \\ \"
// two), and says so with "..." after the closing quote.
inline std::wstring WineShownText(std::wstring_view text) {
    std::size_t used = 2;  // L"
    std::size_t i = 0;
    for (; i < text.size() && used <= 290; ++i) {
        wchar_t c = text[i];
        if (c == L'\n' || c == L'\r' || c == L'\t' || c == L'"' || c == L'\\') {
            used += 2;
        } else if (c < L' ' || c >= 127) {
            used += 5;
        } else {
            used += 1;
        }
    }
    return std::wstring(text.substr(0, i));
}

inline std::vector<nlohmann::json> ReadWineEventLog() {
    std::vector<nlohmann::json> events;
    std::ifstream in(WineEventLogPath(), std::ios::binary);
    // clang-format off
    static const std::regex source(
        R"re(^([0-9a-f]+):fixme:advapi:RegisterEventSourceW \(\(null\),L"(.*)"\): stub)re");
    static const std::regex report(
        R"re(^([0-9a-f]+):fixme:advapi:ReportEventW \([^,]*,0x([0-9a-f]+),0x([0-9a-f]+),0x([0-9a-f]+),)re");
    static const std::regex insertion(
        R"re(^([0-9a-f]+):(?:err|warn|trace):eventlog:ReportEventW L"(.*)"(?:\.\.\.)?$)re");
    // clang-format on
    std::map<std::string, std::string> sourceOfThread;
    std::map<std::string, std::size_t> eventOfThread;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (std::regex_search(line, m, source)) {
            sourceOfThread[m[1]] = platform::WideToUtf8(UnescapeWineText(m[2]));
        } else if (std::regex_search(line, m, report)) {
            std::uint32_t id = static_cast<std::uint32_t>(std::stoul(m[4], nullptr, 16));
            events.push_back({{"SourceName", sourceOfThread[m[1]]},
                              {"EventID", id & 0xFFFFu},
                              {"EventIdentifier", id},
                              {"EventType", std::stoi(m[2], nullptr, 16)},
                              {"Category", std::stoi(m[3], nullptr, 16)},
                              {"Strings", nlohmann::json::array()}});
            eventOfThread[m[1]] = events.size() - 1;
        } else if (std::regex_search(line, m, insertion) && eventOfThread.count(m[1]) != 0) {
            events[eventOfThread[m[1]]]["Strings"].push_back(
                platform::WideToUtf8(UnescapeWineText(m[2])));
        }
    }
    // The text an event viewer shows: the message table's text with the strings inserted.
    for (nlohmann::json& event : events) {
        std::vector<platform::MessageArg> args;
        for (const auto& s : event["Strings"]) {
            args.emplace_back(platform::Utf8ToWide(s.get<std::string>()));
        }
        std::optional<std::wstring> pattern = platform::LoadMessageResource(
            event["EventIdentifier"].get<std::uint32_t>(), platform::ProcessMessageLanguage());
        std::optional<std::wstring> text;
        if (pattern) {
            text = platform::FormatMessageText(*pattern, args);
        }
        event["Message"] = platform::WideToUtf8(text.value_or(L""));
    }
    return events;
}

}  // namespace test
