// Reading and printing the Application log file for the viewer vorma-eventlog. The log holds one
// JSON object per event and line (see platform/posix/EventLog.cpp); the viewer prints records the
// way `wevtutil qe Application /f:text` does. Text stays in the file's UTF-8 from end to end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// One event of the log.
struct EventRecord {
    std::string timeGenerated;  // "2026-12-08T11:12:01+09:00"
    std::int64_t time = 0;      // the same, in seconds since the epoch
    std::string sourceName;
    std::uint16_t eventId = 0;  // as shown: the low 16 bits of the identifier
    std::uint32_t eventIdentifier = 0;
    std::uint16_t eventType = 0;
    std::uint16_t category = 0;
    std::vector<std::string> strings;
    std::string message;
};

// The event of one log line, or nullopt when the line is not a complete, well-formed event.
std::optional<EventRecord> ParseEventLine(std::string_view line);

// Seconds since the epoch of an ISO 8601 time: "2026-12-08T11:12:01+09:00", "...Z", with
// fractions of a second (ignored), with a blank instead of the "T", without an offset (local
// time), or a date alone (local midnight). Nullopt when it is none of these.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

// The level an event viewer shows for an event type.
std::string_view LevelName(std::uint16_t eventType);

// One record as `wevtutil qe /f:text` prints it, numbered `index`, ending in an empty line.
// Control characters that could drive a terminal are shown as "\xNN" (C1: "\u00NN").
std::string FormatEventText(const EventRecord& record, std::size_t index,
                            std::string_view computer);

// The command line of the viewer.
struct ViewerOptions {
    std::optional<std::string> source;     // --source NAME (compared without regard to case)
    std::optional<std::uint16_t> eventId;  // --id N, the identifier as shown
    std::optional<std::int64_t> since;     // --since ISO-TIME
    std::optional<std::string> file;       // --file PATH
    bool follow = false;                   // --follow
    bool json = false;                     // --json
    bool help = false;                     // --help
};

// Parses the arguments after the program name. Nullopt with `error` set when they are wrong.
std::optional<ViewerOptions> ParseViewerOptions(std::span<const std::string_view> args,
                                                std::string& error);

// Whether `record` passes the filters of `options`.
bool MatchesOptions(const EventRecord& record, const ViewerOptions& options);

// The text that --help prints.
std::string ViewerUsage();

}  // namespace tools
