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

#include "tests/support/SnmpMessages.h"
#include "tests/support/SnmpV3Messages.h"

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

const char kLinkDown[] = "1.3.6.1.6.3.1.1.5.3";
const char kIfIndex1[] = "1.3.6.1.2.1.2.2.1.1.1";
const char kIfDescr1[] = "1.3.6.1.2.1.2.2.1.2.1";
const char kIfAlias1[] = "1.3.6.1.2.1.31.1.1.1.18.1";
constexpr std::uint32_t kUpTime = 123456;

std::string Marker(const Options& o, long sequence) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*ld", kSequenceDigits, sequence);
    return "vbench-" + o.run + "-" + digits;
}

std::vector<test::VarBind> LinkDownBinds(const std::string& marker) {
    return {{kIfIndex1, 'i', "1"}, {kIfDescr1, 's', "eth0"}, {kIfAlias1, 's', marker}};
}

// An SNMPv2c trap whose sequence digits end at the returned offset.
std::string EncodeV2c(const Options& o, std::size_t& digitsEnd) {
    std::string message = test::EncodeV2cNotification(
        test::kTrapPdu, o.community, 0x12345678, kUpTime, kLinkDown, LinkDownBinds(Marker(o, 0)));
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

bool EncodeV3(const Options& o, std::vector<std::string>& messages) {
    test::CV3MessageBuilder builder({o.engineId, o.user, o.authPass, o.privPass,
                                     "udp:" + o.host + ":" + std::to_string(o.port)});
    if (!builder.IsOpen()) {
        std::fprintf(stderr, "vorma-trapsend: %s\n", builder.Error().c_str());
        return false;
    }
    messages.reserve(static_cast<std::size_t>(o.count));
    for (long seq = 0; seq < o.count; ++seq) {
        messages.push_back(builder.BuildTrap(kUpTime, kLinkDown, LinkDownBinds(Marker(o, seq))));
        if (messages.back().empty()) {
            std::fprintf(stderr, "vorma-trapsend: %s\n", builder.Error().c_str());
            return false;
        }
    }
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
    // Kept only while watching: a long paced run would otherwise hold a stamp per trap for nothing.
    std::vector<std::atomic<double>> sendTimes(o.watch.empty() ? 0
                                                               : static_cast<std::size_t>(o.count));
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
        for (unsigned i = 0; i < n && !sendTimes.empty(); ++i) {
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
