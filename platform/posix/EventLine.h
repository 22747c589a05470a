// POSIX only: the line of one event in the Application log file, a JSON object on one line:
//   {"TimeGenerated":"2026-12-08T11:12:01+09:00","SourceName":"...","EventID":2000,
//    "EventIdentifier":2000,"EventType":4,"Category":0,"Strings":["..."],"Message":"...\r\n"}
// with the message text that an event viewer shows (the message table's text in the process's
// language, the insertion strings put in).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/EventLog.h"

namespace platform::posix {

// One event as reported, formatted when it is written.
struct ReportedEvent {
    std::size_t source = 0;  // index into the source names of the events it is written with
    std::uint16_t type = 0;
    std::uint16_t category = 0;
    std::uint32_t eventId = 0;
    std::time_t time = 0;
    std::vector<std::wstring> strings;
    std::vector<EventField> fields;
};

// The line of `event` (ending in LF), and its message text and strings in UTF-8 (for the copy
// outside the file).
std::string EventLine(const std::string& sourceName, const ReportedEvent& event,
                      std::string& message, std::vector<std::string>& strings);

}  // namespace platform::posix
