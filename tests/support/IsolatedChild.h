// Test helper: runs a piece of a test in a forked child process, optionally inside a private
// network namespace of its own (unshare(CLONE_NEWNET), loopback brought up), and hands back what
// the child wrote. Tests so own process-wide state (Net-SNMP, UDP port 162) without disturbing
// one another, and stay parallel-safe. The child must not use gtest assertions: it returns text
// (typically JSON) that the parent checks.
#pragma once

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

namespace test {

struct ChildResult {
    bool completed = false;  // the body ran to its end and the child exited normally
    bool skipped = false;    // no private network namespace could be made (not root)
    std::string output;      // what the body returned, or the reason of the failure or skip
};

// Brings the loopback interface of the current network namespace up. Empty text on success.
inline std::string BringLoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return std::string("socket: ") + std::strerror(errno);
    }
    ifreq request;
    std::memset(&request, 0, sizeof request);
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    std::string error;
    if (ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        error = std::string("SIOCGIFFLAGS: ") + std::strerror(errno);
    } else {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
            error = std::string("SIOCSIFFLAGS: ") + std::strerror(errno);
        }
    }
    close(fd);
    return error;
}

inline bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Runs `body` in a child process (in a private network namespace when `privateNetwork`).
inline ChildResult RunIsolated(bool privateNetwork, const std::function<std::string()>& body) {
    ChildResult result;
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) {
        result.output = "pipe failed";
        return result;
    }
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        result.output = "fork failed";
        return result;
    }
    if (child == 0) {
        close(channel[0]);
        // First byte: 'R' result, 'S' skip, 'F' failure.
        std::string message;
        if (privateNetwork && unshare(CLONE_NEWNET) != 0) {
            message = std::string("S") +
                      "no private network namespace (unshare: " + std::strerror(errno) +
                      "); these tests need root";
        } else if (std::string error = privateNetwork ? BringLoopbackUp() : ""; !error.empty()) {
            message = "F" + error;
        } else {
            try {
                message = "R" + body();
            } catch (const std::exception& e) {
                message = std::string("F") + "exception: " + e.what();
            } catch (...) {
                message = "Funknown exception";
            }
        }
        WriteAll(channel[1], message);
        close(channel[1]);
        _exit(0);
    }
    close(channel[1]);
    std::string message;
    char buffer[65536];
    while (true) {
        const ssize_t n = read(channel[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        message.append(buffer, static_cast<std::size_t>(n));
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const bool exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (message.empty()) {
        result.output = "the child died without a result (status " + std::to_string(status) + ")";
        return result;
    }
    result.output = message.substr(1);
    result.skipped = message[0] == 'S';
    result.completed = exited && message[0] == 'R';
    return result;
}

}  // namespace test
