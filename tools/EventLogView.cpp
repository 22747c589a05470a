#include "tools/EventLogView.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <exception>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/UntrustedText.h"
#include "platform/posix/LogArchives.h"
#include "tools/ArgumentText.h"
#include "tools/TimeArgument.h"

namespace tools {
namespace {

using Json = nlohmann::json;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

// What the views show of a text of the log, which may hold text from the network.
std::string Printable(std::string_view text, bool multiline) {
    return platform::EscapeUntrustedText(
        text, multiline ? platform::TextEscaping::kLines : platform::TextEscaping::kOneLine);
}

bool GetString(const Json& object, const char* key, std::string& value) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return false;
    }
    value = it->get<std::string>();
    return true;
}

template <typename T>
bool GetUnsigned(const Json& object, const char* key, T& value) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) {
        return false;
    }
    std::uint64_t number = it->get<std::uint64_t>();
    if (number > std::numeric_limits<T>::max()) {
        return false;
    }
    value = static_cast<T>(number);
    return true;
}

bool ContainsText(const EventRecord& record, std::string_view text) {
    if (record.message.find(text) != std::string::npos ||
        record.sourceName.find(text) != std::string::npos) {
        return true;
    }
    for (const std::string& s : record.strings) {
        if (s.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<EventRecord> ParseEventLine(std::string_view line) {
    try {
        Json object = Json::parse(line.begin(), line.end(), nullptr, false);
        if (object.is_discarded() || !object.is_object()) {
            return std::nullopt;
        }
        EventRecord record;
        if (!GetString(object, "TimeGenerated", record.timeGenerated) ||
            !GetString(object, "SourceName", record.sourceName) ||
            !GetUnsigned(object, "EventID", record.eventId) ||
            !GetUnsigned(object, "EventIdentifier", record.eventIdentifier) ||
            !GetUnsigned(object, "EventType", record.eventType) ||
            !GetUnsigned(object, "Category", record.category) ||
            !GetString(object, "Message", record.message)) {
            return std::nullopt;
        }
        // The shown identifier is the low half of the full one; anything else is not our record.
        if (record.eventId != (record.eventIdentifier & 0xFFFFu)) {
            return std::nullopt;
        }
        if (record.timeGenerated.size() < 19 || record.timeGenerated[10] != 'T') {
            return std::nullopt;
        }
        std::optional<std::int64_t> time = ParseIsoTime(record.timeGenerated);
        if (!time) {
            return std::nullopt;
        }
        record.time = *time;
        auto strings = object.find("Strings");
        if (strings == object.end() || !strings->is_array()) {
            return std::nullopt;
        }
        for (const Json& s : *strings) {
            if (!s.is_string()) {
                return std::nullopt;
            }
            record.strings.push_back(s.get<std::string>());
        }
        return record;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string_view LevelName(std::uint16_t eventType) {
    switch (eventType) {
        case 0:
            return "Success";
        case 1:
            return "Error";
        case 2:
            return "Warning";
        case 4:
            return "Information";
        case 8:
            return "Audit Success";
        case 16:
            return "Audit Failure";
        default:
            return "Unknown";
    }
}

std::string FormatEventText(const EventRecord& record, std::size_t index,
                            std::string_view computer) {
    std::string date = record.timeGenerated.size() >= 19
                           ? record.timeGenerated.substr(0, 19) + ".000"
                           : record.timeGenerated;
    std::string out;
    out += "Event[" + std::to_string(index) + "]:\n";
    out += "  Log Name: Application\n";
    out += "  Source: " + Printable(record.sourceName, false) + "\n";
    out += "  Date: " + Printable(date, false) + "\n";
    out += "  Event ID: " + std::to_string(record.eventId) + "\n";
    out += "  Task: None\n";
    out += "  Level: " + std::string(LevelName(record.eventType)) + "\n";
    out += "  Opcode: Info\n";
    out += "  Keyword: Classic\n";
    out += "  User: N/A\n";
    out += "  User Name: N/A\n";
    out += "  Computer: " + Printable(computer, false) + "\n";
    out += "  Description: \n";
    std::string message = Printable(record.message, true);
    out += message;
    if (!message.empty() && message.back() != '\n') {
        out += '\n';
    }
    out += '\n';
    return out;
}

std::optional<ViewerOptions> ParseViewerOptions(std::span<const std::string_view> args,
                                                std::string& error, std::int64_t now) {
    enum : int { kSince = 1000, kUntil, kJson, kFile, kId, kReverse, kAll, kCounters };
    static const option kLongOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"follow", no_argument, nullptr, 'f'},
        {"count", required_argument, nullptr, 'n'},
        {"since", required_argument, nullptr, kSince},
        {"until", required_argument, nullptr, kUntil},
        {"reverse", no_argument, nullptr, 'r'},
        {"level", required_argument, nullptr, 'l'},
        {"id", required_argument, nullptr, kId},
        {"source", required_argument, nullptr, 's'},
        {"grep", required_argument, nullptr, 'g'},
        {"output", required_argument, nullptr, 'o'},
        {"json", no_argument, nullptr, kJson},
        {"all", no_argument, nullptr, 'a'},
        {"file", required_argument, nullptr, kFile},
        {"counters", no_argument, nullptr, kCounters},
        {nullptr, 0, nullptr, 0},
    };
    // getopt_long wants a writable argv; its state is reset for every parse.
    std::vector<std::string> storage;
    storage.emplace_back("vorma-eventlog");
    for (std::string_view arg : args) {
        storage.emplace_back(arg);
    }
    std::vector<char*> argv;
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    ViewerOptions options;
    optind = 0;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv.data(), "+hfn:rl:s:g:o:a", kLongOptions, nullptr)) != -1) {
        const std::string value = optarg != nullptr ? optarg : "";
        switch (c) {
            case 'h':
                options.help = true;
                break;
            case 'f':
                options.follow = true;
                break;
            case kCounters:
                options.counters = true;
                break;
            case 'r':
                options.reverse = true;
                break;
            case 'a':
                options.all = true;
                break;
            case 'n': {
                std::optional<std::size_t> n = WholeNumber<std::size_t>(value, 1000000000);
                if (!n) {
                    error = "--count takes a number of events, not '" + value + "'";
                    return std::nullopt;
                }
                options.count = *n;
                break;
            }
            case kSince:
            case kUntil: {
                std::optional<std::int64_t> time = ParseTimeArgument(value, now);
                if (!time) {
                    error = std::string(c == kSince ? "--since" : "--until") +
                            " takes a time such as 2026-12-08T11:12:01+09:00, today, -1h or "
                            "\"10 min ago\", not '" +
                            value + "'";
                    return std::nullopt;
                }
                (c == kSince ? options.since : options.until) = *time;
                break;
            }
            case 'l': {
                std::string level = AsciiLower(value);
                if (level == "error") {
                    options.eventTypes.push_back(1);
                } else if (level == "warning") {
                    options.eventTypes.push_back(2);
                } else if (level == "information" || level == "info") {
                    options.eventTypes.push_back(4);
                } else {
                    error = "--level takes error, warning or information, not '" + value + "'";
                    return std::nullopt;
                }
                break;
            }
            case kId: {
                std::optional<unsigned> id = WholeNumber<unsigned>(value, 0xFFFFu);
                if (!id) {
                    error = "--id takes an event ID from 0 to 65535, not '" + value + "'";
                    return std::nullopt;
                }
                options.eventIds.push_back(static_cast<std::uint16_t>(*id));
                break;
            }
            case 's':
                options.sources.push_back(value);
                break;
            case 'g':
                if (value.empty()) {
                    error = "-g needs a text to search for";
                    return std::nullopt;
                }
                options.grep = value;
                break;
            case 'o':
                if (value == "text") {
                    options.format = OutputFormat::kText;
                } else if (value == "short") {
                    options.format = OutputFormat::kShort;
                } else if (value == "json") {
                    options.format = OutputFormat::kJson;
                } else {
                    error = "-o takes text, short or json, not '" + value + "'";
                    return std::nullopt;
                }
                break;
            case kJson:
                options.format = OutputFormat::kJson;
                break;
            case kFile:
                if (value.empty()) {
                    error = "--file needs a path";
                    return std::nullopt;
                }
                options.file = value;
                break;
            default: {
                std::string arg = optind > 0 && optind <= argc ? storage[optind - 1] : "";
                error = optopt != 0 && optopt < 256
                            ? "unknown option or missing value: '-" +
                                  std::string(1, static_cast<char>(optopt)) + "'"
                            : "unknown option or missing value: '" + arg + "'";
                return std::nullopt;
            }
        }
    }
    if (optind < argc) {
        error = "unexpected argument '" + storage[optind] + "'";
        return std::nullopt;
    }
    if (options.follow && options.reverse) {
        error = "--follow and --reverse do not go together";
        return std::nullopt;
    }
    return options;
}

bool MatchesOptions(const EventRecord& record, const ViewerOptions& options) {
    if (!options.sources.empty() &&
        std::none_of(options.sources.begin(), options.sources.end(), [&](const std::string& s) {
            return EqualsIgnoringCase(record.sourceName, s);
        })) {
        return false;
    }
    if (!options.eventIds.empty() && std::find(options.eventIds.begin(), options.eventIds.end(),
                                               record.eventId) == options.eventIds.end()) {
        return false;
    }
    if (!options.eventTypes.empty() &&
        std::find(options.eventTypes.begin(), options.eventTypes.end(), record.eventType) ==
            options.eventTypes.end()) {
        return false;
    }
    if (options.since && record.time < *options.since) {
        return false;
    }
    if (options.until && record.time > *options.until) {
        return false;
    }
    if (options.grep && !ContainsText(record, *options.grep)) {
        return false;
    }
    return true;
}

std::string FormatEventShort(const EventRecord& record) {
    std::string message;
    for (char c : record.message) {
        bool blank = c == '\r' || c == '\n' || c == '\t';
        if (!blank) {
            message.push_back(c);
        } else if (!message.empty() && message.back() != ' ') {
            message.push_back(' ');
        }
    }
    while (!message.empty() && message.back() == ' ') {
        message.pop_back();
    }
    return Printable(record.timeGenerated, false) + " " + std::string(LevelName(record.eventType)) +
           " " + Printable(record.sourceName, false) + " " + std::to_string(record.eventId) + ": " +
           Printable(message, false) + "\n";
}

std::string FormatEventJson(std::string_view line) {
    return platform::EscapeUntrustedText(line, platform::TextEscaping::kJson) + "\n";
}

std::vector<std::filesystem::path> ArchivedLogFiles(const std::filesystem::path& log) {
    std::vector<std::filesystem::path> files;
    for (platform::posix::LogArchive& archive : platform::posix::LogArchives(log).List()) {
        files.push_back(std::move(archive.path));
    }
    return files;
}

std::vector<std::filesystem::path> LogFilesToRead(const std::filesystem::path& log,
                                                  const ViewerOptions& options) {
    std::vector<std::filesystem::path> files;
    if (options.all || options.since) {
        for (std::filesystem::path& archive : ArchivedLogFiles(log)) {
            std::error_code ec;
            auto written = std::filesystem::last_write_time(archive, ec);
            if (ec) {
                continue;
            }
            // An archive was last written when it was moved aside: it holds no event after that.
            // From the first that may hold one on, every later archive is read too, whatever its
            // time says: a clock set back may have stamped it earlier than the one before.
            std::int64_t lastWrite =
                std::chrono::duration_cast<std::chrono::seconds>(
                    std::chrono::file_clock::to_sys(written).time_since_epoch())
                    .count();
            if (options.all || !files.empty() || lastWrite >= *options.since) {
                files.push_back(std::move(archive));
            }
        }
    }
    files.push_back(log);
    return files;
}

bool ReadLinesBackward(const std::filesystem::path& path,
                       const std::function<bool(std::string_view)>& sink) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return false;
    }
    in.seekg(0, std::ios::end);
    std::streamoff end = in.tellg();
    if (end < 0) {
        return false;
    }
    constexpr std::streamoff kBlock = 64 * 1024;
    std::string carry;  // the start of a line whose end was read already
    std::vector<char> block(static_cast<std::size_t>(kBlock));
    bool first = true;  // a line end at the very end of the file ends the last line
    while (end > 0) {
        std::streamoff start = std::max<std::streamoff>(0, end - kBlock);
        std::size_t size = static_cast<std::size_t>(end - start);
        in.seekg(start);
        if (!in.read(block.data(), static_cast<std::streamsize>(size))) {
            return false;
        }
        std::string chunk(block.data(), size);
        chunk += carry;
        std::size_t lineEnd = chunk.size();
        if (first && !chunk.empty() && chunk.back() == '\n') {
            --lineEnd;
        }
        first = false;
        std::size_t lf;
        while (lineEnd > 0 && (lf = chunk.rfind('\n', lineEnd - 1)) != std::string::npos) {
            std::string_view line(chunk.data() + lf + 1, lineEnd - lf - 1);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            if (!sink(line)) {
                return true;
            }
            lineEnd = lf;
        }
        carry = chunk.substr(0, lineEnd);
        end = start;
    }
    std::string_view line(carry);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (!carry.empty() || !first) {
        sink(line);
    }
    return true;
}

std::string ViewerUsage() {
    return "Usage: vorma-eventlog [OPTIONS]\n"
           "Prints the Application event log, oldest event first, like\n"
           "`wevtutil qe Application /f:text`.\n"
           "\n"
           "Which events:\n"
           "  -s, --source NAME   only events of this source (case does not matter); repeatable\n"
           "      --id N          only events with this event ID (as shown, 0 to 65535);\n"
           "                      repeatable\n"
           "  -l, --level LEVEL   only events of this level: error, warning or information;\n"
           "                      repeatable\n"
           "  -g, --grep TEXT     only events whose source, message or strings hold TEXT\n"
           "                      (exactly, case counts)\n"
           "      --since TIME    only events at or after TIME\n"
           "      --until TIME    only events at or before TIME\n"
           "  -n, --count N       only the last N events that pass (with --reverse the newest N)\n"
           "  -a, --all           read the archived files too (Application-*.jsonl, moved aside\n"
           "                      when the log reached its size limit), in the order they were\n"
           "                      moved; --since reads those that may hold events at or after\n"
           "                      its time\n"
           "\n"
           "TIME is an ISO 8601 time (2026-12-08T11:12:01+09:00, 2026-12-08 11:12, 2026-12-08;\n"
           "without an offset, local time), now, today, yesterday, tomorrow (local midnight),\n"
           "an offset from now (-1h, -30min, -2d, +10s; units s, m, min, h, d, w and their\n"
           "long names) or \"10 min ago\", \"2 hours ago\".\n"
           "\n"
           "How:\n"
           "  -r, --reverse       newest event first (like wevtutil /rd:true)\n"
           "  -o, --output FORMAT text (the default, like wevtutil /f:text), short (one line\n"
           "                      per event: time, level, source, ID and message) or json (the\n"
           "                      log's JSON lines as they are)\n"
           "      --json          the same as -o json\n"
           "  -f, --follow        after the events so far, keep printing new events until\n"
           "                      interrupted; follows the log across a move (the rest of the\n"
           "                      old file first, then the archives moved after it, then the\n"
           "                      new one from its start); archives deleted before they could\n"
           "                      be read are named on standard error\n"
           "      --file PATH     read PATH (and its archives) instead of\n"
           "                      $VORMA_SYSROOT/eventlog/Application.jsonl\n"
           "  -h, --help          print this help\n"
           "\n"
           "The manager's counters:\n"
           "      --counters      instead of events, print what the running (or last) manager\n"
           "                      counted in its run, from its status file\n"
           "                      $VORMA_SYSROOT/services/VORMASNMPManageService.json: datagrams\n"
           "                      read, notifications by version, informs answered, events\n"
           "                      written, texts held back, drops by reason, write failures,\n"
           "                      the Get pass, the trap queue, the system's drops at the\n"
           "                      sockets, what the last stop left unread in them, and the last\n"
           "                      20 rejected senders; with --follow the table is printed again\n"
           "                      each second\n"
           "\n"
           "Text from the network (communities, user names, addresses, trap texts) is shown\n"
           "with control characters, DEL, C1 controls, bidirectional controls and bytes that\n"
           "are not UTF-8 escaped (\\xNN, \\uNNNN); --json writes them as JSON escapes.\n"
           "\n"
           "Exit status: 0 success, 1 the log (or the status file) cannot be read, 2 wrong\n"
           "arguments.\n";
}

}  // namespace tools
