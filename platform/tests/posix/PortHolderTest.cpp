#include "platform/PortHolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "tests/support/IsolatedChild.h"

namespace {

// A UDP socket bound to `address` (IPv4 or IPv6 text, IPv6 only) and `port`; -1 on failure.
int Bind(const char* address, std::uint16_t port) {
    sockaddr_storage storage{};
    socklen_t length;
    int family;
    if (std::string(address).find(':') == std::string::npos) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = family = AF_INET;
        v4->sin_port = htons(port);
        inet_pton(AF_INET, address, &v4->sin_addr);
        length = sizeof *v4;
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        v6->sin6_family = family = AF_INET6;
        v6->sin6_port = htons(port);
        inet_pton(AF_INET6, address, &v6->sin6_addr);
        length = sizeof *v6;
    }
    const int fd = socket(family, SOCK_DGRAM, 0);
    const int only = 1;  // each family on its own, as the manager binds them
    if (family == AF_INET6) {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    }
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A child process that holds `address`:`port` until it is killed; its process number, or -1.
pid_t HoldInChild(const char* address, std::uint16_t port) {
    int ready[2];
    if (pipe(ready) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        const char state = Bind(address, port) >= 0 ? '1' : '0';
        (void)!write(ready[1], &state, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char state = '0';
    (void)!read(ready[0], &state, 1);
    close(ready[0]);
    return state == '1' ? pid : -1;
}

void EndChild(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

std::string Expected(const std::vector<pid_t>& pids) {
    std::string command;
    std::ifstream comm("/proc/self/comm");
    std::getline(comm, command);
    std::string text;
    for (pid_t pid : pids) {
        text += (text.empty() ? "" : ", ") + command + " (process " + std::to_string(pid) + ")";
    }
    return text;
}

// In a private network namespace: the holders of port 162 on either family and on any address
// are found, in process-number order, and a port nobody holds names nobody.
TEST(PortHolderTest, NamesEveryProcessThatHoldsThePortOnEitherFamily) {
    test::ChildResult child = test::RunIsolated(true, [] {
        std::ostringstream out;
        auto check = [&out](const char* name, const std::string& want) {
            const std::string got = platform::WideToUtf8(platform::DescribeUdpPortHolders(162));
            out << name << ": " << (got == want ? "ok" : "got '" + got + "', want '" + want + "'")
                << "\n";
        };
        check("nobody", "");
        const int other = Bind("0.0.0.0", 163);
        check("another port only", "");

        int self = Bind("0.0.0.0", 162);
        check("this process, IPv4 wildcard", Expected({getpid()}));
        close(self);
        self = Bind("127.0.0.1", 162);
        check("this process, one IPv4 address", Expected({getpid()}));
        close(self);

        const pid_t v6 = HoldInChild("::", 162);
        check("a child, IPv6 wildcard", v6 > 0 ? Expected({v6}) : "bind failed");
        self = Bind("0.0.0.0", 162);
        check("both",
              v6 > 0 ? Expected({std::min(getpid(), v6), std::max(getpid(), v6)}) : "bind failed");
        close(self);
        EndChild(v6);
        close(other);
        check("all closed", "");
        return out.str();
    });
    if (child.skipped) {
        GTEST_SKIP() << child.output;
    }
    ASSERT_TRUE(child.completed) << child.output;
    EXPECT_EQ(child.output,
              "nobody: ok\nanother port only: ok\nthis process, IPv4 wildcard: ok\n"
              "this process, one IPv4 address: ok\na child, IPv6 wildcard: ok\nboth: ok\n"
              "all closed: ok\n");
}

}  // namespace
