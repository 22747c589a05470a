// The system event log, Application log. Windows: RegisterEventSourceW / ReportEventW /
// DeregisterEventSource. POSIX: one JSON object per event appended to a file under the system
// root, and a copy to the system journal as a record with fields of its own when the journal is
// there, otherwise to syslog when there is one (see README, "Linux layout").
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr std::uint16_t kEventTypeSuccess = 0;
inline constexpr std::uint16_t kEventTypeError = 1;
inline constexpr std::uint16_t kEventTypeWarning = 2;
inline constexpr std::uint16_t kEventTypeInformation = 4;

// A named value that an event carries beside its insertion strings, for a log that keeps named
// fields (the system journal, as "VORMA_" + name). `name` is upper-case letters, digits and
// underscores. Where the log has no such fields (the Windows log, the log file) it is not kept.
struct EventField {
    std::string name;
    std::wstring value;
};

// The prefix of the journal fields of an event: VORMA_EVENT_ID, VORMA_STRING_1, ...
inline constexpr std::string_view kJournalFieldPrefix = "VORMA_";

// The file that holds the Application log where the log is a file (POSIX:
// $VORMA_SYSROOT/eventlog/Application.jsonl); empty where the system keeps it (Windows).
std::filesystem::path ApplicationLogFile();

// One registered event source. Move-only; deregisters on destruction.
class EventLogSource {
  public:
    EventLogSource() = default;
    EventLogSource(EventLogSource&& other) noexcept;
    EventLogSource& operator=(EventLogSource&& other) noexcept;
    EventLogSource(const EventLogSource&) = delete;
    EventLogSource& operator=(const EventLogSource&) = delete;
    ~EventLogSource();

    // Registers `sourceName` on the local computer. Fails (IsOpen() false, error number in
    // `*error`) only when the log cannot be opened.
    static EventLogSource Register(std::wstring_view sourceName, std::uint32_t* error = nullptr);

    bool IsOpen() const { return m_handle != 0; }

    // Writes one event: no user identifier, no binary data; `fields` go where the log keeps
    // named fields. False when the write fails.
    bool Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                const std::vector<std::wstring>& strings,
                const std::vector<EventField>& fields = {});

    void Deregister();

  private:
    explicit EventLogSource(std::uintptr_t handle) : m_handle(handle) {}
    std::uintptr_t m_handle = 0;
};

// While an EventLogBatch lives on a thread, the events of its identifier that the thread reports
// are collected and written together, in the order reported: one write (under one lock) once
// kMaxEvents events or kMaxBytes bytes are collected, at Flush, and when the batch ends. Report
// then returns true once its event is collected; the batch's observer learns what each write
// wrote and lost. An event of another identifier is written at once, after what was collected
// before it. A thread that reports a stream of events (the dispatch of a backlog) so pays one
// write for many; a batch is ended or flushed as soon as the stream pauses, so no event waits
// for a later one. Batches do not nest: a second batch on the same thread collects nothing of its
// own. Where the system keeps the log (Windows), every event is reported at once and a batch
// collects nothing.
class EventLogBatch {
  public:
    static constexpr std::size_t kMaxEvents = 64;
    static constexpr std::size_t kMaxBytes = 64 * 1024;

    // Told, on the thread that wrote them, how many events each write of the batch wrote and
    // lost; must not block.
    using WriteObserver = std::function<void(std::size_t written, std::size_t lost)>;

    explicit EventLogBatch(std::uint32_t eventId, WriteObserver observer = {});
    // Writes what is still collected.
    ~EventLogBatch();
    EventLogBatch(const EventLogBatch&) = delete;
    EventLogBatch& operator=(const EventLogBatch&) = delete;

    // Writes what is collected; the number of events that this write lost.
    std::size_t Flush();

    // The events that the writes of this batch lost so far.
    std::size_t LostEvents() const;

    // Whether a batch collects the events of `eventId` that this thread reports (then Report
    // tells only that the event was collected; the batch's observer learns whether it was
    // written).
    static bool IsCollecting(std::uint32_t eventId);

    struct State;

  private:
    std::unique_ptr<State> m_state;
};

}  // namespace platform
