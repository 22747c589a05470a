// The SNMP engine: the manager's only contact with the network on the receiving side.
//
// CSnmpApi wraps Net-SNMP. It prepares the library (environment, print settings, USM, logging),
// loads the MIB modules of the MIB folder, registers and removes SNMPv3 users, opens the two
// listening UDP transports on port 162 (IPv4 and IPv6, each on its own) and performs receive
// rounds. Every SNMPv1 trap, SNMPv2c/SNMPv3 trap and inform that a round reads is rendered
// (CTrapRenderer) and appended, widened from code page 932, to the trap queue, from which the
// dispatch side takes it with PopTrapText. Informs are acknowledged as they are read. The
// manager receives on one thread and dispatches on another: the queue hands the texts over, in
// the order they were read, and wakes the side that waits on it.
//
// Net-SNMP is not safe to call from several threads at once: every library call of the engine
// runs under one library lock, so OpenListeners may run on a thread of its own while receive
// rounds go on. The trap queue (CTrapQueue) has a lock of its own, held only to append or to take;
// no thread holds both locks at once.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Socket.h"
#include "traps/TrapCounters.h"
#include "traps/TrapQueue.h"

struct snmp_session;
struct snmp_pdu;

class CSnmpApi {
  public:
    static constexpr std::uint16_t kTrapPort = 162;

    CSnmpApi();
    // Closes the listening sessions that are still open.
    ~CSnmpApi();
    CSnmpApi(const CSnmpApi&) = delete;
    CSnmpApi& operator=(const CSnmpApi&) = delete;

    // Prepares Net-SNMP for the application `appName`: the environment variables MIBDIRS
    // (snmpDir/Mibs), MIBS ("ALL"), SNMPCONFPATH (snmpDir/Config, then snmpDir/Tmp) and
    // SNMP_PERSISTENT_DIR (snmpDir/Tmp), in this order; the print and MIB settings; the USM
    // configuration handlers; init_snmp; then, when `logFile` is not empty, Net-SNMP's file
    // logging to it, truncated.
    void SetupNetSnmp(const std::string& appName, const std::filesystem::path& snmpDir,
                      const std::filesystem::path& logFile);

    // Loads the MIB modules again with Net-SNMP's file logging sent to `logFile` (truncated; no
    // logging when empty), so that the parser's messages end up there, and then stops all file
    // logging.
    void LoadMibs(const std::filesystem::path& logFile);

    // The "createUser" directive line for a user: ["-e ENGINEID "]NAME[" AUTH"][" PRIV"], where
    // the authentication and privacy parts are "PROTOCOL PASSPHRASE" or empty.
    static std::string BuildCreateUserLine(const std::string& engineId, const std::string& userName,
                                           const std::string& authPart,
                                           const std::string& privPart);

    // Registers an SNMPv3 user with Net-SNMP's USM through the "createUser" directive. The texts
    // are converted to code page 932. `authPart` and `privPart` are "PROTOCOL PASSPHRASE" (MD5 or
    // SHA; DES or AES) or empty; an empty engine ID means the local engine. True when the user
    // exists afterwards; a line that the library rejects is reported only through Net-SNMP's own
    // logging.
    bool CreateUsmUser(const std::wstring& engineId, const std::wstring& userName,
                       const std::wstring& authPart, const std::wstring& privPart);

    // Removes the user of that engine (hexadecimal text; empty means the local engine) and name
    // from the USM. Does nothing for an empty name or an unknown user.
    void DeleteUsmUser(const std::wstring& engineId, const std::wstring& userName);

    // True when Net-SNMP's USM knows the user (engine ID as in DeleteUsmUser).
    bool HasUsmUser(const std::wstring& engineId, const std::wstring& userName);

    // Starts the system's socket library through Net-SNMP's winsock_startup (Winsock 2.2), which
    // Net-SNMP leaves to its caller: on Windows every socket it opens fails (WSANOTINITIALISED)
    // until then. Nothing to start on POSIX. Each start is undone by one CleanUpSocketLibrary.
    static void StartSocketLibrary();
    static void CleanUpSocketLibrary();

    // Empties the trap queue and opens the IPv4 listener "udp:0.0.0.0:162" and the IPv6
    // listener "udp6:[::]:162", each independently of the other: a family that cannot be opened
    // (port taken, no IPv6) leaves the other one listening. True when both opened.
    bool OpenListeners();
    bool HasIpv4Listener() const;
    bool HasIpv6Listener() const;
    // Whether the listener of that family uses the socket that the service manager passed
    // (systemd's socket activation): Net-SNMP takes such a socket instead of binding one of its
    // own, and what it holds unread at the stop stays there for the next run.
    bool IsPassedListener(platform::AddressFamily family) const;

    // One round of the listening sessions, for the thread that receives. It blocks until a
    // listening socket is readable, WakeReceiveRound is called or the next of Net-SNMP's timers is
    // due (without one, no time-out), reads what has arrived (rendering and queueing every
    // notification, answering informs) and lets Net-SNMP handle its time-outs. While the queue
    // holds its limit of text (SetQueueLimit) it reads nothing and waits for PopTrapText to make
    // room: datagrams wait in the sockets' receive buffers, and what does not fit there is
    // dropped and counted by the system. False on an error of the wait. `longestWait`, when not
    // negative, bounds each wait further (for callers that must come back on their own, such as
    // tests).
    bool ReceiveRound(std::chrono::microseconds longestWait = std::chrono::microseconds(-1));

    // Ends a receive round that is waiting, or the next one if none is (a stop request, or new
    // listeners to wait on).
    void WakeReceiveRound();

    // For the dispatch side: blocks until the trap queue holds a text or WakeTrapTextWait is
    // called (before or during the wait; one call ends one wait). True when a text is queued.
    bool WaitForTrapText();
    void WakeTrapTextWait();

    // The most text the trap queue holds before receive rounds stop reading (its characters, in
    // bytes). A round may go past it by what it reads at once (at most 64 datagrams).
    static constexpr std::size_t kDefaultQueueLimitBytes = CTrapQueue::kDefaultLimitBytes;
    void SetQueueLimit(std::size_t bytes);

    // One datagram as a listening session takes it: parsed by Net-SNMP as it parses what it
    // reads (SNMPv3 with the registered USM users) and handed to the receive callback, which
    // renders it. The trap text that a receive round would queue, or empty text when the datagram
    // does not parse or holds no notification. Nothing is sent (the session is not open, so an
    // inform is not answered) and the trap queue is left alone. Call after SetupNetSnmp. For
    // tests and fuzzing: the sender address of the text is "0.0.0.0".
    std::wstring RenderDatagram(std::span<const std::uint8_t> datagram);

    // Removes and returns the oldest trap text, or empty text when the queue is empty.
    std::wstring PopTrapText();
    bool IsQueueEmpty();

    // The most memory that the texts of the trap queue took at one time (their characters, in
    // bytes) since the previous call; starts again from what the queue holds now.
    std::size_t TakeQueuePeakBytes();

    // CTrapRenderer::DecorateLine under the library lock, for a thread beside the receive rounds
    // (the Get pass): "name = value" with the numeric forms of the loaded MIBs added.
    std::string DecorateLine(std::string_view line);

    // Where the engine counts what it reads, renders and answers, and the trap queue's length and
    // size. Set before OpenListeners; the counters must outlive the engine's use of them.
    void SetCounters(CTrapCounters* counters) {
        m_counters = counters;
        m_queue.SetCounters(counters);
    }

    // The system's drop counts of the two listening sockets, where it tells them. Not beside
    // ShutdownNetSnmp, which closes them.
    KernelDrops ListenerKernelDrops() const;

    // What the two listening sockets still hold, unread, for a stop that has ended reading: the
    // bytes queued in each, and the datagrams, counted by reading them out and throwing them away
    // (at most kMostCountedAtStop a socket), as closing the socket would. A socket that the
    // service manager passed (IsPassedListener) outlives the run and is read by the next one: it
    // is kept, and only its bytes are told. Not beside receive rounds, and before
    // ShutdownNetSnmp.
    static constexpr std::uint64_t kMostCountedAtStop = 1u << 20;
    UnreadBacklog TakeUnreadBacklog();

    // Closes the listeners and shuts Net-SNMP down (snmp_shutdown for `appName`). The engine
    // forgets its session handles, so nothing is closed twice; afterwards only the trap queue
    // remains usable.
    void ShutdownNetSnmp(const std::string& appName);

  private:
    struct SessionCloser {
        void operator()(snmp_session* session) const;
    };
    using SessionHandle = std::unique_ptr<snmp_session, SessionCloser>;
    struct PduFreer {
        void operator()(snmp_pdu* pdu) const;
    };

    static int ReceiveCallback(int operation, snmp_session* session, int requestId, snmp_pdu* pdu,
                               void* context);
    void OnMessage(int operation, snmp_session* session, snmp_pdu* pdu);
    SessionHandle OpenListener(const char* peerFormat, platform::AddressFamily family,
                               bool* passed);
    // Reads the library's own counts, under the library lock, and hands what they grew by since
    // the last look to the counters (`baseline`: only remember where they stand).
    void TakeLibraryStatistics(bool baseline);
    void CountRejectedSender(const std::string& text, const snmp_pdu& pdu);

    mutable std::mutex m_libraryMutex;                 // every Net-SNMP call of the engine
    std::vector<std::string>* m_roundTexts = nullptr;  // texts rendered in the running round
    std::uint16_t m_listeningPort = 0;
    SessionHandle m_ipv4Session;
    SessionHandle m_ipv6Session;
    bool m_ipv4Passed = false;  // the listener's socket is the service manager's
    bool m_ipv6Passed = false;
    platform::SocketWaiter m_waiter;  // the blocking wait of receive rounds
    CTrapCounters* m_counters = nullptr;
    std::array<unsigned, 6> m_libraryStatistics{};  // the library's counts at the last look

    CTrapQueue m_queue;  // the hand-over to the dispatch side, with a lock of its own
};
