// The event-log writer that a thread owns when it reports a stream of events (the dispatch of a
// backlog of traps): it collects the events of one identifier and writes them a batch at a time,
// and tells one observer what every write wrote and lost. Nothing about it is kept per thread:
// the thread that owns the writer hands it to whatever reports on that thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLog.h"

namespace platform {

// The events of `batchedId` that are reported through the writer are collected and written
// together, in the order reported: one write (under one lock) once kMaxEvents events or kMaxBytes
// bytes are collected, at Flush, and when the writer ends. An event of another identifier is
// written at once, after what was collected before it. The owner flushes or ends the writer as
// soon as its stream pauses, so that no event waits for a later one. Where the system keeps the
// log (Windows), every event is written at once.
//
// Report gives no result: what became of every event, of any identifier, is told to the
// observer, once per write, and nowhere else. Each event is registered under the writer's source
// name as it is reported, as EventLogSource::Register and Report would; an event whose source
// cannot be registered is lost (and told so) at once.
class EventLogWriter {
  public:
    static constexpr std::size_t kMaxEvents = 64;
    static constexpr std::size_t kMaxBytes = 64 * 1024;

    // Told, on the thread that wrote them, how many events of `eventId` a write wrote and lost;
    // must not block. A write holds events of one identifier only.
    using WriteObserver =
        std::function<void(std::uint32_t eventId, std::size_t written, std::size_t lost)>;

    EventLogWriter(std::wstring sourceName, std::uint32_t batchedId, WriteObserver observer = {});
    // Writes what is still collected.
    ~EventLogWriter();
    EventLogWriter(const EventLogWriter&) = delete;
    EventLogWriter& operator=(const EventLogWriter&) = delete;

    // Reports one event (no user identifier, no binary data; `fields` where the log keeps named
    // fields) through the writer, as EventLogSource::Report describes the event.
    void Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                const std::vector<std::wstring>& strings,
                const std::vector<EventField>& fields = {});

    // Writes what is collected; the number of events that this write lost.
    std::size_t Flush();

    // The events that the writes of this writer lost so far, of every identifier.
    std::size_t LostEvents() const;

    struct State;

  private:
    std::unique_ptr<State> m_state;
};

}  // namespace platform
