// The event-log writer a thread owns (platform/EventLogWriter.h), where the system keeps the log:
// every event is reported to the system at once, and the observer told what became of it.
#include "platform/EventLogWriter.h"

#include <atomic>
#include <exception>
#include <utility>

namespace platform {

struct EventLogWriter::State {
    std::wstring sourceName;
    WriteObserver observer;
    std::atomic<std::size_t> lost{0};
};

EventLogWriter::EventLogWriter(std::wstring sourceName, std::uint32_t /*batchedId*/,
                               WriteObserver observer)
    : m_state(std::make_unique<State>()) {
    m_state->sourceName = std::move(sourceName);
    m_state->observer = std::move(observer);
}

EventLogWriter::~EventLogWriter() = default;

void EventLogWriter::Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                            const std::vector<std::wstring>& strings,
                            const std::vector<EventField>& fields) {
    bool written = false;
    try {
        EventLogSource source = EventLogSource::Register(m_state->sourceName);
        written = source.IsOpen() && source.Report(type, category, eventId, strings, fields);
    } catch (const std::exception&) {  // out of memory: the event is lost
    }
    const std::size_t lost = written ? 0 : 1;
    m_state->lost.fetch_add(lost, std::memory_order_relaxed);
    if (m_state->observer) {
        try {
            m_state->observer(eventId, written ? 1 : 0, lost);
        } catch (...) {  // an observer has nothing to throw across a thread
        }
    }
}

std::size_t EventLogWriter::Flush() {
    return 0;  // nothing is collected
}

std::size_t EventLogWriter::LostEvents() const {
    return m_state->lost.load(std::memory_order_relaxed);
}

}  // namespace platform
