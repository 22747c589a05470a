// The counters of every trap's fate during one run of the manager: what was read, rendered,
// answered, written, held back or dropped and why, the trap queue's length and size, and the
// last senders that were turned away.
//
// The trap path only adds to relaxed atomic counters (no lock, no allocation); the rejection
// path, which an operator wants to see by sender, also keeps a short list under a lock. A
// snapshot copies everything for publishing.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What is counted. The names in the published forms are given by CCountersFormat.
enum class TrapCount : std::size_t {
    kDatagramsRead,      // every datagram the listeners read
    kNotificationsV1,    // notifications rendered, by version
    kNotificationsV2c,   //
    kNotificationsV3,    //
    kInformsAnswered,    // inform responses sent
    kEventsWritten,      // trap texts written as event 2000
    kHeldBack,           // trap texts the white and black lists sent to the filter log
    kNoAgentEntry,       // dropped by the agent check: no entry for the address
    kAgentNotListening,  // an entry admits it, but does not listen
    kCommunity,          // entries for the address, none with that community
    kUnknownUser,        // SNMPv3: no such user (for that engine)
    kUnknownEngine,      // SNMPv3: an engine ID that is not the manager's (discovery included)
    kWrongDigest,        // SNMPv3: authentication failed (the text is written with its mark)
    kDecryptionError,    // SNMPv3: the scoped PDU could not be deciphered
    kParseError,         // datagrams that did not parse as SNMP (or of an unknown version)
    kLineFeedInName,     // notifications refused: a line feed in the community or user name
    kEventLogFailures,   // event 2000 that could not be written
    kFilterLogFailures,  // filter-log lines that could not be written
    kGetRequests,        // the Get pass: requests run
    kGetAnswers,         //   answered
    kGetFailures,        //   failed (event 6106)
    kQueueLength,        // gauges of the trap queue: texts now,
    kQueuePeakLength,    //   the most at one time in this run,
    kQueueBytes,         //   their characters now (bytes),
    kQueuePeakBytes,     //   the most at one time in this run
    kCount
};

enum class RejectReason {
    kNoAgentEntry,
    kAgentNotListening,
    kCommunity,
    kWrongDigest,
    kLineFeedInName,
};

// One sender that was turned away: the same address, community (or SNMPv3 user) and reason
// make one entry, counted.
struct RejectedSender {
    std::string address;
    std::string identity;  // community or SNMPv3 user name, UTF-8
    RejectReason reason = RejectReason::kNoAgentEntry;
    std::uint64_t count = 0;
    std::chrono::system_clock::time_point lastTime;

    bool operator==(const RejectedSender&) const = default;
};

// The drop counts the system keeps for one listening socket (a datagram that found its receive
// buffer full), where it tells them.
struct KernelDrops {
    std::optional<std::uint64_t> ipv4;
    std::optional<std::uint64_t> ipv6;

    bool operator==(const KernelDrops&) const = default;
};

// What one listening socket still held, unread, when the stop had ended reading and written out
// the trap queue: each figure where the system tells it.
struct SocketBacklog {
    std::optional<std::uint64_t> bytes;      // the receive queue as the system accounts it
    std::optional<std::uint64_t> datagrams;  // counted by reading them out, where the stop may
    bool keptForNextRun = false;  // a socket the service manager passed, which outlives the run

    bool operator==(const SocketBacklog&) const = default;
};

// The two listening sockets' backlogs at the stop (a family without a listener has none).
struct UnreadBacklog {
    std::optional<SocketBacklog> ipv4;
    std::optional<SocketBacklog> ipv6;

    bool operator==(const UnreadBacklog&) const = default;
};

struct TrapCountersSnapshot {
    std::chrono::system_clock::time_point since;  // the start of the run
    std::array<std::uint64_t, static_cast<std::size_t>(TrapCount::kCount)> values{};
    std::vector<RejectedSender> rejected;  // the most recent first
    KernelDrops kernelDrops;
    std::optional<UnreadBacklog> unreadAtStop;  // once the stop has looked

    std::uint64_t operator[](TrapCount count) const {
        return values[static_cast<std::size_t>(count)];
    }
    bool operator==(const TrapCountersSnapshot&) const = default;
};

// Figures that the SNMP library counts itself, library-wide: the engine hands in what they grew
// by since it last looked.
struct LibraryStatistics {
    std::uint64_t parseErrors = 0;
    std::uint64_t unknownUsers = 0;
    std::uint64_t unknownEngines = 0;
    std::uint64_t wrongDigests = 0;
    std::uint64_t decryptionErrors = 0;
};

class CTrapCounters {
  public:
    static constexpr std::size_t kRejectedSendersKept = 20;

    CTrapCounters();
    CTrapCounters(const CTrapCounters&) = delete;
    CTrapCounters& operator=(const CTrapCounters&) = delete;

    void Add(TrapCount count, std::uint64_t amount = 1) {
        At(count).fetch_add(amount, std::memory_order_relaxed);
    }
    void Set(TrapCount count, std::uint64_t value) {
        At(count).store(value, std::memory_order_relaxed);
    }
    // Raises the gauge to `value` when it is below.
    void Raise(TrapCount count, std::uint64_t value);

    // Adds what the library's own counts grew by, taken after each receive round.
    void AddLibraryStatistics(const LibraryStatistics& growth);

    // Counts the drop and keeps the sender among the last ones turned away: an entry that is
    // already there moves to the front, a new one pushes out the one seen longest ago.
    void Reject(const std::string& address, const std::string& identity, RejectReason reason,
                std::chrono::system_clock::time_point when = std::chrono::system_clock::now());

    void SetKernelDrops(const KernelDrops& drops);
    // What the stop left unread in the listening sockets, for the last counters of the run.
    void SetUnreadAtStop(const UnreadBacklog& unread);

    TrapCountersSnapshot Snapshot() const;

  private:
    std::atomic<std::uint64_t>& At(TrapCount count) {
        return m_values[static_cast<std::size_t>(count)];
    }

    const std::chrono::system_clock::time_point m_since;
    std::array<std::atomic<std::uint64_t>, static_cast<std::size_t>(TrapCount::kCount)> m_values;
    mutable std::mutex m_mutex;  // the list of rejected senders and the sockets' figures
    std::vector<RejectedSender> m_rejected;
    KernelDrops m_kernelDrops;
    std::optional<UnreadBacklog> m_unreadAtStop;
};
