// The manager under a service manager that wants to hear from it (systemd, Type=notify): the
// readiness notice comes once both listeners are open, the stop notice when the stop begins, and
// a run that cannot have UDP port 162 on either family sends no readiness and names the port's
// holder on its console.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/Socket.h"
#include "service/tests/ManagerHarness.h"

namespace {

using namespace managertest;
using nlohmann::json;

// The service manager's end of the notification socket: a datagram socket at `path`.
class CNotifySocket {
  public:
    explicit CNotifySocket(const fs::path& path) : m_path(path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        m_bound = m_fd >= 0 && path.native().size() < sizeof address.sun_path &&
                  ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~CNotifySocket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CNotifySocket(const CNotifySocket&) = delete;
    CNotifySocket& operator=(const CNotifySocket&) = delete;

    bool Bound() const { return m_bound; }
    std::string Path() const { return m_path.string(); }

    // The next notice, or "" when none came within `wait`.
    std::string Receive(std::chrono::milliseconds wait) {
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(wait.count())) != 1) {
            return {};
        }
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

  private:
    fs::path m_path;
    int m_fd = -1;
    bool m_bound = false;
};

// UDP port 162 of one family, bound by the test so that the manager cannot have it.
int TakePort(bool ipv6) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int rc = -1;
    if (ipv6) {
        const int only = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(162);
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(162);
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (rc != 0 && fd >= 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool PortTaken(platform::AddressFamily family) {
    return platform::TryBindUdp(family, 162).value() == EADDRINUSE;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string OwnCommand() {
    std::ifstream comm("/proc/self/comm");
    std::string command;
    std::getline(comm, command);
    return command;
}

TEST(ManagerNotifyTest, ReadinessComesOnceBothListenersAreOpenAndTheStopIsAnnounced) {
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Any agent", "(ALL)", "(ALL)"}}));
    RUN_MANAGER_SCENARIO(result, [&] {
        json out;
        CNotifySocket notify(installation.SysRoot() / "notify");
        out["bound"] = notify.Bound();
        CManagerProcess manager(installation, {{"NOTIFY_SOCKET", notify.Path()}});
        out["first"] = notify.Receive(kStartGuard);
        // Taken at the moment of the notice: both listeners were open before it was sent.
        out["ipv4Listening"] = PortTaken(platform::AddressFamily::kIpv4);
        out["ipv6Listening"] = PortTaken(platform::AddressFamily::kIpv6);
        out["ready"] = manager.WaitReady();
        out["beforeStop"] = notify.Receive(std::chrono::milliseconds(0));
        ::kill(manager.Pid(), SIGTERM);
        out["second"] = notify.Receive(kEndGuard);
        out["exit"] = manager.Wait();
        out["after"] = notify.Receive(std::chrono::milliseconds(0));
        return out;
    });
    ASSERT_TRUE(result["bound"]);
    EXPECT_EQ(result["first"], "READY=1");
    EXPECT_TRUE(result["ipv4Listening"]);
    EXPECT_TRUE(result["ipv6Listening"]);
    EXPECT_TRUE(result["ready"]);
    EXPECT_EQ(result["beforeStop"], "");
    EXPECT_EQ(result["second"], "STOPPING=1");
    EXPECT_EQ(result["exit"], 0);
    EXPECT_EQ(result["after"], "");
    EXPECT_EQ(ManagerEventIds(), (std::vector<int>{1100, 1101}));
}

TEST(ManagerNotifyTest, ARunWithoutPort162SendsNoReadinessAndNamesTheHolder) {
    struct Case {
        const char* what;
        bool takeIpv4;
        bool takeIpv6;
        bool runs;  // the run goes on with one family
    };
    const Case cases[] = {
        {"both families taken", true, true, false},
        {"IPv6 taken", false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation;
        installation.WriteAgents(AgentSection({{"TRUE", "Router", "127.0.0.1", "public"}}));
        RUN_MANAGER_SCENARIO(result, [&] {
            json out;
            const int ipv4 = c.takeIpv4 ? TakePort(false) : -2;
            const int ipv6 = c.takeIpv6 ? TakePort(true) : -2;
            out["portsTaken"] = ipv4 != -1 && ipv6 != -1;
            CNotifySocket notify(installation.SysRoot() / "notify");
            out["bound"] = notify.Bound();
            CManagerProcess manager(installation, {{"NOTIFY_SOCKET", notify.Path()}});
            if (c.runs) {
                out["notice"] = notify.Receive(kStartGuard);
                manager.Stop();
            } else {
                manager.Wait();
                out["notice"] = notify.Receive(std::chrono::milliseconds(0));
            }
            out["holder"] = OwnCommand() + " (process " + std::to_string(::getpid()) + ")";
            return out;
        });
        ASSERT_TRUE(result["portsTaken"]);
        ASSERT_TRUE(result["bound"]);
        const std::string output = ReadFile(installation.OutputFile());
        const std::string line =
            "UDP port 162 is held by " + result["holder"].get<std::string>() + "\n";
        if (c.runs) {
            EXPECT_EQ(result["notice"], "READY=1");
            EXPECT_EQ(output.find("UDP port 162"), std::string::npos) << output;
        } else {
            EXPECT_EQ(result["notice"], "");
            EXPECT_NE(output.find(line), std::string::npos) << output;
        }
    }
}

}  // namespace
