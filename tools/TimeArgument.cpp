#include "tools/TimeArgument.h"

#include <chrono>
#include <ctime>
#include <string>
#include <utility>

#include "tools/ArgumentText.h"

namespace tools {
namespace {

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

// Seconds of a unit of a relative time, or 0 for a word that is none.
std::int64_t UnitSeconds(std::string_view unit) {
    static const std::pair<std::string_view, std::int64_t> kUnits[] = {
        {"s", 1},        {"sec", 1},     {"secs", 1},      {"second", 1},     {"seconds", 1},
        {"m", 60},       {"min", 60},    {"mins", 60},     {"minute", 60},    {"minutes", 60},
        {"h", 3600},     {"hour", 3600}, {"hours", 3600},  {"d", 86400},      {"day", 86400},
        {"days", 86400}, {"w", 604800},  {"week", 604800}, {"weeks", 604800},
    };
    std::string lower = AsciiLower(unit);
    for (const auto& [name, seconds] : kUnits) {
        if (lower == name) {
            return seconds;
        }
    }
    return 0;
}

// Local midnight of the day `days` after the day of `now`.
std::optional<std::int64_t> LocalMidnight(std::int64_t now, int days) {
    std::time_t t = static_cast<std::time_t>(now);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) {
        return std::nullopt;
    }
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_mday += days;
    local.tm_isdst = -1;
    std::time_t midnight = std::mktime(&local);
    if (midnight == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(midnight);
}

}  // namespace

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
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) {
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
    const std::int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
    return days * 86400 + clock - offset;
}

std::optional<std::int64_t> ParseTimeArgument(std::string_view text, std::int64_t now) {
    std::string lower = AsciiLower(text);
    if (lower == "now") {
        return now;
    }
    if (lower == "today") {
        return LocalMidnight(now, 0);
    }
    if (lower == "yesterday") {
        return LocalMidnight(now, -1);
    }
    if (lower == "tomorrow") {
        return LocalMidnight(now, 1);
    }
    // "-1h", "+30min", "-2 days"; "10 min ago", "2hours ago".
    std::string_view rest = lower;
    std::int64_t sign = 0;
    if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) {
        sign = rest[0] == '-' ? -1 : 1;
        rest.remove_prefix(1);
    }
    if (sign == 0 && rest.size() > 4 && rest.ends_with(" ago")) {
        sign = -1;
        rest.remove_suffix(4);
    }
    if (sign != 0) {
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
            ++digits;
        }
        std::optional<std::int64_t> amount =
            WholeNumber<std::int64_t>(rest.substr(0, digits), 1000000000);
        std::string_view unit = rest.substr(digits);
        while (!unit.empty() && unit.front() == ' ') {
            unit.remove_prefix(1);
        }
        std::int64_t seconds = UnitSeconds(unit);
        if (amount && seconds > 0) {
            return now + sign * *amount * seconds;
        }
        return std::nullopt;
    }
    return ParseIsoTime(text);
}

}  // namespace tools
