#include "platform/Network.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace platform {

std::uint32_t SocketLocalPort(std::intptr_t socket, std::uint16_t* port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) !=
        0) {
        return static_cast<std::uint32_t>(errno);
    }
    if (address.ss_family == AF_INET) {
        *port = ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    } else if (address.ss_family == AF_INET6) {
        *port = ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    } else {
        return EAFNOSUPPORT;
    }
    return 0;
}

std::uint32_t SetAbortiveClose(std::intptr_t socket) {
    linger value{};
    value.l_onoff = 1;
    value.l_linger = 0;
    if (::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) {
        return static_cast<std::uint32_t>(errno);
    }
    return 0;
}

}  // namespace platform
