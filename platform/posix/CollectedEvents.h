// POSIX only: events collected for one log file, written together with one write, each with its
// copy to the journal or syslog.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/EventLine.h"

namespace platform::posix {

struct CollectedEvents {
    std::filesystem::path file;
    std::vector<std::string> sources;  // UTF-8 source names, indexed by ReportedEvent::source
    std::vector<ReportedEvent> events;

    void Clear() {
        sources.clear();
        events.clear();  // the vectors keep their capacity for the next collection
    }

    // Writes the events with one write (or one per file where the log is moved aside in
    // between), sends a copy of each to the journal or syslog; the number of events lost.
    std::size_t Write() const;
};

}  // namespace platform::posix
