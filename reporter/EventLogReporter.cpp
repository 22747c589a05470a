#include "reporter/EventLogReporter.h"

#include <exception>
#include <optional>
#include <span>

#include "platform/EventLog.h"
#include "platform/Resources.h"
#include "platform/SystemError.h"

bool ReportToEventLog(std::uint32_t eventId, std::uint16_t type, std::uint16_t count,
                      const std::wstring* strings) {
    if (count > 0 && strings == nullptr) {
        return false;
    }
    try {
        std::vector<std::wstring> texts(strings, strings + count);
        return ReportToEventLog(eventId, type, texts);
    } catch (const std::exception&) {
        return false;
    }
}

bool ReportToEventLog(std::uint32_t eventId, std::uint16_t type,
                      const std::vector<std::wstring>& strings) {
    return ReportToEventLog(eventId, type, strings, {});
}

bool ReportToEventLog(std::uint32_t eventId, std::uint16_t type,
                      const std::vector<std::wstring>& strings,
                      const std::vector<platform::EventField>& fields) {
    // The source is opened and closed for every event: no state is shared between callers.
    platform::EventLogSource source = platform::EventLogSource::Register(kEventSourceName);
    if (!source.IsOpen()) {
        return false;
    }
    bool written = source.Report(type, 0, eventId, strings, fields);
    source.Deregister();
    return written;
}

std::wstring FormatSystemError(std::uint32_t code) {
    return platform::SystemErrorText(code);
}

std::wstring LoadResourceString(std::uint32_t id) {
    return platform::LoadStringResource(id);
}

std::wstring FormatResourceMessage(std::uint32_t id,
                                   std::initializer_list<platform::MessageArg> args) {
    try {
        std::wstring pattern = platform::LoadStringResource(id);
        if (pattern.empty()) {
            return {};
        }
        std::optional<std::wstring> text = platform::FormatMessageText(
            pattern, std::span<const platform::MessageArg>(args.begin(), args.size()));
        return text.value_or(std::wstring());
    } catch (const std::exception&) {
        return {};
    }
}
