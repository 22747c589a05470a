#include "platform/Socket.h"

#include <gtest/gtest.h>

#include "platform/Network.h"
#include "platform/win32/WindowsHeaders.h"

namespace {

using platform::AddressFamily;

// A UDP socket bound to a free port of `family`, held for the life of the object.
class HeldPort {
  public:
    explicit HeldPort(int family) {
        WSADATA data;
        m_started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_socket = ::socket(family, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_storage address{};
        address.ss_family = static_cast<ADDRESS_FAMILY>(family);
        int size = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (m_socket != INVALID_SOCKET &&
            ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), size) == 0) {
            m_error = platform::SocketLocalPort(static_cast<std::intptr_t>(m_socket), &m_port);
        }
    }
    ~HeldPort() {
        if (m_socket != INVALID_SOCKET) {
            ::closesocket(m_socket);
        }
        if (m_started) {
            ::WSACleanup();
        }
    }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;

    std::uint16_t port() const { return m_port; }
    std::uint32_t error() const { return m_error; }

  private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
    std::uint16_t m_port = 0;
    std::uint32_t m_error = 1;
};

TEST(Win32SocketTest, TrialBindFailsOnlyOnAPortTakenInTheSameFamily) {
    HeldPort v4(AF_INET);
    ASSERT_EQ(v4.error(), 0u);
    ASSERT_NE(v4.port(), 0u);
    EXPECT_EQ(platform::TryBindUdp(AddressFamily::kIpv4, v4.port()).value(), WSAEADDRINUSE);
    // An IPv6 socket is IPv6 only: the IPv4 holder does not keep it from the port.
    EXPECT_FALSE(platform::TryBindUdp(AddressFamily::kIpv6, v4.port())) << v4.port();

    HeldPort v6(AF_INET6);
    ASSERT_EQ(v6.error(), 0u);
    EXPECT_EQ(platform::TryBindUdp(AddressFamily::kIpv6, v6.port()).value(), WSAEADDRINUSE);
    EXPECT_FALSE(platform::TryBindUdp(AddressFamily::kIpv4, v6.port())) << v6.port();
}

TEST(Win32SocketTest, ReceiveBufferGrowsToTheSizeAskedFor) {
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(s, INVALID_SOCKET);
    const int wanted = 4 * 1024 * 1024;
    EXPECT_FALSE(platform::EnsureReceiveBuffer(static_cast<std::intptr_t>(s), wanted));
    int size = 0;
    int length = sizeof size;
    ASSERT_EQ(::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &length), 0);
    EXPECT_GE(size, wanted);
    // A buffer that is large enough is left alone.
    EXPECT_FALSE(platform::EnsureReceiveBuffer(static_cast<std::intptr_t>(s), 1024));
    ::closesocket(s);
    EXPECT_TRUE(platform::EnsureReceiveBuffer(static_cast<std::intptr_t>(INVALID_SOCKET), 1024));
    ::WSACleanup();
}

TEST(Win32SocketTest, BadSocketsGiveTheWinsockError) {
    std::uint16_t port = 0;
    EXPECT_NE(platform::SocketLocalPort(static_cast<std::intptr_t>(INVALID_SOCKET), &port), 0u);
    EXPECT_NE(platform::SetAbortiveClose(static_cast<std::intptr_t>(INVALID_SOCKET)), 0u);
}

}  // namespace
