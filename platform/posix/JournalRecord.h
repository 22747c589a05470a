// POSIX only: an event of the Application log as a record of the system journal, sent through
// the journal's native socket (sd_journal_sendv). The record carries the message as MESSAGE (its
// line ends as line feeds), PRIORITY and SYSLOG_IDENTIFIER as syslog would give them, and fields
// of its own: VORMA_EVENT_ID, VORMA_EVENT_TYPE, VORMA_CATEGORY, VORMA_SOURCE, one VORMA_STRING_n
// per insertion string (from 1) and one VORMA_name per field that the reporter gave.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventLog.h"

namespace platform::posix {

class JournalRecord {
  public:
    // `strings` are the insertion strings and `message` the formatted message text, in UTF-8.
    JournalRecord(std::string_view source, std::uint16_t type, std::uint16_t category,
                  std::uint32_t eventId, const std::vector<std::string>& strings,
                  const std::vector<EventField>& fields, std::string_view message);

    // "NAME=value" for each field, in the order written. A field of the reporter whose name is
    // not a journal field name (upper-case letters, digits and underscores, starting with a
    // letter) is left out.
    const std::vector<std::string>& Fields() const { return m_fields; }

    // Sends the record to the journal; false when it could not be sent (no journal, or the
    // journal refused it). Blocks while the journal's socket is full.
    bool Send() const;

    // Whether the system journal's native socket is there, looked at again at most every 10 s.
    static bool JournalPresent();
    // Makes the next JournalPresent look again (for a process that has just made or removed the
    // socket, as the tests do).
    static void LookAgain();

    // The syslog priority of an event type, which is the journal's PRIORITY too: 3 (LOG_ERR) for
    // an error, 4 (LOG_WARNING) for a warning, 6 (LOG_INFO) for the others.
    static int SyslogPriority(std::uint16_t type);

  private:
    void Add(std::string_view name, std::string_view value);
    std::vector<std::string> m_fields;
};

}  // namespace platform::posix
