#include "traps/SnmpApi.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <net-snmp/library/large_fd_set.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "common/TrapText.h"
#include "platform/Socket.h"
#include "platform/Text.h"
#include "traps/TrapRenderer.h"

namespace {

// A round reads on while datagrams are waiting, up to this many reads, so that a burst moves
// from the socket buffers, which drop what does not fit, into the trap queue.
constexpr int kMaxReadsPerRound = 64;
// Receive buffer of the listening sockets unless Net-SNMP's configuration ("serverRecvBuf")
// says otherwise; the system may grant less (on Linux, net.core.rmem_max caps it). Large enough
// that a storm is absorbed by the socket instead of dropped while dispatch catches up.
constexpr int kServerReceiveBuffer = 32 * 1024 * 1024;
constexpr std::size_t kEngineIdBuffer = 64;

std::string ToCp932(const std::wstring& text) {
    return platform::WideToCodePage(platform::kCodePage932, text);
}

// Overwrites text that held pass phrases before its memory is released.
void Scrub(std::vector<char>& buffer) {
    volatile char* p = buffer.data();
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        p[i] = 0;
    }
}

// The USM user of an engine (hexadecimal, "0x" allowed; empty means the local engine) and name,
// or null. Call under the library lock.
struct usmUser* FindUser(const std::string& engineId, const std::string& name) {
    u_char engine[kEngineIdBuffer];
    size_t engineLength = 0;
    if (engineId.empty()) {
        engineLength = snmpv3_get_engineID(engine, sizeof engine);
    } else {
        u_char* buffer = engine;
        size_t bufferLength = sizeof engine;
        if (snmp_hex_to_binary(&buffer, &bufferLength, &engineLength, 0, engineId.c_str()) == 0) {
            return nullptr;
        }
    }
    if (engineLength == 0) {
        return nullptr;
    }
    return usm_get_user(engine, engineLength, name.c_str());
}

// A Net-SNMP descriptor set, released when it goes out of scope.
class CFdSet {
  public:
    CFdSet() { netsnmp_large_fd_set_init(&m_set, FD_SETSIZE); }
    ~CFdSet() { netsnmp_large_fd_set_cleanup(&m_set); }
    CFdSet(const CFdSet&) = delete;
    CFdSet& operator=(const CFdSet&) = delete;

    netsnmp_large_fd_set* Get() { return &m_set; }

  private:
    netsnmp_large_fd_set m_set;
};

}  // namespace

void CSnmpApi::PduFreer::operator()(snmp_pdu* pdu) const {
    snmp_free_pdu(pdu);
}

void CSnmpApi::SessionCloser::operator()(snmp_session* session) const {
    snmp_close(session);
}

CSnmpApi::CSnmpApi() = default;

CSnmpApi::~CSnmpApi() {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    m_ipv4Session.reset();
    m_ipv6Session.reset();
}

void CSnmpApi::SetupNetSnmp(const std::string& appName, const std::filesystem::path& snmpDir,
                            const std::filesystem::path& logFile) {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    const std::string mibs = (snmpDir / "Mibs").string();
    const std::string config = (snmpDir / "Config").string();
    const std::string persistent = (snmpDir / "Tmp").string();
    const std::string configPath = config + ENV_SEPARATOR + persistent;
    netsnmp_setenv("MIBDIRS", mibs.c_str(), 1);
    netsnmp_setenv("MIBS", "ALL", 1);
    netsnmp_setenv("SNMPCONFPATH", configPath.c_str(), 1);
    netsnmp_setenv("SNMP_PERSISTENT_DIR", persistent.c_str(), 1);

    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_SAVE_MIB_DESCRS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_REPLACE, 1);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_OID_OUTPUT_FORMAT,
                       NETSNMP_OID_OUTPUT_SUFFIX);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_BREAKDOWN_OIDS, 1);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_SERVERRECVBUF, kServerReceiveBuffer);

    init_usm_conf(appName.c_str());
    init_snmp(appName.c_str());
    CTrapRenderer::ForgetLoadedMibs();
    if (!logFile.empty()) {
        snmp_enable_filelog(logFile.string().c_str(), 0);
    }
}

void CSnmpApi::LoadMibs(const std::filesystem::path& logFile) {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    shutdown_mib();
    if (!logFile.empty()) {
        snmp_enable_filelog(logFile.string().c_str(), 0);
    }
    init_mib();
    CTrapRenderer::ForgetLoadedMibs();
    snmp_disable_filelog();
}

std::string CSnmpApi::BuildCreateUserLine(const std::string& engineId, const std::string& userName,
                                          const std::string& authPart,
                                          const std::string& privPart) {
    std::string line;
    if (!engineId.empty()) {
        line = "-e " + engineId + " ";
    }
    line += userName;
    if (!authPart.empty()) {
        line += " " + authPart;
    }
    if (!privPart.empty()) {
        line += " " + privPart;
    }
    return line;
}

bool CSnmpApi::CreateUsmUser(const std::wstring& engineId, const std::wstring& userName,
                             const std::wstring& authPart, const std::wstring& privPart) {
    const std::string engine = ToCp932(engineId);
    const std::string name = ToCp932(userName);
    const std::string line =
        BuildCreateUserLine(engine, name, ToCp932(authPart), ToCp932(privPart));
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');

    std::lock_guard<std::mutex> lock(m_libraryMutex);
    usm_parse_create_usmUser("CreateUser", buffer.data());
    Scrub(buffer);
    return FindUser(engine, name) != nullptr;
}

void CSnmpApi::DeleteUsmUser(const std::wstring& engineId, const std::wstring& userName) {
    if (userName.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    struct usmUser* user = FindUser(ToCp932(engineId), ToCp932(userName));
    if (user == nullptr) {
        return;
    }
    usm_remove_user(user);
    // Detached from the list, the record belongs to us.
    user->next = nullptr;
    user->prev = nullptr;
    usm_free_user(user);
}

bool CSnmpApi::HasUsmUser(const std::wstring& engineId, const std::wstring& userName) {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    return FindUser(ToCp932(engineId), ToCp932(userName)) != nullptr;
}

std::string CSnmpApi::DecorateLine(std::string_view line) {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    return CTrapRenderer::DecorateLine(line);
}

CSnmpApi::SessionHandle CSnmpApi::OpenListener(const char* peerFormat,
                                               platform::AddressFamily family, bool* passed) {
    char peerName[64];
    std::snprintf(peerName, sizeof peerName, peerFormat, static_cast<int>(m_listeningPort));
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_DEFAULT_VERSION;
    session.retries = SNMP_DEFAULT_RETRIES;
    session.timeout = SNMP_DEFAULT_TIMEOUT;
    session.peername = peerName;
    session.local_port = m_listeningPort;
    session.authenticator = nullptr;
    session.callback = &CSnmpApi::ReceiveCallback;
    session.callback_magic = this;
    session.community_len = 0;
    session.isAuthoritative = SNMP_SESS_UNKNOWNAUTH;
    SessionHandle opened(snmp_open(&session));
    // Net-SNMP asks for the configured receive buffer, which the system may cap; a manager that
    // may go past the cap does, so a storm fits. Without the right it keeps what it got.
    const int wanted = netsnmp_ds_get_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_SERVERRECVBUF);
    netsnmp_transport* transport =
        opened ? snmp_sess_transport(snmp_sess_pointer(opened.get())) : nullptr;
    if (transport != nullptr && transport->sock >= 0 && wanted > 0) {
        [[maybe_unused]] std::error_code ignored =
            platform::EnsureReceiveBuffer(transport->sock, wanted);
    }
    const std::optional<std::intptr_t> passedSocket =
        platform::PassedUdpSocket(family, m_listeningPort);
    *passed = transport != nullptr && passedSocket && *passedSocket == transport->sock;
    return opened;
}

void CSnmpApi::StartSocketLibrary() {
    // The result (an error text) is not needed: a library that did not start shows as
    // listeners that do not open, as a port that cannot be had does.
    SOCK_STARTUP;
}

void CSnmpApi::CleanUpSocketLibrary() {
    SOCK_CLEANUP;
}

bool CSnmpApi::OpenListeners() {
    m_queue.Clear();
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    m_listeningPort = kTrapPort;
    // Each family on its own: a port taken on one of them must not silence the other.
    if (!m_ipv4Session) {
        m_ipv4Session =
            OpenListener("udp:0.0.0.0:%d", platform::AddressFamily::kIpv4, &m_ipv4Passed);
    }
    if (!m_ipv6Session) {
        m_ipv6Session = OpenListener("udp6:[::]:%d", platform::AddressFamily::kIpv6, &m_ipv6Passed);
    }
    // A round that waits already waits on the sockets it knew: it starts again with these.
    m_waiter.Wake();
    TakeLibraryStatistics(true);
    return m_ipv4Session && m_ipv6Session;
}

bool CSnmpApi::HasIpv4Listener() const {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    return m_ipv4Session != nullptr;
}

bool CSnmpApi::HasIpv6Listener() const {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    return m_ipv6Session != nullptr;
}

bool CSnmpApi::IsPassedListener(platform::AddressFamily family) const {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    return family == platform::AddressFamily::kIpv4 ? m_ipv4Session && m_ipv4Passed
                                                    : m_ipv6Session && m_ipv6Passed;
}

bool CSnmpApi::ReceiveRound(std::chrono::microseconds longestWait) {
    const std::size_t room = m_queue.WaitForRoom(longestWait);
    if (room == 0) {
        return true;
    }
    std::vector<std::string> texts;
    bool ok = true;
    std::unique_lock<std::mutex> lock(m_libraryMutex);
    {
        // Wait for a datagram, a wake-up or the library's next timer, without the library lock,
        // so that the Get pass can use the MIB tree meanwhile. Only the listeners' sockets are
        // waited on: they are the library's only sessions.
        int descriptors = 0;
        int block = 1;
        timeval timeout = {0, 0};
        CFdSet unused;
        snmp_select_info2(&descriptors, unused.Get(), &timeout, &block);
        std::chrono::microseconds wait =
            block != 0
                ? std::chrono::microseconds(-1)
                : std::chrono::seconds(timeout.tv_sec) + std::chrono::microseconds(timeout.tv_usec);
        if (longestWait.count() >= 0 && (wait.count() < 0 || longestWait < wait)) {
            wait = longestWait;
        }
        std::vector<std::intptr_t> sockets;
        for (const SessionHandle* session : {&m_ipv4Session, &m_ipv6Session}) {
            netsnmp_transport* transport =
                *session ? snmp_sess_transport(snmp_sess_pointer(session->get())) : nullptr;
            if (transport != nullptr && transport->sock >= 0) {
                sockets.push_back(transport->sock);
            }
        }
        lock.unlock();
        // Without a listener (none could be opened) and a timer, only a wake-up ends the wait.
        std::vector<std::intptr_t> readable;
        ok = !m_waiter.Wait(sockets, wait, readable);
        lock.lock();
    }
    m_roundTexts = &texts;
    std::size_t taken = 0;
    CFdSet readable;
    // Read on while datagrams are waiting, without waiting for more.
    for (int read = 0; ok && read < kMaxReadsPerRound && taken < room; ++read) {
        int descriptors = 0;
        int block = 0;
        timeval timeout = {0, 0};
        NETSNMP_LARGE_FD_ZERO(readable.Get());
        snmp_select_info2(&descriptors, readable.Get(), &timeout, &block);
        timeout = {0, 0};
        const int ready =
            netsnmp_large_fd_set_select(descriptors, readable.Get(), nullptr, nullptr, &timeout);
        if (ready > 0) {
            snmp_read2(readable.Get());
            // One datagram from each readable listener (the only sessions): counted here, as
            // the library counts received packets only for an agent.
            if (m_counters != nullptr) {
                m_counters->Add(TrapCount::kDatagramsRead, static_cast<std::uint64_t>(ready));
            }
            taken = 0;
            for (const std::string& text : texts) {
                taken += text.size() * sizeof(wchar_t);
            }
        } else {
            if (ready == 0 && read == 0) {
                snmp_timeout();
            }
            ok = ready == 0 || read > 0;
            break;
        }
    }
    m_roundTexts = nullptr;
    TakeLibraryStatistics(false);
    lock.unlock();
    m_queue.AppendTexts(texts);
    return ok;
}

void CSnmpApi::WakeReceiveRound() {
    m_waiter.Wake();
    m_queue.WakeRoomWait();
}

bool CSnmpApi::WaitForTrapText() {
    return m_queue.WaitForText();
}

void CSnmpApi::WakeTrapTextWait() {
    m_queue.WakeTextWait();
}

void CSnmpApi::SetQueueLimit(std::size_t bytes) {
    m_queue.SetLimit(bytes);
}

std::wstring CSnmpApi::RenderDatagram(std::span<const std::uint8_t> datagram) {
    if (datagram.empty()) {
        return {};
    }
    std::vector<std::string> texts;
    {
        std::lock_guard<std::mutex> lock(m_libraryMutex);
        // Net-SNMP parses, and deciphers, in the buffer it read into.
        std::vector<u_char> packet(datagram.begin(), datagram.end());
        netsnmp_session session;
        snmp_sess_init(&session);
        session.version = SNMP_DEFAULT_VERSION;
        session.callback = &CSnmpApi::ReceiveCallback;
        session.callback_magic = this;
        session.isAuthoritative = SNMP_SESS_UNKNOWNAUTH;
        // A PDU as the receive path creates it: zero-filled, no transport data.
        std::unique_ptr<netsnmp_pdu, PduFreer> pdu(
            static_cast<netsnmp_pdu*>(std::calloc(1, sizeof(netsnmp_pdu))));
        if (pdu == nullptr) {
            return {};
        }
        // A message that fails authentication is handed to the callback all the same, with the
        // failure recorded on the session, as a listening session's security model does.
        if (snmp_parse(nullptr, &session, pdu.get(), packet.data(), packet.size()) !=
                SNMP_ERR_NOERROR &&
            session.s_snmp_errno != SNMPERR_USM_AUTHENTICATIONFAILURE) {
            return {};
        }
        // Responses go to the requests that wait for them, never to the session's callback.
        if ((pdu->flags & UCD_MSG_FLAG_RESPONSE_PDU) != 0) {
            return {};
        }
        m_roundTexts = &texts;
        ReceiveCallback(NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE, &session, pdu->reqid, pdu.get(),
                        this);
        m_roundTexts = nullptr;
    }
    if (texts.empty()) {
        return {};
    }
    return platform::CodePageToWide(platform::kCodePage932, texts.front());
}

std::wstring CSnmpApi::PopTrapText() {
    return m_queue.Pop();
}

bool CSnmpApi::IsQueueEmpty() {
    return m_queue.IsEmpty();
}

std::size_t CSnmpApi::TakeQueuePeakBytes() {
    return m_queue.TakePeakBytes();
}

void CSnmpApi::ShutdownNetSnmp(const std::string& appName) {
    std::lock_guard<std::mutex> lock(m_libraryMutex);
    m_ipv4Session.reset();
    m_ipv6Session.reset();
    snmp_shutdown(appName.c_str());
    CTrapRenderer::ForgetLoadedMibs();
}

int CSnmpApi::ReceiveCallback(int operation, snmp_session* session, int /*requestId*/,
                              snmp_pdu* pdu, void* context) {
    // Nothing may leave through Net-SNMP's C frames.
    try {
        if (context != nullptr) {
            static_cast<CSnmpApi*>(context)->OnMessage(operation, session, pdu);
        }
    } catch (...) {
    }
    return 1;
}

void CSnmpApi::OnMessage(int operation, snmp_session* session, snmp_pdu* pdu) {
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || pdu == nullptr) {
        return;
    }
    // Net-SNMP hands over SNMPv3 messages that failed authentication too, with the session's
    // last error set to the authentication failure while the callback runs: the text carries the
    // mark, so the operator learns of an agent that sends with a wrong key. What such a message
    // carries is unproven, so an inform of it is not answered.
    const bool unauthenticated =
        session != nullptr && session->s_snmp_errno == SNMPERR_USM_AUTHENTICATIONFAILURE;
    // Acknowledge an inform before rendering, which may rewrite value bytes: the response
    // carries the request's variable bindings unchanged. An inform is answered whatever becomes
    // of it later, one that is refused below included: unanswered, its sender would only send it
    // again and again.
    if (pdu->command == SNMP_MSG_INFORM && session != nullptr && !unauthenticated) {
        netsnmp_pdu* response = snmp_clone_pdu(pdu);
        if (response != nullptr) {
            response->command = SNMP_MSG_RESPONSE;
            response->errstat = 0;
            response->errindex = 0;
            if (snmp_send(session, response) == 0) {
                snmp_free_pdu(response);
            } else if (m_counters != nullptr) {
                m_counters->Add(TrapCount::kInformsAnswered);
            }
        }
    }
    // A community or user name with a line feed would end the header line inside it: such a
    // notification is not rendered, but counted, and its sender listed, with the name as it came.
    if (CTrapRenderer::IsNotification(pdu) && !CTrapRenderer::HasReadableHeader(pdu)) {
        if (m_counters != nullptr) {
            m_counters->Reject(CTrapRenderer::HeaderAddress(session, pdu),
                               platform::WideToUtf8(platform::CodePageToWide(
                                   platform::kCodePage932, CTrapRenderer::HeaderName(pdu))),
                               RejectReason::kLineFeedInName);
        }
        if (unauthenticated) {
            session->s_snmp_errno = 0;
        }
        return;
    }
    std::string text = CTrapRenderer::Render(operation, session, pdu);
    // The mark belongs to this notification alone: the recorded failure must not stay on the
    // session and mark the next, authenticated one.
    if (unauthenticated) {
        session->s_snmp_errno = 0;
    }
    if (text.empty()) {
        return;
    }
    if (m_counters != nullptr) {
        m_counters->Add(pdu->version == SNMP_VERSION_1   ? TrapCount::kNotificationsV1
                        : pdu->version == SNMP_VERSION_3 ? TrapCount::kNotificationsV3
                                                         : TrapCount::kNotificationsV2c);
        if (unauthenticated) {
            CountRejectedSender(text, *pdu);
        }
    }
    if (m_roundTexts != nullptr) {
        m_roundTexts->push_back(std::move(text));
    } else {
        m_queue.AppendTexts({std::move(text)});
    }
}

void CSnmpApi::TakeLibraryStatistics(bool baseline) {
    static constexpr int kFigures[] = {
        STAT_SNMPINASNPARSEERRS,       STAT_SNMPINBADVERSIONS,    STAT_USMSTATSUNKNOWNUSERNAMES,
        STAT_USMSTATSUNKNOWNENGINEIDS, STAT_USMSTATSWRONGDIGESTS, STAT_USMSTATSDECRYPTIONERRORS,
    };
    static_assert(std::size(kFigures) == std::tuple_size_v<decltype(m_libraryStatistics)>);
    if (m_counters == nullptr) {
        return;
    }
    std::array<std::uint64_t, std::size(kFigures)> growth{};
    for (std::size_t i = 0; i < growth.size(); ++i) {
        const unsigned now = snmp_get_statistic(kFigures[i]);
        // The library counts in 32 bits: the difference is right across a wrap.
        growth[i] = static_cast<unsigned>(now - m_libraryStatistics[i]);
        m_libraryStatistics[i] = now;
    }
    if (!baseline) {
        m_counters->AddLibraryStatistics({.parseErrors = growth[0] + growth[1],
                                          .unknownUsers = growth[2],
                                          .unknownEngines = growth[3],
                                          .wrongDigests = growth[4],
                                          .decryptionErrors = growth[5]});
    }
}

void CSnmpApi::CountRejectedSender(const std::string& text, const snmp_pdu& pdu) {
    const std::string address(traptext::AddressOf(text));
    const std::string user(pdu.securityName != nullptr ? pdu.securityName : "",
                           pdu.securityName != nullptr ? pdu.securityNameLen : 0);
    m_counters->Reject(address,
                       platform::WideToUtf8(platform::CodePageToWide(platform::kCodePage932, user)),
                       RejectReason::kWrongDigest);
}

KernelDrops CSnmpApi::ListenerKernelDrops() const {
    std::intptr_t sockets[2] = {-1, -1};
    {
        std::lock_guard<std::mutex> lock(m_libraryMutex);
        const SessionHandle* sessions[2] = {&m_ipv4Session, &m_ipv6Session};
        for (int i = 0; i < 2; ++i) {
            netsnmp_transport* transport =
                *sessions[i] ? snmp_sess_transport(snmp_sess_pointer(sessions[i]->get())) : nullptr;
            if (transport != nullptr && transport->sock >= 0) {
                sockets[i] = transport->sock;
            }
        }
    }
    // The system's tables are read without the library lock, which the receive rounds need.
    // Only the stop closes the listeners, after the last look.
    KernelDrops drops;
    if (sockets[0] >= 0) {
        drops.ipv4 = platform::ReceiveDrops(sockets[0]);
    }
    if (sockets[1] >= 0) {
        drops.ipv6 = platform::ReceiveDrops(sockets[1]);
    }
    return drops;
}

UnreadBacklog CSnmpApi::TakeUnreadBacklog() {
    std::intptr_t sockets[2] = {-1, -1};
    bool kept[2] = {false, false};
    {
        std::lock_guard<std::mutex> lock(m_libraryMutex);
        const SessionHandle* sessions[2] = {&m_ipv4Session, &m_ipv6Session};
        kept[0] = m_ipv4Passed;
        kept[1] = m_ipv6Passed;
        for (int i = 0; i < 2; ++i) {
            netsnmp_transport* transport =
                *sessions[i] ? snmp_sess_transport(snmp_sess_pointer(sessions[i]->get())) : nullptr;
            if (transport != nullptr && transport->sock >= 0) {
                sockets[i] = transport->sock;
            }
        }
    }
    // No receive round reads any more: the sockets are only looked at, and emptied, from here.
    UnreadBacklog unread;
    std::optional<SocketBacklog>* families[2] = {&unread.ipv4, &unread.ipv6};
    for (int i = 0; i < 2; ++i) {
        if (sockets[i] < 0) {
            continue;
        }
        SocketBacklog backlog;
        backlog.bytes = platform::QueuedReceiveBytes(sockets[i]);
        backlog.keptForNextRun = kept[i];
        if (!kept[i]) {
            backlog.datagrams = platform::DiscardQueuedDatagrams(sockets[i], kMostCountedAtStop);
        }
        *families[i] = backlog;
    }
    return unread;
}
