#include "platform/Socket.h"

#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

// Winsock 2.2 for the span of one call: the library counts its starts, so this neither needs
// nor disturbs a start made elsewhere.
class WinsockSession {
  public:
    WinsockSession() {
        WSADATA data;
        m_error = ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() {
        if (m_error == 0) {
            ::WSACleanup();
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    int Error() const { return m_error; }

  private:
    int m_error = 0;
};

std::error_code WinsockError(int error) {
    return std::error_code(error, std::system_category());
}

}  // namespace

std::error_code TryBindUdp(AddressFamily family, std::uint16_t port) {
    WinsockSession session;
    if (session.Error() != 0) {
        return WinsockError(session.Error());
    }
    const int af = family == AddressFamily::kIpv6 ? AF_INET6 : AF_INET;
    SOCKET s = ::socket(af, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return WinsockError(::WSAGetLastError());
    }
    int rc;
    if (family == AddressFamily::kIpv6) {
        DWORD only = 1;  // the default on Windows; said for clarity
        ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only),
                     sizeof only);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(port);
        rc = ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        rc = ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    std::error_code result = rc == 0 ? std::error_code() : WinsockError(::WSAGetLastError());
    ::closesocket(s);
    return result;
}

namespace {

int ReceiveBufferOf(SOCKET s) {
    int size = 0;
    int length = sizeof size;
    if (::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &length) != 0) {
        return -1;
    }
    return size;
}

}  // namespace

std::error_code EnsureReceiveBuffer(std::intptr_t socket, int bytes) {
    // Windows has no system cap on SO_RCVBUF to go past: setting it is enough.
    const SOCKET s = static_cast<SOCKET>(socket);
    const int current = ReceiveBufferOf(s);
    if (current < 0) {
        return WinsockError(::WSAGetLastError());
    }
    if (current >= bytes) {
        return {};
    }
    if (::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                     sizeof bytes) != 0) {
        return WinsockError(::WSAGetLastError());
    }
    if (ReceiveBufferOf(s) < bytes) {
        return std::make_error_code(std::errc::no_buffer_space);
    }
    return {};
}

}  // namespace platform
