#include "platform/Network.h"

#include "platform/win32/WindowsHeaders.h"

namespace platform {

std::uint32_t SocketLocalPort(std::intptr_t socket, std::uint16_t* port) {
    sockaddr_storage address{};
    int size = sizeof address;
    if (::getsockname(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&address), &size) !=
        0) {
        return static_cast<std::uint32_t>(::WSAGetLastError());
    }
    if (address.ss_family == AF_INET) {
        *port = ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    } else if (address.ss_family == AF_INET6) {
        *port = ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    } else {
        return WSAEAFNOSUPPORT;
    }
    return 0;
}

std::uint32_t SetAbortiveClose(std::intptr_t socket) {
    linger option{1, 0};
    if (::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
                     reinterpret_cast<const char*>(&option), sizeof option) != 0) {
        return static_cast<std::uint32_t>(::WSAGetLastError());
    }
    return 0;
}

}  // namespace platform
