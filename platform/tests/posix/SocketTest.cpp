#include "platform/Socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

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
