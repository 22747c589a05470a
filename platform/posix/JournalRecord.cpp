#include "platform/posix/JournalRecord.h"

#include <sys/uio.h>
#include <systemd/sd-journal.h>

#include "platform/Text.h"
#include "platform/posix/LocalSocketCheck.h"

namespace platform::posix {
namespace {

constexpr const char* kJournalSocket = "/run/systemd/journal/socket";
constexpr std::size_t kLongestName = 64;  // the journal's limit, prefix included

bool IsJournalFieldName(std::string_view name) {
    if (name.empty() || name.size() + kJournalFieldPrefix.size() > kLongestName ||
        !(name[0] >= 'A' && name[0] <= 'Z')) {
        return false;
    }
    for (char c : name) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) {
            return false;
        }
    }
    return true;
}

// The message with its line ends as line feeds ("\r\n" and a lone "\r" alike) and without the
// line end that closes the last line: the journal shows a CR as binary data.
std::string JournalMessage(std::string_view message) {
    std::string text;
    text.reserve(message.size());
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r') {
            text.push_back('\n');
            if (i + 1 < message.size() && message[i + 1] == '\n') {
                ++i;
            }
        } else {
            text.push_back(message[i]);
        }
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

}  // namespace

JournalRecord::JournalRecord(std::string_view source, std::uint16_t type, std::uint16_t category,
                             std::uint32_t eventId, const std::vector<std::string>& strings,
                             const std::vector<EventField>& fields, std::string_view message) {
    m_fields.reserve(9 + strings.size() + fields.size());
    m_fields.push_back("MESSAGE=" + JournalMessage(message));
    m_fields.push_back("PRIORITY=" + std::to_string(SyslogPriority(type)));
    m_fields.push_back("SYSLOG_FACILITY=3");  // daemon, as the syslog copy
    Add("SYSLOG_IDENTIFIER", source);
    std::string prefixed(kJournalFieldPrefix);
    const auto addOwn = [&](std::string_view name, std::string_view value) {
        prefixed.resize(kJournalFieldPrefix.size());
        prefixed.append(name);
        Add(prefixed, value);
    };
    addOwn("EVENT_ID", std::to_string(eventId & 0xFFFFu));
    addOwn("EVENT_TYPE", std::to_string(type));
    addOwn("CATEGORY", std::to_string(category));
    addOwn("SOURCE", source);
    for (std::size_t i = 0; i < strings.size(); ++i) {
        addOwn("STRING_" + std::to_string(i + 1), strings[i]);
    }
    for (const EventField& field : fields) {
        if (IsJournalFieldName(field.name)) {
            addOwn(field.name, WideToUtf8(field.value));
        }
    }
}

void JournalRecord::Add(std::string_view name, std::string_view value) {
    std::string field;
    field.reserve(name.size() + 1 + value.size());
    field.append(name).push_back('=');
    field.append(value);
    m_fields.push_back(std::move(field));
}

bool JournalRecord::Send() const {
    std::vector<iovec> parts(m_fields.size());
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        parts[i].iov_base = const_cast<char*>(m_fields[i].data());
        parts[i].iov_len = m_fields[i].size();
    }
    // The function itself, not the macro, which would add the source file and line of this call.
    return (sd_journal_sendv)(parts.data(), static_cast<int>(parts.size())) >= 0;
}

namespace {
constinit LocalSocketCheck g_journalSocket(kJournalSocket);
}  // namespace

bool JournalRecord::JournalPresent() {
    return g_journalSocket.Present();
}

void JournalRecord::LookAgain() {
    g_journalSocket.LookAgain();
}

int JournalRecord::SyslogPriority(std::uint16_t type) {
    switch (type) {
        case kEventTypeError:
            return 3;
        case kEventTypeWarning:
            return 4;
        default:
            return 6;
    }
}

}  // namespace platform::posix
