// UDP sockets: the trial bind that tells whether the manager can listen on a port, and the
// blocking wait of the receiving side for readable sockets or a wake-up.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

namespace platform {

enum class AddressFamily { kIpv4, kIpv6 };

// Creates a UDP socket of `family`, binds it to the wildcard address (0.0.0.0 or ::) and `port`
// and closes it again. An IPv6 socket is restricted to IPv6 (IPV6_V6ONLY), so each family is
// tested on its own, as on Windows. An empty error code on success; otherwise the error of the
// socket creation or of the bind (errno on POSIX, the Winsock error on Windows).
std::error_code TryBindUdp(AddressFamily family, std::uint16_t port);

// The UDP socket that the system's service manager opened for this process on the wildcard
// address of `family` and `port`, or nothing. Linux: a socket passed by systemd's socket
// activation (LISTEN_FDS and LISTEN_PID naming this process), a datagram socket of that family
// bound to that port on any address. Such a socket outlives the process: what it holds when the
// process ends waits there for the next one. The environment is left as it is, so Net-SNMP, which
// looks for the same sockets when it opens a listening transport, finds them too. Windows: nothing.
std::optional<std::intptr_t> PassedUdpSocket(AddressFamily family, std::uint16_t port);

// Makes the receive buffer of the open socket `socket` (a descriptor, or a SOCKET on Windows) at
// least `bytes` large, going past the system's cap where the process is allowed to (Linux:
// SO_RCVBUFFORCE, which needs CAP_NET_ADMIN). Leaves a buffer that is already large enough alone.
// An empty error code when the buffer is large enough afterwards.
std::error_code EnsureReceiveBuffer(std::intptr_t socket, int bytes);

// How many datagrams the system dropped at the open UDP socket `socket` because its receive
// buffer was full, since the socket was opened; nothing where the system does not tell it.
// Linux: the "drops" column of /proc/self/net/udp or udp6 on the line of the socket's inode.
// Windows: nothing.
std::optional<std::uint64_t> ReceiveDrops(std::intptr_t socket);

// Blocks a thread until one of a set of sockets is readable, a time-out passes or another thread
// wakes it, without polling: an eventfd beside the sockets in one poll on Linux, an event object
// beside the sockets' network event (WSAEventSelect) in one wait on Windows. A wake-up is kept
// until a wait takes it, so one that comes just before the wait begins still ends that wait.
class SocketWaiter {
  public:
    SocketWaiter();
    ~SocketWaiter();
    SocketWaiter(const SocketWaiter&) = delete;
    SocketWaiter& operator=(const SocketWaiter&) = delete;

    // False when the wake-up object could not be made; Wait then fails at once.
    bool IsValid() const;

    // Waits until one of `sockets` (descriptors, or SOCKETs on Windows) is readable, Wake was
    // called or `timeout` has passed (no time-out when it is negative). `readable` receives the
    // readable sockets (empty after a wake-up or a time-out); a pending wake-up is taken. An
    // error code when the system's wait failed.
    std::error_code Wait(std::span<const std::intptr_t> sockets, std::chrono::microseconds timeout,
                         std::vector<std::intptr_t>& readable);

    // Ends the current wait of another thread, or the next one if none is in progress.
    void Wake();

  private:
    std::intptr_t m_wake;         // eventfd, or the wake-up event's HANDLE
    std::intptr_t m_socketEvent;  // Windows: the event of the sockets' network events
};

// How many bytes the receive queue of the open UDP socket `socket` holds, unread; nothing where
// the system does not tell. Linux: the queue's memory as the system accounts it (SO_MEMINFO, the
// figure of the rx_queue column of /proc/net/udp), so each datagram counts with its buffer's
// overhead, several hundred bytes beyond its payload. Windows: the payload bytes of every queued
// datagram (FIONREAD, which on Linux would give the next datagram's size only).
std::optional<std::uint64_t> QueuedReceiveBytes(std::intptr_t socket);

// Reads the datagrams queued in the open UDP socket `socket` without waiting and throws them
// away, until none is left or `most` were read: how many there were, or nothing when the socket
// cannot be read at all. No system tells how many datagrams a UDP socket holds without reading
// them (peeking sees only the first), so this is for a socket whose queue is lost anyway, such
// as one about to be closed, never for one whose datagrams someone will still read.
std::optional<std::uint64_t> DiscardQueuedDatagrams(std::intptr_t socket, std::uint64_t most);

}  // namespace platform
