#include "platform/Socket.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/posix/UdpSocketTable.h"

namespace platform {
namespace {

// Closes a socket descriptor when it goes out of scope.
class CSocketHandle {
  public:
    explicit CSocketHandle(int fd) : m_fd(fd) {}
    ~CSocketHandle() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    CSocketHandle(const CSocketHandle&) = delete;
    CSocketHandle& operator=(const CSocketHandle&) = delete;

    int Get() const { return m_fd; }

  private:
    int m_fd;
};

std::error_code LastError() {
    return std::error_code(errno, std::system_category());
}

}  // namespace

std::error_code TryBindUdp(AddressFamily family, std::uint16_t port) {
    const int domain = family == AddressFamily::kIpv4 ? AF_INET : AF_INET6;
    CSocketHandle sock(socket(domain, SOCK_DGRAM, IPPROTO_UDP));
    if (sock.Get() < 0) {
        return LastError();
    }
    int result;
    if (family == AddressFamily::kIpv4) {
        sockaddr_in address;
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        result = bind(sock.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
        const int only = 1;
        if (setsockopt(sock.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0) {
            return LastError();
        }
        sockaddr_in6 address;
        std::memset(&address, 0, sizeof address);
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(port);
        result = bind(sock.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    if (result != 0) {
        return LastError();
    }
    return {};
}

std::optional<std::intptr_t> PassedUdpSocket(AddressFamily family, std::uint16_t port) {
    // sd_listen_fds checks that LISTEN_PID names this process, so a variable inherited from a
    // parent that was activated itself names nothing here.
    const int passed = sd_listen_fds(0);
    const int domain = family == AddressFamily::kIpv4 ? AF_INET : AF_INET6;
    for (int fd = SD_LISTEN_FDS_START; fd < SD_LISTEN_FDS_START + passed; ++fd) {
        if (sd_is_socket_inet(fd, domain, SOCK_DGRAM, -1, port) > 0) {
            return fd;
        }
    }
    return std::nullopt;
}

namespace {

int ReceiveBufferOf(int fd) {
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0) {
        return -1;
    }
    return size;
}

}  // namespace

std::optional<std::uint64_t> ReceiveDrops(std::intptr_t socket) {
    struct stat status {};
    if (::fstat(static_cast<int>(socket), &status) != 0 || !S_ISSOCK(status.st_mode)) {
        return std::nullopt;
    }
    for (const posix::UdpSocketEntry& entry : posix::ReadUdpSocketTables()) {
        if (entry.inode == static_cast<std::uint64_t>(status.st_ino)) {
            return entry.drops;
        }
    }
    return std::nullopt;
}

std::error_code EnsureReceiveBuffer(std::intptr_t socket, int bytes) {
    const int fd = static_cast<int>(socket);
    const int current = ReceiveBufferOf(fd);
    if (current < 0) {
        return LastError();
    }
    // Linux reports twice the size that was set (the doubled room covers its bookkeeping).
    if (current >= bytes) {
        return {};
    }
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0 &&
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) {
        return LastError();
    }
    if (ReceiveBufferOf(fd) < bytes) {
        return std::make_error_code(std::errc::no_buffer_space);
    }
    return {};
}

SocketWaiter::SocketWaiter() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_socketEvent(-1) {}

SocketWaiter::~SocketWaiter() {
    if (m_wake >= 0) {
        close(static_cast<int>(m_wake));
    }
}

bool SocketWaiter::IsValid() const {
    return m_wake >= 0;
}

std::error_code SocketWaiter::Wait(std::span<const std::intptr_t> sockets,
                                   std::chrono::microseconds timeout,
                                   std::vector<std::intptr_t>& readable) {
    readable.clear();
    if (m_wake < 0) {
        return std::make_error_code(std::errc::bad_file_descriptor);
    }
    std::vector<pollfd> fds;
    fds.reserve(sockets.size() + 1);
    fds.push_back({static_cast<int>(m_wake), POLLIN, 0});
    for (std::intptr_t socket : sockets) {
        fds.push_back({static_cast<int>(socket), POLLIN, 0});
    }
    timespec limit{};
    if (timeout.count() >= 0) {
        limit.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
        limit.tv_nsec = static_cast<long>(timeout.count() % 1000000) * 1000;
    }
    const int ready =
        ppoll(fds.data(), fds.size(), timeout.count() >= 0 ? &limit : nullptr, nullptr);
    if (ready < 0) {
        return errno == EINTR ? std::error_code() : LastError();
    }
    if ((fds[0].revents & POLLIN) != 0) {
        eventfd_t count = 0;
        [[maybe_unused]] const int taken = eventfd_read(static_cast<int>(m_wake), &count);
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if ((fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            readable.push_back(fds[i].fd);
        }
    }
    return {};
}

void SocketWaiter::Wake() {
    if (m_wake >= 0) {
        [[maybe_unused]] const int written = eventfd_write(static_cast<int>(m_wake), 1);
    }
}

std::optional<std::uint64_t> QueuedReceiveBytes(std::intptr_t socket) {
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_MEMINFO, memory, &length) != 0 ||
        length < sizeof(std::uint32_t) * (SK_MEMINFO_BACKLOG + 1)) {
        return std::nullopt;
    }
    // The queue itself, and what waits behind it while the socket is busy.
    return std::uint64_t{memory[SK_MEMINFO_RMEM_ALLOC]} + memory[SK_MEMINFO_BACKLOG];
}

std::optional<std::uint64_t> DiscardQueuedDatagrams(std::intptr_t socket, std::uint64_t most) {
    // No buffers: each datagram is taken off the queue whole and its bytes are dropped.
    constexpr unsigned kBatch = 64;
    mmsghdr messages[kBatch] = {};
    std::uint64_t read = 0;
    int errors = 0;  // an error that the system kept for the socket is told once
    while (read < most) {
        const unsigned batch = most - read < kBatch ? static_cast<unsigned>(most - read) : kBatch;
        const int got =
            recvmmsg(static_cast<int>(socket), messages, batch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            }
            if (errno == EINTR || ++errors < 4) {
                continue;
            }
            if (read > 0) {
                break;
            }
            return std::nullopt;
        }
        read += static_cast<std::uint64_t>(got);
        if (static_cast<unsigned>(got) < batch) {
            break;  // the queue is empty
        }
    }
    return read;
}

}  // namespace platform
