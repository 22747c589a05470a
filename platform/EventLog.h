// The system event log, Application log. Windows: RegisterEventSourceW / ReportEventW /
// DeregisterEventSource. POSIX: one JSON object per event appended to a file under the system
// root, and a copy to the system journal as a record with fields of its own when the journal is
// there, otherwise to syslog when there is one (see README, "Linux layout").
#pragma once

#include <cstdint>
#include <filesystem>
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

    // Writes one event at once: no user identifier, no binary data; `fields` go where the log
    // keeps named fields. False when the write fails. (A thread that writes a stream of events
    // writes them through an EventLogWriter, platform/EventLogWriter.h.)
    bool Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                const std::vector<std::wstring>& strings,
                const std::vector<EventField>& fields = {});

    void Deregister();

  private:
    friend class EventLogWriter;  // collects the events of a source to write them later

    explicit EventLogSource(std::uintptr_t handle) : m_handle(handle) {}
    std::uintptr_t m_handle = 0;
};

}  // namespace platform
