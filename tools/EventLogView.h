// Reading and printing the Application log file for the viewer vorma-eventlog. The log holds one
// JSON object per event and line (see platform/posix/EventLine.h); the viewer prints records the
// way `wevtutil qe Application /f:text` does. Text stays in the file's UTF-8 from end to end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
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

// The level an event viewer shows for an event type.
std::string_view LevelName(std::uint16_t eventType);

// One record as `wevtutil qe /f:text` prints it, numbered `index`, ending in an empty line.
// Every text is shown as platform::EscapeUntrustedText shows it: the description over several
// lines (TAB kept), the other fields on one line.
std::string FormatEventText(const EventRecord& record, std::size_t index,
                            std::string_view computer);

enum class OutputFormat { kText, kShort, kJson };

// The command line of the viewer.
struct ViewerOptions {
    std::vector<std::string> sources;           // --source NAME, repeatable (case does not matter)
    std::vector<std::uint16_t> eventIds;        // --id N, repeatable: the identifier as shown
    std::vector<std::uint16_t> eventTypes;      // --level error|warning|information, repeatable
    std::optional<std::int64_t> since;          // --since TIME
    std::optional<std::int64_t> until;          // --until TIME
    std::optional<std::string> grep;            // -g TEXT: in the source, message or strings
    std::optional<std::size_t> count;           // -n N: the last N events (the first N reversed)
    std::optional<std::string> file;            // --file PATH
    OutputFormat format = OutputFormat::kText;  // -o text|short|json, --json
    bool all = false;                           // --all: the archived files too
    bool reverse = false;                       // --reverse: newest first
    bool follow = false;                        // --follow
    bool counters = false;                      // --counters: the manager's counters instead
    bool help = false;                          // --help
};

// Parses the arguments after the program name (getopt_long); relative times count from `now`.
// Nullopt with `error` set when they are wrong.
std::optional<ViewerOptions> ParseViewerOptions(std::span<const std::string_view> args,
                                                std::string& error, std::int64_t now);

// Whether `record` passes the filters of `options`.
bool MatchesOptions(const EventRecord& record, const ViewerOptions& options);

// One record on one line: "TIME LEVEL SOURCE ID: MESSAGE", line ends and TABs as blanks, every
// other control character escaped (platform::EscapeUntrustedText).
std::string FormatEventShort(const EventRecord& record);

// A line of the log as --json prints it: the JSON as it is, but for what would drive a terminal
// (DEL, C1 and bidirectional controls inside its strings), which is written as JSON escapes that
// mean the same text. Ends with a line feed.
std::string FormatEventJson(std::string_view line);

// The archived files of the log at `log` ("Application-*.jsonl" beside "Application.jsonl"),
// in the order they were moved aside (platform/posix/LogArchives.h).
std::vector<std::filesystem::path> ArchivedLogFiles(const std::filesystem::path& log);

// The files a query reads, oldest first: the archived files (all with --all; with --since the
// first changed at or after that time and every archive moved after it), then the log itself.
std::vector<std::filesystem::path> LogFilesToRead(const std::filesystem::path& log,
                                                  const ViewerOptions& options);

// Hands the lines of `path` to `sink` from the last to the first, without their line ends, until
// `sink` returns false. Reads the file backwards in blocks, so memory stays flat. False when the
// file cannot be opened.
bool ReadLinesBackward(const std::filesystem::path& path,
                       const std::function<bool(std::string_view)>& sink);

// The text that --help prints.
std::string ViewerUsage();

}  // namespace tools
