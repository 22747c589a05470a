// POSIX only: the JSON line of an event in the log file and the message text it carries; written
// out by hand, escaped as nlohmann::json writes it (see EventLine.h).
#include "platform/posix/EventLine.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/MessageFormat.h"
#include "platform/Resources.h"
#include "platform/Text.h"

namespace platform::posix {
namespace {
// Appends `text` (UTF-8, as WideToUtf8 makes it) as a JSON string, escaped as nlohmann::json
// writes it: the quote, the backslash and every control character below U+0020, so that an event
// is one line; other characters as they are. Written out here because building a JSON document
// for every event was the largest single cost of a busy manager's event writes.
void AppendJsonString(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t plain = 0;  // start of the run not yet copied
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        out.append(text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default: {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out.append(escaped);
            }
        }
    }
    out.append(text.substr(plain));
    out.push_back('"');
}

// Local time with its offset from UTC: "2026-12-08T11:12:01+09:00".
std::string FormatLocalTime(std::time_t now) {
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) {
        ::gmtime_r(&now, &local);
        local.tm_gmtoff = 0;
    }
    char text[40] = {};
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    long offset = local.tm_gmtoff / 60;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) {
        offset = -offset;
    }
    std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", sign, offset / 60, offset % 60);
    return text;
}

// Local time with its offset from UTC: "2026-12-08T11:12:01+09:00". The text of the last second
// is kept per thread: events come many to a second.
std::string LocalTimestamp(std::time_t now) {
    thread_local std::time_t lastTime = -1;
    thread_local std::string lastText;
    thread_local std::string lastTz;
    const char* env = std::getenv("TZ");  // a test may change the zone between two events
    std::string_view tz = env != nullptr ? env : "";
    if (now == lastTime && tz == lastTz) {
        return lastText;
    }
    lastText = FormatLocalTime(now);
    lastTime = now;
    lastTz = tz;
    return lastText;
}

std::wstring JoinLines(const std::vector<std::wstring>& strings) {
    std::wstring text;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i > 0) {
            text.append(L"\r\n");
        }
        text.append(strings[i]);
    }
    return text;
}

// The highest insert number (%1 .. %99) that `pattern` names; "%%" is a percent sign.
std::size_t HighestInsert(std::wstring_view pattern) {
    std::size_t highest = 0;
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != L'%') {
            continue;
        }
        std::size_t n = 0;
        std::size_t j = i + 1;
        while (j < pattern.size() && j < i + 3 && pattern[j] >= L'0' && pattern[j] <= L'9') {
            n = n * 10 + static_cast<std::size_t>(pattern[j] - L'0');
            ++j;
        }
        highest = std::max(highest, n);
        // Go on after the number, or after the character that follows the percent sign ("%%").
        i = j > i + 1 ? j - 1 : i + 1;
    }
    return highest;
}

// The text an event viewer shows: the message-table text in the process's language with the
// insertion strings put in. Inserts the event does not carry stay as written ("%2"), as the
// viewer leaves them; an identifier the table does not hold shows the strings one per line.
std::wstring EventMessage(std::uint32_t eventId, const std::vector<std::wstring>& strings) {
    std::optional<std::wstring> pattern = LoadMessageResource(eventId, ProcessMessageLanguage());
    if (!pattern) {
        return JoinLines(strings);
    }
    std::vector<MessageArg> args(strings.begin(), strings.end());
    for (std::size_t n = args.size() + 1; n <= HighestInsert(*pattern); ++n) {
        args.emplace_back(L"%" + std::to_wstring(n));
    }
    std::optional<std::wstring> text = FormatMessageText(*pattern, args);
    return text ? *text : JoinLines(strings);
}

}  // namespace

// The line of one event in the log file, and its message text and strings in UTF-8 (for the
// copy outside the file).
std::string EventLine(const std::string& sourceName, const ReportedEvent& event,
                      std::string& message, std::vector<std::string>& strings) {
    message = WideToUtf8(EventMessage(event.eventId, event.strings));
    strings.clear();
    for (const std::wstring& text : event.strings) {
        strings.push_back(WideToUtf8(text));
    }
    std::string line;
    line.reserve(256 + 2 * message.size());
    line.append(R"({"TimeGenerated":")");
    line.append(LocalTimestamp(event.time));
    line.append(R"(","SourceName":)");
    AppendJsonString(line, sourceName);
    line.append(R"(,"EventID":)").append(std::to_string(event.eventId & 0xFFFFu));
    line.append(R"(,"EventIdentifier":)").append(std::to_string(event.eventId));
    line.append(R"(,"EventType":)").append(std::to_string(event.type));
    line.append(R"(,"Category":)").append(std::to_string(event.category));
    line.append(R"(,"Strings":[)");
    for (std::size_t i = 0; i < event.strings.size(); ++i) {
        if (i > 0) {
            line.push_back(',');
        }
        AppendJsonString(line, strings[i]);
    }
    line.append(R"(],"Message":)");
    AppendJsonString(line, message);
    line.append("}\n");
    return line;
}

}  // namespace platform::posix
