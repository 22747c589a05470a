// POSIX only: the write of a collection of events (see CollectedEvents.h).
#include "platform/posix/CollectedEvents.h"

#include <algorithm>
#include <utility>

#include "platform/posix/LogFileWriter.h"
#include "platform/posix/SystemLogCopy.h"

namespace platform::posix {

std::size_t CollectedEvents::Write() const {
    if (events.empty()) {
        return 0;
    }
    std::string lines;
    std::string message;
    std::vector<std::string> messages;
    std::vector<std::vector<std::string>> strings(events.size());
    std::vector<std::size_t> ends;  // where each event's line ends in `lines`
    messages.reserve(events.size());
    ends.reserve(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        const ReportedEvent& event = events[i];
        lines.append(EventLine(sources[event.source], event, message, strings[i]));
        messages.push_back(std::move(message));
        ends.push_back(lines.size());
    }
    const std::size_t written = AppendToLogFile(file, lines);
    for (std::size_t i = 0; i < events.size(); ++i) {
        const ReportedEvent& event = events[i];
        SendSystemLogCopy(sources[event.source], event.type, event.category, event.eventId,
                          strings[i], event.fields, messages[i]);
    }
    return static_cast<std::size_t>(ends.end() -
                                    std::upper_bound(ends.begin(), ends.end(), written));
}

}  // namespace platform::posix
