// POSIX only: the copy of an event outside the log file, to the system journal as a record with
// fields of its own when the journal is there (JournalRecord), otherwise as one line to syslog
// when the machine has a syslog socket.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/EventLog.h"

namespace platform::posix {

// Sends the copy of one event: a journal record where the journal is there, or where it refuses
// the record, the syslog line. `strings` and `message` are the event's in UTF-8.
void SendSystemLogCopy(const std::string& source, std::uint16_t type, std::uint16_t category,
                       std::uint32_t eventId, const std::vector<std::string>& strings,
                       const std::vector<EventField>& fields, const std::string& message);

}  // namespace platform::posix
