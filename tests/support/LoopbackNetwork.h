// Test helper: moves the calling process into a network namespace of its own whose only
// interface is the loopback one, brought up. Servers and clients that the test starts afterwards
// (threads and child processes alike) live there, so a test owns every port and never sends
// traffic outside it. Needs root (CAP_SYS_ADMIN and CAP_NET_ADMIN); call it while the process has
// a single thread.
#pragma once

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace test {

// Empty text on success, else what failed.
inline std::string EnterPrivateLoopbackNetwork() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::string("socket: ") + std::strerror(errno);
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    std::string error;
    if (::ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        error = std::string("SIOCGIFFLAGS lo: ") + std::strerror(errno);
    } else {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        if (::ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
            error = std::string("SIOCSIFFLAGS lo: ") + std::strerror(errno);
        }
    }
    ::close(fd);
    return error;
}

}  // namespace test
