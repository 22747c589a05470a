#include "tools/EventLogView.h"

#include <charconv>
#include <ctime>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>

namespace tools {
namespace {

using Json = nlohmann::json;

bool ReadNumber(std::string_view text, std::size_t& pos, std::size_t digits, int& value) {
    if (pos + digits > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        char c = text[pos + i];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    pos += digits;
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, int month, int day) {
    std::int64_t y = year - (month <= 2 ? 1 : 0);
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yearOfEra = y - era * 400;
    std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

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

// `text` with the control characters that could drive a terminal shown as escapes. Line ends
// become LF when `multiline`, escapes otherwise; TAB stays.
std::string Printable(std::string_view text, bool multiline) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (multiline && (c == '\r' || c == '\n')) {
            out.push_back('\n');
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // C1 control characters (U+0080 .. U+009F) in UTF-8.
            auto code = static_cast<unsigned char>(text[++i]);
            out += "\\u00";
            out.push_back(kHex[code >> 4]);
            out.push_back(kHex[code & 0xF]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
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

// The value of an option given as "--name VALUE" or "--name=VALUE".
bool TakeValue(std::span<const std::string_view> args, std::size_t& i, std::string_view name,
               std::optional<std::string_view>& inlineValue, std::string_view& value,
               std::string& error) {
    if (inlineValue) {
        value = *inlineValue;
        return true;
    }
    if (i + 1 >= args.size()) {
        error = std::string(name) + " needs a value";
        return false;
    }
    value = args[++i];
    return true;
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

std::optional<std::int64_t> ParseIsoTime(std::string_view text) {
    std::size_t pos = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    if (!ReadNumber(text, pos, 4, year) || pos >= text.size() || text[pos++] != '-' ||
        !ReadNumber(text, pos, 2, month) || pos >= text.size() || text[pos++] != '-' ||
        !ReadNumber(text, pos, 2, day)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (pos < text.size()) {
        if (text[pos] != 'T' && text[pos] != ' ') {
            return std::nullopt;
        }
        ++pos;
        if (!ReadNumber(text, pos, 2, hour) || pos >= text.size() || text[pos++] != ':' ||
            !ReadNumber(text, pos, 2, minute)) {
            return std::nullopt;
        }
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            if (!ReadNumber(text, pos, 2, second)) {
                return std::nullopt;
            }
            if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
                std::size_t start = ++pos;
                while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
                    ++pos;
                }
                if (pos == start) {
                    return std::nullopt;
                }
            }
        }
        if (hour > 23 || minute > 59 || second > 60) {
            return std::nullopt;
        }
    }
    std::int64_t clock = hour * 3600 + minute * 60 + second;
    if (pos == text.size()) {
        // No offset: the viewer's local time.
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        std::time_t t = std::mktime(&local);
        if (t == static_cast<std::time_t>(-1)) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(t);
    }
    std::int64_t offset = 0;
    if (text[pos] == 'Z') {
        ++pos;
    } else if (text[pos] == '+' || text[pos] == '-') {
        int sign = text[pos++] == '-' ? -1 : 1;
        int offsetHours = 0;
        int offsetMinutes = 0;
        if (!ReadNumber(text, pos, 2, offsetHours)) {
            return std::nullopt;
        }
        bool colon = pos < text.size() && text[pos] == ':';
        if (colon) {
            ++pos;
        }
        if ((colon || pos < text.size()) && !ReadNumber(text, pos, 2, offsetMinutes)) {
            return std::nullopt;
        }
        if (offsetHours > 23 || offsetMinutes > 59) {
            return std::nullopt;
        }
        offset = sign * (offsetHours * 3600 + offsetMinutes * 60);
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return DaysFromCivil(year, month, day) * 86400 + clock - offset;
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
                                                std::string& error) {
    ViewerOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            std::size_t equals = arg.find('=');
            if (equals != std::string_view::npos) {
                name = arg.substr(0, equals);
                inlineValue = arg.substr(equals + 1);
            }
        }
        std::string_view value;
        if ((name == "--help" || name == "-h") && !inlineValue) {
            options.help = true;
        } else if ((name == "--follow" || name == "-f") && !inlineValue) {
            options.follow = true;
        } else if (name == "--json" && !inlineValue) {
            options.json = true;
        } else if (name == "--source") {
            if (!TakeValue(args, i, name, inlineValue, value, error)) {
                return std::nullopt;
            }
            options.source = std::string(value);
        } else if (name == "--id") {
            if (!TakeValue(args, i, name, inlineValue, value, error)) {
                return std::nullopt;
            }
            unsigned number = 0;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
                number > 0xFFFFu) {
                error = "--id takes an event ID from 0 to 65535, not '" + std::string(value) + "'";
                return std::nullopt;
            }
            options.eventId = static_cast<std::uint16_t>(number);
        } else if (name == "--since") {
            if (!TakeValue(args, i, name, inlineValue, value, error)) {
                return std::nullopt;
            }
            options.since = ParseIsoTime(value);
            if (!options.since) {
                error = "--since takes an ISO 8601 time such as 2026-12-08T11:12:01+09:00, not '" +
                        std::string(value) + "'";
                return std::nullopt;
            }
        } else if (name == "--file") {
            if (!TakeValue(args, i, name, inlineValue, value, error) || value.empty()) {
                error = "--file needs a path";
                return std::nullopt;
            }
            options.file = std::string(value);
        } else {
            error = "unknown argument '" + std::string(arg) + "'";
            return std::nullopt;
        }
    }
    return options;
}

bool MatchesOptions(const EventRecord& record, const ViewerOptions& options) {
    if (options.source && !EqualsIgnoringCase(record.sourceName, *options.source)) {
        return false;
    }
    if (options.eventId && record.eventId != *options.eventId) {
        return false;
    }
    if (options.since && record.time < *options.since) {
        return false;
    }
    return true;
}

std::string ViewerUsage() {
    return "Usage: vorma-eventlog [OPTIONS]\n"
           "Prints the Application event log, oldest event first, like\n"
           "`wevtutil qe Application /f:text`.\n"
           "\n"
           "  --source NAME    only events of this source (case does not matter)\n"
           "  --id N           only events with this event ID (as shown, 0 to 65535)\n"
           "  --since TIME     only events at or after TIME (ISO 8601, e.g.\n"
           "                   2026-12-08T11:12:01+09:00; without an offset, local time)\n"
           "  --follow, -f     keep printing new events until interrupted\n"
           "  --json           print the log's JSON lines as they are\n"
           "  --file PATH      read PATH instead of $VORMA_SYSROOT/eventlog/Application.jsonl\n"
           "  --help, -h       print this help\n";
}

}  // namespace tools
