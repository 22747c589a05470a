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

std::optional<std::intptr_t> PassedUdpSocket(AddressFamily /*family*/, std::uint16_t /*port*/) {
    return std::nullopt;  // the service control manager passes no sockets
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

std::optional<std::uint64_t> ReceiveDrops(std::intptr_t /*socket*/) {
    return std::nullopt;  // Winsock keeps no such count for a socket
}

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

namespace {

// The sockets of `sockets` that are readable now, without waiting.
std::error_code ReadableNow(std::span<const std::intptr_t> sockets,
                            std::vector<std::intptr_t>& readable) {
    if (sockets.empty()) {
        return {};  // Winsock's select refuses empty sets
    }
    fd_set set;
    FD_ZERO(&set);
    for (std::intptr_t socket : sockets) {
        FD_SET(static_cast<SOCKET>(socket), &set);
    }
    timeval none = {0, 0};
    if (::select(0, &set, nullptr, nullptr, &none) == SOCKET_ERROR) {
        return WinsockError(::WSAGetLastError());
    }
    for (std::intptr_t socket : sockets) {
        if (FD_ISSET(static_cast<SOCKET>(socket), &set)) {
            readable.push_back(socket);
        }
    }
    return {};
}

// The sockets' network events go to `event` while it lives; afterwards the sockets are as
// before: no event selection, blocking (WSAEventSelect makes a socket non-blocking).
class EventSelection {
  public:
    EventSelection(std::span<const std::intptr_t> sockets, WSAEVENT event) : m_sockets(sockets) {
        for (std::intptr_t socket : m_sockets) {
            ::WSAEventSelect(static_cast<SOCKET>(socket), event, FD_READ);
        }
    }
    ~EventSelection() {
        for (std::intptr_t socket : m_sockets) {
            ::WSAEventSelect(static_cast<SOCKET>(socket), nullptr, 0);
            u_long blocking = 0;
            ::ioctlsocket(static_cast<SOCKET>(socket), FIONBIO, &blocking);
        }
    }
    EventSelection(const EventSelection&) = delete;
    EventSelection& operator=(const EventSelection&) = delete;

  private:
    std::span<const std::intptr_t> m_sockets;
};

}  // namespace

SocketWaiter::SocketWaiter()
    : m_wake(reinterpret_cast<std::intptr_t>(::CreateEventW(nullptr, FALSE, FALSE, nullptr))),
      m_socketEvent(reinterpret_cast<std::intptr_t>(::WSACreateEvent())) {}

SocketWaiter::~SocketWaiter() {
    if (m_wake != 0) {
        ::CloseHandle(reinterpret_cast<HANDLE>(m_wake));
    }
    if (reinterpret_cast<WSAEVENT>(m_socketEvent) != WSA_INVALID_EVENT) {
        ::WSACloseEvent(reinterpret_cast<WSAEVENT>(m_socketEvent));
    }
}

bool SocketWaiter::IsValid() const {
    return m_wake != 0 && reinterpret_cast<WSAEVENT>(m_socketEvent) != WSA_INVALID_EVENT;
}

std::error_code SocketWaiter::Wait(std::span<const std::intptr_t> sockets,
                                   std::chrono::microseconds timeout,
                                   std::vector<std::intptr_t>& readable) {
    readable.clear();
    if (!IsValid()) {
        return std::error_code(ERROR_INVALID_HANDLE, std::system_category());
    }
    const WSAEVENT socketEvent = reinterpret_cast<WSAEVENT>(m_socketEvent);
    ::WSAResetEvent(socketEvent);
    EventSelection selection(sockets, socketEvent);
    // What arrived before the selection is read at once; what arrives after it signals the event.
    if (std::error_code ec = ReadableNow(sockets, readable); ec || !readable.empty()) {
        return ec;
    }
    const HANDLE handles[2] = {reinterpret_cast<HANDLE>(m_wake), socketEvent};
    DWORD milliseconds = INFINITE;
    if (timeout.count() >= 0) {
        milliseconds = static_cast<DWORD>((timeout.count() + 999) / 1000);
    }
    const DWORD result =
        ::WaitForMultipleObjects(sockets.empty() ? 1 : 2, handles, FALSE, milliseconds);
    if (result == WAIT_FAILED) {
        return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
    }
    if (result == WAIT_OBJECT_0 + 1) {
        return ReadableNow(sockets, readable);
    }
    return {};
}

void SocketWaiter::Wake() {
    if (m_wake != 0) {
        ::SetEvent(reinterpret_cast<HANDLE>(m_wake));
    }
}

std::optional<std::uint64_t> QueuedReceiveBytes(std::intptr_t socket) {
    // For a datagram socket Winsock tells the bytes of all queued datagrams.
    u_long bytes = 0;
    if (::ioctlsocket(static_cast<SOCKET>(socket), FIONREAD, &bytes) != 0) {
        return std::nullopt;
    }
    return std::uint64_t{bytes};
}

std::optional<std::uint64_t> DiscardQueuedDatagrams(std::intptr_t socket, std::uint64_t most) {
    const SOCKET s = static_cast<SOCKET>(socket);
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        return std::nullopt;
    }
    std::uint64_t read = 0;
    bool failed = false;
    int resets = 0;
    while (read < most) {
        char byte = 0;
        // A datagram larger than the buffer is taken off the queue all the same (WSAEMSGSIZE).
        if (::recv(s, &byte, 1, 0) != SOCKET_ERROR) {
            ++read;
            continue;
        }
        const int error = ::WSAGetLastError();
        if (error == WSAEMSGSIZE) {
            ++read;
        } else if (error == WSAECONNRESET && ++resets < 64) {
            continue;  // an ICMP error told for an earlier send, not a datagram
        } else {
            failed = error != WSAEWOULDBLOCK && read == 0;
            break;
        }
    }
    u_long blocking = 0;
    ::ioctlsocket(s, FIONBIO, &blocking);
    if (failed) {
        return std::nullopt;
    }
    return read;
}

}  // namespace platform
