#include "traps/VormaSNMPManageScheduler.h"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stop_token>
#include <string_view>
#include <thread>
#include <utility>

#include "common/LogWriter.h"
#include "common/TrapText.h"
#include "getpoll/GetCycle.h"
#include "platform/EventLog.h"
#include "platform/EventLogWriter.h"
#include "platform/Memory.h"
#include "platform/Path.h"
#include "platform/PortHolder.h"
#include "platform/Program.h"
#include "platform/Service.h"
#include "platform/ServiceNotify.h"
#include "platform/Socket.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "product/AgentAddress.h"
#include "product/RegistryRoot.h"
#include "reporter/EventLogReporter.h"
#include "reporter/ServiceNames.h"
#include "settings/FilterList.h"
#include "settings/SnmpV3Settings.h"
#include "traps/CountersFormat.h"
#include "traps/ListEvaluation.h"

namespace {

constexpr char kAppName[] = "VORMA_SNMPTRAP";
constexpr std::uint16_t kTrapPort = CSnmpApi::kTrapPort;
// A trap queue that held this much text at one time during a dispatch run is followed by a
// release of the heap's free memory; queues of the steady flow stay far below it.
constexpr std::size_t kReleaseAfterQueuedBytes = 8 * 1024 * 1024;

// A file below the SNMP data folder: `relative` is written with backslashes.
std::wstring DataFile(const std::wstring& snmpDir, const wchar_t* relative) {
    return platform::AppendPath(snmpDir, platform::NativeRelativePath(relative));
}

std::filesystem::path NativePath(const std::wstring& path) {
    return std::filesystem::path(platform::WideToLocale(path));
}

// The three fields of a trap text's header line: address, community (user name for SNMPv3)
// and version. `readable` is false for a line of another form.
// The most text the trap queue holds before the manager stops reading its sockets. The
// environment variable VORMA_TEST_TRAP_QUEUE_BYTES sets a smaller one for tests of a full queue;
// it is no setting for an installation (a value above the default is ignored).
std::size_t TrapQueueLimit() {
    if (const char* value = std::getenv("VORMA_TEST_TRAP_QUEUE_BYTES"); value != nullptr) {
        const std::string_view text(value);
        std::size_t bytes = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), bytes);
        if (ec == std::errc() && end == text.data() + text.size() && bytes > 0 &&
            bytes < CSnmpApi::kDefaultQueueLimitBytes) {
            return bytes;
        }
    }
    return CSnmpApi::kDefaultQueueLimitBytes;
}

}  // namespace

CVormaSNMPManageScheduler::CVormaSNMPManageScheduler() = default;

CVormaSNMPManageScheduler::~CVormaSNMPManageScheduler() {
    // Run lets no exception out: nothing is kept.
    m_runThread.StopAll();
    m_settings.Shutdown();
}

void CVormaSNMPManageScheduler::Start() {
    m_runThread.Start([this](std::stop_token stop) {
        std::stop_callback endMainLoop(stop, [this] { m_runStopRequested.Set(); });
        Run();
    });
}

long CVormaSNMPManageScheduler::Run() {
    // The process locale was set from the system's by the program entry; the filter log and the
    // settings files follow it.
    ReportToEventLog(MSG_SERVICE_STARTED, kEventInformation);

    std::wstring installDir;
    std::wstring snmpDir;
    bool started = false;
    StartUpFailure failure = StartUpFailure::kSettingsUnreadable;
    try {
        CRegistryRoot registry;
        registry.GetInstallDir(installDir);
        if (m_settings.Startup(installDir) == 0) {
            if (m_settings.LastStartupFailure() == CManagerSettings::Failure::kServerUnreachable) {
                failure = StartUpFailure::kProductServerUnreachable;
            }
            ReportToEventLog(MSG_INIT_FAILED, kEventError);
        } else if (CheckTrapPorts(&failure)) {
            snmpDir = registry.GetSnmpDir();
            if (snmpDir.empty()) {
                failure = StartUpFailure::kSettingsUnreadable;
                ReportToEventLog(MSG_MIB_FOLDER_NOT_FOUND, kEventError);
            } else {
                started = StartUp(installDir, snmpDir);
            }
        }
        if (started) {
            MainLoop();
            platform::NotifyServiceStopping();
            StopSequence();
        }
    } catch (const std::exception&) {
        // Nothing may leave the run thread: what ran is stopped and the run ends as after a stop.
        try {
            StopSequence();
        } catch (const std::exception&) {
        }
    }
    m_startUpFailure = started ? StartUpFailure::kNone : failure;

    m_stopEvent.reset();
    if (m_stopCallback != nullptr) {
        m_stopCallback();
    }
    ReportToEventLog(MSG_SERVICE_STOPPED, kEventInformation);
    return 0;
}

bool CVormaSNMPManageScheduler::StartUp(const std::wstring& installDir,
                                        const std::wstring& snmpDir) {
    const std::wstring mibReport = DataFile(snmpDir, L"logs\\VormaSnmpManager.txt");
    DeletePreviousMibReport(mibReport);

    m_snmpApi.SetupNetSnmp(kAppName, NativePath(snmpDir), NativePath(mibReport));
    m_engineReady = true;
    m_snmpApi.LoadMibs(NativePath(mibReport));
    CheckMibReport(mibReport);

    m_filterLogBasePath = DataFile(snmpDir, L"logs\\FilterLog");
    m_levelList = LoadEventLevels(DataFile(snmpDir, L"Config\\EventLevel.txt"));
    m_whiteList = LoadFilterList(DataFile(snmpDir, L"Config\\FilterWhite.txt"));
    m_blackList = LoadFilterList(DataFile(snmpDir, L"Config\\FilterBlack.txt"));
    m_compiledLists = CCompiledLists(m_whiteList, m_blackList, m_levelList);

    CreateUsmUsers(snmpDir);

    m_snmpApi.SetQueueLimit(TrapQueueLimit());
    m_snmpApi.SetCounters(&m_counters);
    CSnmpApi::StartSocketLibrary();
    m_socketLibraryStarted = true;

    // The listeners open before the first receive round, so the two never overlap.
    std::thread listener([this] { m_snmpApi.OpenListeners(); });
    listener.join();
    ReportPassedListeners();
    platform::NotifyServiceReady();
    // The workers start in the reverse order of their stop (see the header). The counters show
    // once a second while they change, from a thread of their own, so that the main loop sleeps
    // undisturbed.
    m_workers.Start([this](std::stop_token stop) { PublishWorker(std::move(stop)); });
    m_publishing = true;
    m_workers.Start([this](std::stop_token stop) { DispatchWorker(std::move(stop)); });
    m_workers.Start([this, installDir, snmpDir](std::stop_token stop) {
        RunGetPass(installDir, snmpDir, std::move(stop));
    });

    // Start on a whole second of the clock, as the tick-based timers of the library expect.
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000 - ms % 1000));
    // Reading starts with the run: until now what arrives waits in the sockets, and an inform is
    // answered only by a manager that dispatches.
    m_workers.Start([this](std::stop_token stop) { ReceiveTraps(std::move(stop)); });
    return true;
}

void CVormaSNMPManageScheduler::ReportPassedListeners() {
    // Under socket activation the journal tells which sockets the run took from the service
    // manager: those keep what arrives while the manager is stopped or restarted.
    std::wstring families;
    for (const auto& [family, name] : {std::pair{platform::AddressFamily::kIpv4, L"IPv4"},
                                       std::pair{platform::AddressFamily::kIpv6, L"IPv6"}}) {
        if (m_snmpApi.IsPassedListener(family)) {
            families += (families.empty() ? L"" : L" and ") + std::wstring(name);
        }
    }
    if (!families.empty()) {
        platform::PrintErrorToConsole(L"UDP port 162: " + families +
                                      L" on the sockets that the service manager passed\n");
    }
}

void CVormaSNMPManageScheduler::DeletePreviousMibReport(const std::wstring& path) {
    const std::filesystem::path file = NativePath(path);
    {
        std::ifstream probe(file);
        if (!probe) {
            return;
        }
    }
    std::error_code ec;
    if (std::filesystem::remove(file, ec) && !ec) {
        return;
    }
    if (!ec) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    const int error = ec.value();
    std::wstring text = FormatResourceMessage(
        IDS_MIB_REPORT_DELETE_ERROR,
        {path, static_cast<std::int64_t>(error), platform::SystemErrorText(error)});
    ReportToEventLog(MSG_MIB_REPORT_DELETE_FAILED, kEventError, {text + L"\r\n"});
}

void CVormaSNMPManageScheduler::CreateUsmUsers(const std::wstring& snmpDir) {
    m_usmUsers = LoadSnmpV3Settings(DataFile(snmpDir, L"Config\\SnmpV3Setting.txt"));
    for (const UsmEntry& user : m_usmUsers) {
        std::wstring auth;
        std::wstring priv;
        // Privacy without authentication is not possible: such a user gets neither.
        if (!user.authProtocol.empty()) {
            auth = user.authProtocol + L" " + user.authPassword;
            if (!user.privProtocol.empty()) {
                priv = user.privProtocol + L" " + user.privPassword;
            }
        }
        m_snmpApi.CreateUsmUser(user.engineId, user.userName, auth, priv);
    }
}

bool CVormaSNMPManageScheduler::CheckTrapPorts(StartUpFailure* failure) {
    bool any = false;
    bool onlyPermission = true;
    struct Family {
        platform::AddressFamily family;
        const wchar_t* name;
    };
    for (const Family& f : {Family{platform::AddressFamily::kIpv4, L"IPv4"},
                            Family{platform::AddressFamily::kIpv6, L"IPv6"}}) {
        // A socket that the service manager holds for the manager is bound already: a trial bind
        // would only find the port taken. Net-SNMP takes that socket when it opens the listener.
        if (platform::PassedUdpSocket(f.family, kTrapPort)) {
            any = true;
            continue;
        }
        std::error_code ec = platform::TryBindUdp(f.family, kTrapPort);
        if (!ec) {
            any = true;
            continue;
        }
        if (ec != std::errc::permission_denied && ec != std::errc::operation_not_permitted) {
            onlyPermission = false;
        }
        wchar_t code[16];
        std::swprintf(code, 16, L"%x", static_cast<unsigned>(ec.value()));
        std::wstring text = std::wstring(f.name) + L" Port Error( 0x" + code + L" ) : " +
                            platform::SystemErrorText(static_cast<std::uint32_t>(ec.value()));
        ReportToEventLog(MSG_TRAP_PORT_ERROR, kEventError, {text});
    }
    if (!any) {
        // Whoever holds the port, where the system can tell: on the console of a foreground run,
        // or in the journal of a unit (Windows looks nobody up).
        const std::wstring holders = platform::DescribeUdpPortHolders(kTrapPort);
        if (!holders.empty()) {
            platform::PrintErrorToConsole(L"UDP port 162 is held by " + holders + L"\n");
        }
        if (failure != nullptr) {
            *failure = onlyPermission ? StartUpFailure::kTrapPortForbidden
                                      : StartUpFailure::kTrapPortUnavailable;
        }
    }
    return any;
}

void CVormaSNMPManageScheduler::CheckMibReport(const std::wstring& path) {
    std::wstring message;
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) {
        message = LoadResourceString(IDS_MIB_REPORT_UNREADABLE);
    } else {
        // Lines are read in pieces of at most 1,023 characters, as the report was always read.
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty()) {
                message = LoadResourceString(IDS_MIB_REPORT_NOT_EMPTY);
                break;
            }
        }
        // A path that opens but cannot be read (a folder in the report's place) is as
        // inaccessible as one that does not open.
        if (message.empty() && in.bad()) {
            message = LoadResourceString(IDS_MIB_REPORT_UNREADABLE);
        }
    }
    if (!message.empty()) {
        ReportToEventLog(MSG_MIB_REPORT, kEventError, {message + L"\n{ " + path + L" }"});
    }
}

void CVormaSNMPManageScheduler::MainLoop() {
    // Sleeps until the stop is requested; the workers run on their own meanwhile.
    std::vector<platform::Event*> events{&m_runStopRequested};
    if (m_stopEvent) {
        events.push_back(m_stopEvent.get());
    }
    platform::Event::WaitAny(events);
}

void CVormaSNMPManageScheduler::DispatchWorker(std::stop_token stop) {
    // Each run ends when the queue is empty; the stop is asked for only once reading has ended,
    // so the queue that a run finds empty after it stays empty.
    std::stop_callback wake(stop, [this] { m_snmpApi.WakeTrapTextWait(); });
    do {
        DispatchTraps(stop);
    } while (!stop.stop_requested() || !m_snmpApi.IsQueueEmpty());
}

void CVormaSNMPManageScheduler::ReceiveTraps(std::stop_token stop) {
    std::stop_callback wake(stop, [this] { m_snmpApi.WakeReceiveRound(); });
    while (!stop.stop_requested()) {
        try {
            if (!m_snmpApi.ReceiveRound()) {
                // A wait that failed is not retried at full speed.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } catch (const std::exception&) {
            // What a round that cost an exception (out of memory) had read is lost; the next
            // round goes on.
        }
    }
}

void CVormaSNMPManageScheduler::StopSequence() {
    // Receiving first, which reads nothing more once its round has ended; the Get pass, which
    // ends its running request; dispatch, which writes out what is queued; publishing.
    const std::exception_ptr failure = m_workers.StopAll();
    // What the run did, in full, while the listeners still tell their drops, with what the stop
    // leaves unread in them.
    if (m_publishing) {
        m_publishing = false;
        CountUnreadAtStop();
        PublishCounters(true);
    }
    for (const UsmEntry& user : m_usmUsers) {
        m_snmpApi.DeleteUsmUser(user.engineId, user.userName);
    }
    m_usmUsers.clear();
    if (m_engineReady) {
        m_snmpApi.ShutdownNetSnmp(kAppName);
        m_engineReady = false;
    }
    if (m_socketLibraryStarted) {
        CSnmpApi::CleanUpSocketLibrary();
        m_socketLibraryStarted = false;
    }
    // A worker that failed ends the run as a failure of the run thread does.
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void CVormaSNMPManageScheduler::DispatchTraps(std::stop_token stop) {
    try {
        // Every event of the run goes through its writer: the trap events of a backlog are
        // written a batch at a time, the batch written out when the queue runs empty and the run
        // ends, so an event never waits for the next datagram. The writer's observer is the one
        // place where trap events are counted.
        platform::EventLogWriter events(
            kEventSourceName, MSG_TRAP_RECEIVED,
            [this](std::uint32_t eventId, std::size_t written, std::size_t lost) {
                if (eventId == MSG_TRAP_RECEIVED) {
                    m_counters.Add(TrapCount::kEventsWritten, written);
                    m_counters.Add(TrapCount::kEventLogFailures, lost);
                }
            });
        CLogWriter filterLog(m_filterLogBasePath, m_writeMutex, CLogWriter::kFilterLogFilesKept);
        filterLog.ReportThrough(&events);
        while (true) {
            if (!stop.stop_requested()) {
                m_snmpApi.WaitForTrapText();
            }
            std::wstring text = m_snmpApi.PopTrapText();
            if (text.empty()) {
                break;
            }
            DispatchTrapText(text, filterLog, events);
            // The queue is empty: the run ends here rather than in a round that would wait for
            // the next datagram, so that what a backlog took is given back (below) at once.
            if (m_snmpApi.IsQueueEmpty()) {
                break;
            }
        }
    } catch (const std::exception&) {
        // A trap that cost an exception (out of memory) is lost; the next run goes on.
    }
    // The texts of a backlog have been freed into the heap, which keeps their pages; with the
    // queue empty again they go back to the system, so that a burst does not leave the manager
    // at its peak size for the rest of its run.
    if (m_snmpApi.TakeQueuePeakBytes() >= kReleaseAfterQueuedBytes) {
        platform::ReleaseFreeHeapMemory();
    }
}

void CVormaSNMPManageScheduler::DispatchTrapText(const std::wstring& trapText,
                                                 CLogWriter& filterLog,
                                                 platform::EventLogWriter& events) {
    const traptext::Header header = traptext::SplitHeader(trapText);
    if (!header.readable) {
        return;  // not a header that the engine renders: no agent can be told from it
    }
    std::wstring displayName;
    if (header.version != L"V3") {
        CAgentEntry record;
        record.m_addr = header.address;
        record.m_communityName = header.community;
        const bool wildcardListens =
            m_settings.WildcardPresent() != 0 && m_settings.WildcardListens() != 0;
        bool accepted = false;
        bool found = false;
        if (FindAgent(record, m_settings) == 1) {
            found = true;
            accepted = record.m_listen != 0 || m_settings.WildcardListens() != 0;
        }
        if (!accepted) {
            record.m_communityName = kAllText;
            if (FindAgent(record, m_settings) == 1) {
                found = true;
                accepted = record.m_listen != 0 || m_settings.WildcardListens() != 0;
            }
        }
        if (accepted) {
            displayName = record.m_dispName;
        } else if (wildcardListens) {
            displayName = m_settings.WildcardDispName();
        } else {
            // An agent the product does not listen to: no event, only its count.
            CountRejectedAgent(header.address, header.community, found);
            return;
        }
    }

    const std::wstring message = displayName.empty() ? trapText : displayName + L" : " + trapText;
    if (m_compiledLists.IsExcluded(message, &events)) {
        m_counters.Add(TrapCount::kHeldBack);
        if (!filterLog.WriteFormat(L"%s", message)) {
            m_counters.Add(TrapCount::kFilterLogFailures);
            events.Report(
                kEventError, 0, MSG_SETTINGS_ERROR,
                {FormatResourceMessage(IDS_FILTER_LOG_ERROR, {filterLog.GetLastErrorText()})});
        }
        return;
    }
    // The header's fields, for a log that keeps named fields (the journal).
    std::vector<platform::EventField> fields;
    fields.reserve(4);
    fields.push_back({"AGENT_ADDRESS", header.address});
    if (!displayName.empty()) {
        fields.push_back({"AGENT_NAME", displayName});
    }
    fields.push_back(
        {header.version == L"V3" ? "AGENT_USER" : "AGENT_COMMUNITY", header.community});
    fields.push_back({"SNMP_VERSION", header.version});
    // Counted by the writer's observer once written.
    events.Report(m_compiledLists.GetEventType(message, &events), 0, MSG_TRAP_RECEIVED, {message},
                  fields);
}

void CVormaSNMPManageScheduler::CountRejectedAgent(const std::wstring& address,
                                                   const std::wstring& community, bool found) {
    RejectReason reason = RejectReason::kNoAgentEntry;
    if (found) {
        reason = RejectReason::kAgentNotListening;
    } else {
        AgentAddress query{};
        if (ParseAgentAddress(address, &query)) {
            for (const std::shared_ptr<CAgentEntry>& entry : m_settings.Agents()) {
                if (entry->m_address == query) {
                    reason = RejectReason::kCommunity;  // listed, but not with this community
                    break;
                }
            }
        }
    }
    m_counters.Reject(platform::WideToUtf8(address), platform::WideToUtf8(community), reason);
}

void CVormaSNMPManageScheduler::CountUnreadAtStop() {
    try {
        const UnreadBacklog unread = m_snmpApi.TakeUnreadBacklog();
        m_counters.SetUnreadAtStop(unread);
        platform::PrintErrorToConsole(
            platform::Utf8ToWide(CCountersFormat::UnreadAtStopLine(unread)) + L"\n");
    } catch (const std::exception&) {
        // Out of memory: the stop goes on without these figures.
    }
}

void CVormaSNMPManageScheduler::PublishCounters(bool always) {
    try {
        m_counters.SetKernelDrops(m_snmpApi.ListenerKernelDrops());
        TrapCountersSnapshot snapshot = m_counters.Snapshot();
        if (!always && m_publishedCounters && snapshot == *m_publishedCounters) {
            return;  // nothing changed: nothing is written
        }
        platform::PublishServiceCounters(kServiceName, CCountersFormat::ToJson(snapshot),
                                         CCountersFormat::ToPrometheus(snapshot));
        m_publishedCounters = std::move(snapshot);
    } catch (const std::exception&) {
        // Out of memory: the next look tries again; the stop goes on without the last figures.
    }
}

void CVormaSNMPManageScheduler::PublishWorker(std::stop_token stop) {
    platform::Event stopRequested(platform::Event::Reset::kManual);
    std::stop_callback wake(stop, [&stopRequested] { stopRequested.Set(); });
    while (!stopRequested.Wait(std::chrono::seconds(1))) {
        PublishCounters(false);
    }
}

void CVormaSNMPManageScheduler::RunGetPass(std::wstring installDir, std::wstring snmpDir,
                                           std::stop_token stop) {
    // The MIB tree belongs to Net-SNMP, which the receive rounds use at the same time: the pass
    // decorates its results under the engine's library lock.
    CGetCycle(
        std::move(installDir), std::move(snmpDir),
        {[this](const std::wstring& text) { return IsExcluded(text, m_whiteList, m_blackList); },
         [this](const std::wstring& text) { return GetEventType(text, m_levelList); }},
        m_filterLogBasePath, m_writeMutex, [stop] { return stop.stop_requested(); },
        [this](std::string_view line) { return m_snmpApi.DecorateLine(line); },
        [this](bool answered) {
            m_counters.Add(TrapCount::kGetRequests);
            m_counters.Add(answered ? TrapCount::kGetAnswers : TrapCount::kGetFailures);
        })
        .Run();
}
