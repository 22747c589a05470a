// Small socket facilities on a socket that another library (gSOAP) owns. Sockets are passed as
// their native value (a POSIX descriptor or a Windows SOCKET). Results are system error numbers
// (0 success).
#pragma once

#include <cstdint>

namespace platform {

// The local port a bound socket has, e.g. after binding port 0.
std::uint32_t SocketLocalPort(std::intptr_t socket, std::uint16_t* port);

// Makes the socket's close abort the connection (SO_LINGER with a zero time-out): the peer sees a
// reset instead of an orderly end.
std::uint32_t SetAbortiveClose(std::intptr_t socket);

}  // namespace platform
