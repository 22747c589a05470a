// POSIX only: the event-log writer a thread owns (platform/EventLogWriter.h). The events of its
// identifier are collected; a full batch goes to the process's batch writer (BatchWriter.h), the
// rest is written on the owner's thread when it is flushed or ends, after the batch writer has
// written what it took, so that the events of a writer reach the file in the order reported.
#include "platform/EventLogWriter.h"

#include <atomic>
#include <ctime>
#include <exception>
#include <utility>

#include "platform/posix/BatchWriter.h"
#include "platform/posix/CollectedEvents.h"
#include "platform/posix/RegisteredSource.h"

namespace platform {

struct EventLogWriter::State {
    std::wstring sourceName;
    std::uint32_t batchedId = 0;
    WriteObserver observer;
    posix::CollectedEvents collected;
    std::size_t bytes = 0;
    bool submitted = false;  // the batch writer may hold events of this writer
    std::atomic<std::size_t> lost{0};

    ~State() { WaitForSubmitted(); }

    // After this the batch writer tells this writer's observer nothing more, until the next
    // Submit: the observer is told of one write at a time.
    void WaitForSubmitted() {
        if (submitted) {
            posix::CBatchWriter::Instance().Wait();
            submitted = false;
        }
    }

    void Tell(std::uint32_t eventId, std::size_t written, std::size_t lostNow) {
        lost.fetch_add(lostNow, std::memory_order_relaxed);
        if (observer) {
            try {
                observer(eventId, written, lostNow);
            } catch (...) {  // an observer has nothing to throw across a thread
            }
        }
    }

    // Writes `events` (of the batched identifier) and tells the observer what became of them.
    void WriteAndTell(const posix::CollectedEvents& events) {
        if (events.events.empty()) {
            return;
        }
        std::size_t lostNow = 0;
        try {
            lostNow = events.Write();
        } catch (const std::exception&) {  // out of memory: the events are lost
            lostNow = events.events.size();
        }
        Tell(batchedId, events.events.size() - lostNow, lostNow);
    }

    // Writes what is collected, after what the batch writer took; the events this write lost.
    std::size_t Write() {
        const std::size_t lostBefore = lost.load(std::memory_order_relaxed);
        WaitForSubmitted();
        WriteAndTell(collected);
        collected.Clear();
        bytes = 0;
        return lost.load(std::memory_order_relaxed) - lostBefore;
    }

    void Collect(const posix::RegisteredSource& source, std::uint16_t type, std::uint16_t category,
                 std::uint32_t eventId, const std::vector<std::wstring>& strings,
                 const std::vector<EventField>& fields) {
        if (!collected.events.empty() && collected.file != source.logFile) {
            Write();
        }
        if (collected.events.empty()) {
            collected.file = source.logFile;
        }
        std::size_t index = 0;
        while (index < collected.sources.size() && collected.sources[index] != source.name) {
            ++index;
        }
        if (index == collected.sources.size()) {
            collected.sources.push_back(source.name);
        }
        collected.events.push_back(
            {index, type, category, eventId, std::time(nullptr), strings, fields});
        for (const std::wstring& text : strings) {
            bytes += text.size();
        }
        if (collected.events.size() >= kMaxEvents || bytes >= kMaxBytes) {
            bytes = 0;
            if (posix::CBatchWriter::Instance().Submit(
                    collected,
                    [this](const posix::CollectedEvents& events) { WriteAndTell(events); })) {
                submitted = true;
            } else {
                Write();
            }
        }
    }
};

EventLogWriter::EventLogWriter(std::wstring sourceName, std::uint32_t batchedId,
                               WriteObserver observer)
    : m_state(std::make_unique<State>()) {
    m_state->sourceName = std::move(sourceName);
    m_state->batchedId = batchedId;
    m_state->observer = std::move(observer);
}

EventLogWriter::~EventLogWriter() {
    try {
        m_state->Write();
    } catch (const std::exception&) {  // the events still collected are lost
    }
}

void EventLogWriter::Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                            const std::vector<std::wstring>& strings,
                            const std::vector<EventField>& fields) {
    State& state = *m_state;
    try {
        EventLogSource source = EventLogSource::Register(state.sourceName);
        const posix::RegisteredSource* registered = posix::RegisteredSource::Of(source.m_handle);
        if (registered == nullptr) {
            state.WaitForSubmitted();
            state.Tell(eventId, 0, 1);
            return;
        }
        if (eventId == state.batchedId) {
            state.Collect(*registered, type, category, eventId, strings, fields);
            return;
        }
        state.Write();  // what was reported before this event goes first
        const bool written = source.Report(type, category, eventId, strings, fields);
        state.Tell(eventId, written ? 1 : 0, written ? 0 : 1);
    } catch (const std::exception&) {  // out of memory: the event is lost
        state.WaitForSubmitted();
        state.Tell(eventId, 0, 1);
    }
}

std::size_t EventLogWriter::Flush() {
    return m_state->Write();
}

std::size_t EventLogWriter::LostEvents() const {
    return m_state->lost.load(std::memory_order_relaxed);
}

}  // namespace platform
