// POSIX only: the journal or syslog copy of an event (see SystemLogCopy.h).
#include "platform/posix/SystemLogCopy.h"

#include <syslog.h>

#include <mutex>

#include "platform/posix/JournalRecord.h"
#include "platform/posix/LocalSocketCheck.h"

namespace platform::posix {
namespace {

constexpr const char* kSyslogSocket = "/dev/log";

// Sends the event to syslog when the machine has one. The connection stays open; the ident is
// process-wide state of the C library, so the sends of all sources take turns and the ident is
// changed only when another source reports.
void SendToSyslog(const std::string& ident, std::uint16_t type, std::uint32_t eventId,
                  const std::string& message) {
    static LocalSocketCheck syslogSocket(kSyslogSocket);
    if (!syslogSocket.Present()) {
        return;
    }
    // One line: the line ends of the message become blanks.
    std::string text = "EventID " + std::to_string(eventId & 0xFFFFu) + ": ";
    for (char c : message) {
        if (c == '\r' || c == '\n') {
            if (!text.empty() && text.back() != ' ') {
                text.push_back(' ');
            }
        } else {
            text.push_back(c);
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    static std::mutex mutex;
    static std::string currentIdent;
    static bool opened = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (!opened || currentIdent != ident) {
        currentIdent = ident;
        ::openlog(currentIdent.c_str(), LOG_PID | LOG_NDELAY, LOG_DAEMON);
        opened = true;
    }
    ::syslog(JournalRecord::SyslogPriority(type), "%s", text.c_str());
}

}  // namespace

void SendSystemLogCopy(const std::string& source, std::uint16_t type, std::uint16_t category,
                       std::uint32_t eventId, const std::vector<std::string>& strings,
                       const std::vector<EventField>& fields, const std::string& message) {
    if (JournalRecord::JournalPresent() &&
        JournalRecord(source, type, category, eventId, strings, fields, message).Send()) {
        return;
    }
    SendToSyslog(source, type, eventId, message);
}

}  // namespace platform::posix
