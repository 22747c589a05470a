// UDP sockets: the trial bind that tells whether the manager can listen on a port.
#pragma once

#include <cstdint>
#include <system_error>

namespace platform {

enum class AddressFamily { kIpv4, kIpv6 };

// Creates a UDP socket of `family`, binds it to the wildcard address (0.0.0.0 or ::) and `port`
// and closes it again. An IPv6 socket is restricted to IPv6 (IPV6_V6ONLY), so each family is
// tested on its own, as on Windows. An empty error code on success; otherwise the error of the
// socket creation or of the bind (errno on POSIX, the Winsock error on Windows).
std::error_code TryBindUdp(AddressFamily family, std::uint16_t port);

// Makes the receive buffer of the open socket `socket` (a descriptor, or a SOCKET on Windows) at
// least `bytes` large, going past the system's cap where the process is allowed to (Linux:
// SO_RCVBUFFORCE, which needs CAP_NET_ADMIN). Leaves a buffer that is already large enough alone.
// An empty error code when the buffer is large enough afterwards.
std::error_code EnsureReceiveBuffer(std::intptr_t socket, int bytes);

}  // namespace platform
