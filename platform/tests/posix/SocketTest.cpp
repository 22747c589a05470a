#include "platform/Socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/IsolatedChild.h"

namespace {

using platform::AddressFamily;

// Binds the wildcard address of one family on `port`, IPv6 restricted to IPv6; -1 on failure.
int Occupy(int family, std::uint16_t port) {
    const int fd = socket(family, SOCK_DGRAM, 0);
    int result;
    if (family == AF_INET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        result = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        const int only = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        result = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (result != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string Code(std::error_code error) {
    return std::to_string(error.value());
}

// In a network namespace of its own: each family's trial bind is independent of the other.
TEST(SocketTest, TrialBindsOfTheTwoFamiliesAreIndependent) {
    test::ChildResult child = test::RunIsolated(true, [] {
        std::string out;
        out += Code(platform::TryBindUdp(AddressFamily::kIpv4, 162)) + " ";
        out += Code(platform::TryBindUdp(AddressFamily::kIpv6, 162)) + " ";
        const int v4 = Occupy(AF_INET, 162);
        out += Code(platform::TryBindUdp(AddressFamily::kIpv4, 162)) + " ";
        out += Code(platform::TryBindUdp(AddressFamily::kIpv6, 162)) + " ";
        close(v4);
        const int v6 = Occupy(AF_INET6, 162);
        out += Code(platform::TryBindUdp(AddressFamily::kIpv4, 162)) + " ";
        out += Code(platform::TryBindUdp(AddressFamily::kIpv6, 162));
        close(v6);
        return out;
    });
    if (child.skipped) {
        GTEST_SKIP() << child.output;
    }
    ASSERT_TRUE(child.completed) << child.output;
    const std::string inUse = std::to_string(EADDRINUSE);
    EXPECT_EQ(child.output, "0 0 " + inUse + " 0 0 " + inUse);
}

}  // namespace

namespace {

int ReceiveBuffer(int fd) {
    int size = 0;
    socklen_t length = sizeof size;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length);
    return size;
}

// A size above the system's cap (net.core.rmem_max) is granted to a process that may go past it,
// as the manager running as root does; a buffer already large enough is left as it is.
TEST(SocketTest, TheReceiveBufferGoesPastTheSystemCapAndNeverShrinks) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    const int cap = 64 * 1024 * 1024;
    std::error_code error = platform::EnsureReceiveBuffer(fd, cap);
    if (error && geteuid() != 0) {
        close(fd);
        GTEST_SKIP() << "going past the cap needs CAP_NET_ADMIN";
    }
    EXPECT_FALSE(error) << Code(error);
    const int granted = ReceiveBuffer(fd);
    EXPECT_GE(granted, cap);
    EXPECT_FALSE(platform::EnsureReceiveBuffer(fd, 4096));
    EXPECT_EQ(ReceiveBuffer(fd), granted);
    close(fd);

    EXPECT_TRUE(platform::EnsureReceiveBuffer(-1, 4096));
}

}  // namespace

namespace {

// A UDP socket on an ephemeral port of the loopback with the smallest receive buffer.
int SmallLoopbackSocket(sockaddr_in& address) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int tiny = 1;  // the system rounds it up to its minimum
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return fd;
}

// The system's drop count of a socket: none for what is no socket, nought for a socket that
// took everything, and every datagram that did not fit for one whose buffer ran full.
TEST(SocketTest, ReceiveDropsCountWhatAFullBufferRefused) {
    struct Case {
        const char* name;
        int datagrams;  // sent to the socket, never read
        bool socket;
        bool dropsSome;
    };
    const Case cases[] = {
        {"not a socket", 0, false, false},
        {"a socket that took everything", 1, true, false},
        {"a socket whose buffer ran full", 400, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.socket) {
            int pipeFds[2];
            ASSERT_EQ(pipe(pipeFds), 0);
            EXPECT_EQ(platform::ReceiveDrops(pipeFds[0]), std::nullopt);
            close(pipeFds[0]);
            close(pipeFds[1]);
            continue;
        }
        sockaddr_in address{};
        const int receiver = SmallLoopbackSocket(address);
        ASSERT_GE(receiver, 0);
        const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const std::string datagram(1000, 'x');
        for (int i = 0; i < c.datagrams; ++i) {
            sendto(sender, datagram.data(), datagram.size(), 0,
                   reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        const std::optional<std::uint64_t> drops = platform::ReceiveDrops(receiver);
        ASSERT_TRUE(drops.has_value());
        if (c.dropsSome) {
            EXPECT_GT(*drops, 0u);
            EXPECT_LT(*drops, static_cast<std::uint64_t>(c.datagrams));
        } else {
            EXPECT_EQ(*drops, 0u);
        }
        close(sender);
        close(receiver);
    }
}

}  // namespace

namespace {

// The sockets a service manager passes, as systemd does: `sockets` moved to descriptors 3, 4 ...
// of a child, LISTEN_FDS their count and LISTEN_PID the child (or `pid` when not 0). The child
// answers which descriptor each family's lookup of `port` found ("-" for none).
std::string PassedSocketsSeenBy(const std::vector<int>& sockets, std::uint16_t port, pid_t pid) {
    test::ChildResult child = test::RunIsolated(true, [&] {
        // Out of the way of 3, 4 ... first, then into place.
        std::vector<int> moved;
        for (int fd : sockets) {
            moved.push_back(fcntl(fd, F_DUPFD_CLOEXEC, 100));
        }
        for (std::size_t i = 0; i < moved.size(); ++i) {
            dup2(moved[i], static_cast<int>(3 + i));
        }
        setenv("LISTEN_FDS", std::to_string(sockets.size()).c_str(), 1);
        setenv("LISTEN_PID", std::to_string(pid != 0 ? pid : getpid()).c_str(), 1);
        std::string out;
        for (AddressFamily family : {AddressFamily::kIpv4, AddressFamily::kIpv6}) {
            const std::optional<std::intptr_t> found = platform::PassedUdpSocket(family, port);
            out += (found ? std::to_string(*found) : std::string("-")) + " ";
        }
        return out;
    });
    return child.skipped ? "skipped" : (child.completed ? child.output : "failed: " + child.output);
}

// A passed socket is found by family, type and port; what else is passed is left alone, and
// variables meant for another process pass nothing.
TEST(SocketTest, PassedSocketsAreFoundByFamilyTypeAndPort) {
    struct Case {
        const char* what;
        std::vector<int> kinds;  // AF_INET / AF_INET6 datagram sockets on the port; 0 a TCP one
        std::uint16_t lookedUp;
        bool otherPid;
        const char* found;
    };
    const Case cases[] = {
        {"both families", {AF_INET, AF_INET6}, 10162, false, "3 4 "},
        {"in the other order", {AF_INET6, AF_INET}, 10162, false, "4 3 "},
        {"a stream socket first", {0, AF_INET6}, 10162, false, "- 4 "},
        {"another port", {AF_INET, AF_INET6}, 10163, false, "- - "},
        {"LISTEN_PID of another process", {AF_INET, AF_INET6}, 10162, true, "- - "},
        {"nothing passed", {}, 10162, false, "- - "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<int> sockets;
        for (int kind : c.kinds) {
            sockets.push_back(kind == 0 ? socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)
                                        : Occupy(kind, 10162));
            ASSERT_GE(sockets.back(), 0);
        }
        const std::string seen = PassedSocketsSeenBy(sockets, c.lookedUp, c.otherPid ? 1 : 0);
        for (int fd : sockets) {
            close(fd);
        }
        if (seen == "skipped") {
            GTEST_SKIP() << "no private network namespace";
        }
        EXPECT_EQ(seen, c.found);
    }
}

}  // namespace

namespace {

// What a socket holds unread: the bytes queued as the system accounts them (at least the
// payload), and the datagrams, counted by reading them out, up to the most asked for.
TEST(SocketTest, TheBacklogOfASocketIsToldInBytesAndCountedInDatagrams) {
    struct Case {
        const char* name;
        int datagrams;       // sent, never read
        bool empty;          // of no bytes
        std::uint64_t most;  // the most to read out
        std::uint64_t counted;
    };
    const Case cases[] = {
        {"an empty socket", 0, false, 100, 0},
        {"one datagram", 1, false, 100, 1},
        {"many of different sizes", 150, false, 1000, 150},
        {"more than the most asked for", 150, false, 64, 64},
        {"datagrams without bytes count too", 2, true, 100, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(receiver, 0);
        const int large = 4 * 1024 * 1024;
        setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &large, sizeof large);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length);
        const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        std::uint64_t payload = 0;
        for (int i = 0; i < c.datagrams; ++i) {
            const std::string datagram(c.empty ? 0 : 100 + 97 * i, 'x');
            ASSERT_EQ(sendto(sender, datagram.data(), datagram.size(), 0,
                             reinterpret_cast<sockaddr*>(&address), sizeof address),
                      static_cast<ssize_t>(datagram.size()));
            payload += datagram.size();
        }
        const std::optional<std::uint64_t> bytes = platform::QueuedReceiveBytes(receiver);
        ASSERT_TRUE(bytes.has_value());
        if (c.datagrams == 0) {
            EXPECT_EQ(*bytes, 0u);
        } else {
            EXPECT_GT(*bytes, payload);  // each datagram with its buffer's overhead
        }
        EXPECT_EQ(platform::DiscardQueuedDatagrams(receiver, c.most), c.counted);
        // What was read out is gone; what was left is still there.
        EXPECT_EQ(platform::DiscardQueuedDatagrams(receiver, 1000),
                  static_cast<std::uint64_t>(c.datagrams) - c.counted);
        EXPECT_EQ(platform::QueuedReceiveBytes(receiver), 0u);
        close(sender);
        close(receiver);
    }
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_EQ(platform::QueuedReceiveBytes(pipeFds[0]), std::nullopt);
    EXPECT_EQ(platform::DiscardQueuedDatagrams(pipeFds[0], 10), std::nullopt);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

}  // namespace
