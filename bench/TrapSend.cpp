// vorma-trapsend: a load generator for trap receivers, for benchmarks on loopback.
//
// Sends a realistic linkDown notification (sysUpTime, snmpTrapOID, ifIndex, ifDescr and an
// ifAlias OCTET STRING "vbench-RUN-SEQUENCE") COUNT times, at RATE traps per second or as fast as
// sendmmsg goes, spread over one or more loopback source addresses (127.0.0.1, 127.0.1.1,
// 127.0.1.2 ...). SNMPv2c messages are encoded once and only their sequence digits are patched;
// SNMPv3 authPriv messages are built by Net-SNMP ahead of the run (each is encrypted on its own)
// and then sent as bytes.
//
// With --watch FILE it also follows FILE (an event log or trap log) from its current end and
// reports, for every sequence number that shows up, the time from its send to the moment its
// line was seen: the p50/p99 latency. The result is one JSON object on standard output.
//
// This is a benchmark tool for Linux, kept apart from the product (like the tests, it talks to
// the system directly).
#include <arpa/inet.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kSequenceDigits = 10;
constexpr unsigned kBatch = 64;

struct Options {
    std::string host = "127.0.0.1";
    int port = 162;
    long count = 1000;
    double rate = 0;  // 0: as fast as possible
    int sources = 1;
    std::string run = "0";
    std::string community = "public";
    bool v3 = false;
    std::string engineId = "8000000001020304";
    std::string user = "demouser";
    std::string authPass = "demopass123";
    std::string privPass = "demopass123";
    std::string watch;
    double settle = 2.0;  // seconds without a new line before the watch ends
    double watchLimit = 60.0;
};

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: vorma-trapsend [--host A] [--port P] [--count N] [--rate R|0]\n"
                 "         [--sources K] [--run ID] [--community C]\n"
                 "         [--v3 [--engine-id HEX] [--user U] [--auth-pass P] [--priv-pass P]]\n"
                 "         [--watch FILE [--settle S] [--watch-limit S]]\n");
    std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
            }
            return argv[++i];
        };
        if (a == "--host") {
            o.host = value();
        } else if (a == "--port") {
            o.port = std::stoi(value());
        } else if (a == "--count") {
            o.count = std::stol(value());
        } else if (a == "--rate") {
            o.rate = std::stod(value());
        } else if (a == "--sources") {
            o.sources = std::max(1, std::stoi(value()));
        } else if (a == "--run") {
            o.run = value();
        } else if (a == "--community") {
            o.community = value();
        } else if (a == "--v3") {
            o.v3 = true;
        } else if (a == "--engine-id") {
            o.engineId = value();
        } else if (a == "--user") {
            o.user = value();
        } else if (a == "--auth-pass") {
            o.authPass = value();
        } else if (a == "--priv-pass") {
            o.privPass = value();
        } else if (a == "--watch") {
            o.watch = value();
        } else if (a == "--settle") {
            o.settle = std::stod(value());
        } else if (a == "--watch-limit") {
            o.watchLimit = std::stod(value());
        } else {
            Usage();
        }
    }
    return o;
}

// --- BER, just what a trap needs -------------------------------------------------------------

void PutLength(std::string& out, std::size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<char>(length));
    } else if (length < 0x100) {
        out.push_back('\x81');
        out.push_back(static_cast<char>(length));
    } else {
        out.push_back('\x82');
        out.push_back(static_cast<char>(length >> 8));
        out.push_back(static_cast<char>(length & 0xFF));
    }
}

std::string Tlv(unsigned char tag, const std::string& content) {
    std::string out(1, static_cast<char>(tag));
    PutLength(out, content.size());
    return out + content;
}

std::string Integer(unsigned char tag, std::int64_t value) {
    std::string bytes;
    do {
        bytes.insert(bytes.begin(), static_cast<char>(value & 0xFF));
        value >>= 8;
    } while (value != 0 && value != -1);
    if (value == 0 && (bytes[0] & 0x80) != 0) {
        bytes.insert(bytes.begin(), '\0');
    }
    return Tlv(tag, bytes);
}

std::string Oid(const std::vector<unsigned>& arcs) {
    std::string bytes(1, static_cast<char>(arcs[0] * 40 + arcs[1]));
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        std::string part;
        unsigned v = arcs[i];
        part.insert(part.begin(), static_cast<char>(v & 0x7F));
        while ((v >>= 7) != 0) {
            part.insert(part.begin(), static_cast<char>(0x80 | (v & 0x7F)));
        }
        bytes += part;
    }
    return Tlv(0x06, bytes);
}

std::string VarBind(const std::vector<unsigned>& name, const std::string& value) {
    return Tlv(0x30, Oid(name) + value);
}

const std::vector<unsigned> kSysUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const std::vector<unsigned> kSnmpTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const std::vector<unsigned> kLinkDown = {1, 3, 6, 1, 6, 3, 1, 1, 5, 3};
const std::vector<unsigned> kIfIndex1 = {1, 3, 6, 1, 2, 1, 2, 2, 1, 1, 1};
const std::vector<unsigned> kIfDescr1 = {1, 3, 6, 1, 2, 1, 2, 2, 1, 2, 1};
const std::vector<unsigned> kIfAlias1 = {1, 3, 6, 1, 2, 1, 31, 1, 1, 1, 18, 1};

std::string Marker(const Options& o, long sequence) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*ld", kSequenceDigits, sequence);
    return "vbench-" + o.run + "-" + digits;
}

// An SNMPv2c trap whose sequence digits end at the returned offset.
std::string EncodeV2c(const Options& o, std::size_t& digitsEnd) {
    const std::string marker = Marker(o, 0);
    std::string varbinds =
        VarBind(kSysUpTime, Integer(0x43, 123456)) + VarBind(kSnmpTrapOid, Oid(kLinkDown)) +
        VarBind(kIfIndex1, Integer(0x02, 1)) + VarBind(kIfDescr1, Tlv(0x04, "eth0")) +
        VarBind(kIfAlias1, Tlv(0x04, marker));
    std::string pdu = Tlv(0xA7, Integer(0x02, 0x12345678) + Integer(0x02, 0) + Integer(0x02, 0) +
                                    Tlv(0x30, varbinds));
    std::string message = Tlv(0x30, Integer(0x02, 1) + Tlv(0x04, o.community) + pdu);
    // The marker is the last value of the message.
    digitsEnd = message.size();
    return message;
}

void PatchSequence(std::string& message, std::size_t digitsEnd, long sequence) {
    char* p = message.data() + digitsEnd;
    for (int i = 0; i < kSequenceDigits; ++i) {
        *--p = static_cast<char>('0' + sequence % 10);
        sequence /= 10;
    }
}

// --- SNMPv3 through Net-SNMP ------------------------------------------------------------------

bool EncodeV3(const Options& o, std::vector<std::string>& messages) {
    init_snmp("vorma-trapsend");
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_3;
    session.securityName = const_cast<char*>(o.user.c_str());
    session.securityNameLen = o.user.size();
    session.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
    std::vector<u_char> engine(o.engineId.size() / 2);
    for (std::size_t i = 0; i < engine.size(); ++i) {
        engine[i] = static_cast<u_char>(std::stoi(o.engineId.substr(2 * i, 2), nullptr, 16));
    }
    session.securityEngineID = engine.data();
    session.securityEngineIDLen = engine.size();
    session.contextEngineID = engine.data();
    session.contextEngineIDLen = engine.size();
    session.securityAuthProto = usmHMACSHA1AuthProtocol;
    session.securityAuthProtoLen = USM_AUTH_PROTO_SHA_LEN;
    session.securityAuthKeyLen = USM_AUTH_KU_LEN;
    if (generate_Ku(session.securityAuthProto, session.securityAuthProtoLen,
                    reinterpret_cast<const u_char*>(o.authPass.c_str()), o.authPass.size(),
                    session.securityAuthKey, &session.securityAuthKeyLen) != SNMPERR_SUCCESS) {
        return false;
    }
    session.securityPrivProto = usmAESPrivProtocol;
    session.securityPrivProtoLen = USM_PRIV_PROTO_AES_LEN;
    session.securityPrivKeyLen = USM_PRIV_KU_LEN;
    if (generate_Ku(session.securityAuthProto, session.securityAuthProtoLen,
                    reinterpret_cast<const u_char*>(o.privPass.c_str()), o.privPass.size(),
                    session.securityPrivKey, &session.securityPrivKeyLen) != SNMPERR_SUCCESS) {
        return false;
    }
    // The sender of a trap is the authoritative engine: its boots and time go into the messages.
    session.engineBoots = 1;
    session.engineTime = static_cast<u_int>(get_uptime());
    set_enginetime(engine.data(), engine.size(), session.engineBoots, session.engineTime, TRUE);
    char peer[64];
    std::snprintf(peer, sizeof peer, "udp:%s:%d", o.host.c_str(), o.port);
    session.peername = peer;
    netsnmp_session* open = snmp_open(&session);
    if (open == nullptr) {
        snmp_perror("snmp_open");
        return false;
    }
    messages.reserve(static_cast<std::size_t>(o.count));
    for (long seq = 0; seq < o.count; ++seq) {
        netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP2);
        pdu->version = SNMP_VERSION_3;
        std::vector<oid> name;
        auto add = [&](const std::vector<unsigned>& arcs, u_char type, const void* value,
                       size_t length) {
            name.assign(arcs.begin(), arcs.end());
            snmp_pdu_add_variable(pdu, name.data(), name.size(), type, value, length);
        };
        const long uptime = 123456;
        const long ifIndex = 1;
        std::vector<oid> linkDown(kLinkDown.begin(), kLinkDown.end());
        const std::string marker = Marker(o, seq);
        add(kSysUpTime, ASN_TIMETICKS, &uptime, sizeof uptime);
        add(kSnmpTrapOid, ASN_OBJECT_ID, linkDown.data(), linkDown.size() * sizeof(oid));
        add(kIfIndex1, ASN_INTEGER, &ifIndex, sizeof ifIndex);
        add(kIfDescr1, ASN_OCTET_STR, "eth0", 4);
        add(kIfAlias1, ASN_OCTET_STR, marker.data(), marker.size());
        u_char* packet = nullptr;
        size_t packetLength = 0;
        size_t offset = 0;
        int rc = snmp_build(&packet, &packetLength, &offset, open, pdu);
        if (rc == 0 && packet != nullptr) {
            // Built backwards: the message is the last `offset` bytes of the buffer.
            messages.emplace_back(reinterpret_cast<char*>(packet + packetLength - offset), offset);
        }
        std::free(packet);
        snmp_free_pdu(pdu);
        if (rc != 0) {
            snmp_perror("snmp_build");
            snmp_close(open);
            return false;
        }
    }
    snmp_close(open);
    return true;
}

// --- sending ----------------------------------------------------------------------------------

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int OpenSource(int index) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return -1;
    }
    int size = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    // 127.0.0.1 first, then 127.0.1.1, 127.0.1.2 ...
    std::string address = index == 0 ? "127.0.0.1" : "127.0.1." + std::to_string(index);
    ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// --- watching ---------------------------------------------------------------------------------

struct WatchResult {
    long seen = 0;
    std::vector<double> latencies;  // seconds
};

void Watch(const Options& o, const std::vector<std::atomic<double>>& sendTimes,
           std::atomic<bool>& sendDone, WatchResult& result) {
    std::ifstream in(o.watch, std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::string needle = "vbench-" + o.run + "-";
    std::vector<char> seen(static_cast<std::size_t>(o.count), 0);
    std::string pending;
    std::vector<char> buffer(1 << 16);
    double lastProgress = Now();
    const double start = lastProgress;
    while (true) {
        in.clear();
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        const double now = Now();
        if (got > 0) {
            pending.append(buffer.data(), static_cast<std::size_t>(got));
            std::size_t lineStart = 0;
            std::size_t lf;
            while ((lf = pending.find('\n', lineStart)) != std::string::npos) {
                std::size_t at = pending.find(needle, lineStart);
                if (at != std::string::npos && at < lf &&
                    at + needle.size() + kSequenceDigits <= lf) {
                    long seq = std::strtol(pending.c_str() + at + needle.size(), nullptr, 10);
                    if (seq >= 0 && seq < o.count && seen[static_cast<std::size_t>(seq)] == 0) {
                        seen[static_cast<std::size_t>(seq)] = 1;
                        ++result.seen;
                        result.latencies.push_back(now -
                                                   sendTimes[static_cast<std::size_t>(seq)].load(
                                                       std::memory_order_acquire));
                        lastProgress = now;
                    }
                }
                lineStart = lf + 1;
            }
            pending.erase(0, lineStart);
            continue;
        }
        if (result.seen >= o.count) {
            break;
        }
        if (sendDone && (now - lastProgress > o.settle || now - start > o.watchLimit)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    std::size_t index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);

    std::vector<std::string> v3Messages;
    std::string v2cMessage;
    std::size_t digitsEnd = 0;
    if (o.v3) {
        if (!EncodeV3(o, v3Messages)) {
            std::fprintf(stderr, "vorma-trapsend: cannot build the SNMPv3 messages\n");
            return 1;
        }
    } else {
        v2cMessage = EncodeV2c(o, digitsEnd);
    }

    std::vector<int> sockets;
    for (int i = 0; i < o.sources; ++i) {
        int fd = OpenSource(i);
        if (fd < 0) {
            std::fprintf(stderr, "vorma-trapsend: cannot open source %d: %s\n", i,
                         std::strerror(errno));
            return 1;
        }
        sockets.push_back(fd);
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (::inet_pton(AF_INET, o.host.c_str(), &target.sin_addr) != 1) {
        Usage();
    }

    // Stamped before each send, so a line never shows up before its trap's time is known.
    std::vector<std::atomic<double>> sendTimes(static_cast<std::size_t>(o.count));
    std::atomic<bool> sendDone{false};
    WatchResult watched;
    std::thread watcher;
    if (!o.watch.empty()) {
        watcher = std::thread([&] { Watch(o, sendTimes, sendDone, watched); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    // Batches of up to kBatch messages; with a rate, each batch waits for its due time.
    std::vector<std::string> batch(kBatch, v2cMessage);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> headers(kBatch);
    long sent = 0;
    long errors = 0;
    const double start = Now();
    const unsigned perBatch =
        o.rate <= 0 ? kBatch
                    : static_cast<unsigned>(std::clamp(o.rate / 2000.0, 1.0, double(kBatch)));
    int source = 0;
    while (sent < o.count) {
        if (o.rate > 0) {
            const double due = start + static_cast<double>(sent) / o.rate;
            double now = Now();
            if (due > now) {
                timespec ts{};
                ts.tv_sec = static_cast<time_t>(due);
                ts.tv_nsec = static_cast<long>((due - static_cast<double>(ts.tv_sec)) * 1e9);
                clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &ts, nullptr);
            }
        }
        const unsigned n = static_cast<unsigned>(std::min<long>(perBatch, o.count - sent));
        for (unsigned i = 0; i < n; ++i) {
            const long seq = sent + i;
            if (o.v3) {
                std::string& m = v3Messages[static_cast<std::size_t>(seq)];
                iov[i] = {m.data(), m.size()};
            } else {
                PatchSequence(batch[i], digitsEnd, seq);
                iov[i] = {batch[i].data(), batch[i].size()};
            }
            headers[i] = {};
            headers[i].msg_hdr.msg_name = &target;
            headers[i].msg_hdr.msg_namelen = sizeof target;
            headers[i].msg_hdr.msg_iov = &iov[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const double stamp = Now();
        for (unsigned i = 0; i < n; ++i) {
            sendTimes[static_cast<std::size_t>(sent + i)].store(stamp, std::memory_order_release);
        }
        unsigned done = 0;
        while (done < n) {
            int r = ::sendmmsg(sockets[static_cast<std::size_t>(source)], headers.data() + done,
                               n - done, 0);
            if (r < 0) {
                if (errno == EINTR || errno == ENOBUFS || errno == EAGAIN) {
                    ++errors;
                    continue;
                }
                std::fprintf(stderr, "vorma-trapsend: sendmmsg: %s\n", std::strerror(errno));
                return 1;
            }
            done += static_cast<unsigned>(r);
        }
        sent += n;
        source = (source + 1) % o.sources;
    }
    const double elapsed = Now() - start;
    sendDone = true;
    if (watcher.joinable()) {
        watcher.join();
    }
    for (int fd : sockets) {
        ::close(fd);
    }

    std::printf("{\"sent\":%ld,\"seconds\":%.3f,\"rate\":%.0f,\"retries\":%ld", sent, elapsed,
                elapsed > 0 ? static_cast<double>(sent) / elapsed : 0.0, errors);
    if (!o.watch.empty()) {
        std::printf(",\"seen\":%ld,\"p50_ms\":%.3f,\"p99_ms\":%.3f,\"max_ms\":%.3f", watched.seen,
                    Percentile(watched.latencies, 0.50) * 1e3,
                    Percentile(watched.latencies, 0.99) * 1e3,
                    Percentile(watched.latencies, 1.0) * 1e3);
    }
    std::printf("}\n");
    return 0;
}
