// The manager under socket activation, as systemd's socket unit starts it: the two UDP port 162
// sockets are opened by the service manager and passed to the program (LISTEN_FDS, LISTEN_PID),
// which listens on them instead of binding its own. Here the test plays the service manager: it
// holds the sockets across two runs of the manager, so what arrives between the runs waits in the
// sockets and is written by the second run. Each scenario runs in a private network namespace
// (see ManagerHarness.h).
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "platform/EventLog.h"
#include "service/tests/ManagerHarness.h"

namespace {

using namespace managertest;
using nlohmann::json;

constexpr char kColdStart[] = "1.3.6.1.6.3.1.1.5.1";
constexpr char kSysName[] = "1.3.6.1.2.1.1.5.0";

// A UDP socket bound to port 162 on the wildcard address of its family (IPv6 only, as the socket
// unit has it), on a descriptor of 10 or more that a child process inherits.
class CPassedSocket {
  public:
    explicit CPassedSocket(bool ipv6) {
        const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) {
            return;
        }
        int bound = -1;
        if (ipv6) {
            const int only = 1;
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_addr = in6addr_any;
            address.sin6_port = htons(162);
            bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        } else {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_ANY);
            address.sin_port = htons(162);
            bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        if (bound == 0) {
            m_fd = ::fcntl(fd, F_DUPFD, 10);  // without FD_CLOEXEC
        }
        ::close(fd);
    }
    ~CPassedSocket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CPassedSocket(const CPassedSocket&) = delete;
    CPassedSocket& operator=(const CPassedSocket&) = delete;

    int Fd() const { return m_fd; }

  private:
    int m_fd = -1;
};

// A launcher that passes `sockets` to the program as systemd does: at descriptors 3, 4 ... with
// LISTEN_FDS their count and LISTEN_PID the program's process (the shell's, which execs it;
// bash, as dash takes descriptors of one digit only).
std::vector<std::string> Activation(const std::vector<int>& sockets) {
    std::string redirections;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        redirections += " " + std::to_string(3 + i) + "<&" + std::to_string(sockets[i]);
    }
    for (int fd : sockets) {
        redirections += " " + std::to_string(fd) + "<&-";
    }
    return {"/bin/bash", "-c",
            "export LISTEN_PID=$$ LISTEN_FDS=" + std::to_string(sockets.size()) + "; exec \"$0\"" +
                redirections};
}

bool SendNumbered(const std::string& address, const std::string& tag, int count) {
    test::CNotificationSender sender(address);
    bool sent = sender.IsOpen();
    for (int n = 1; n <= count && sent; ++n) {
        sent = sender.SendTrap("public", 4711, kColdStart,
                               {{kSysName, 's', tag + "#" + std::to_string(n)}});
    }
    return sent;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Two runs on the same passed sockets: nothing of what arrives between them is lost, and neither
// run tries to bind the port itself (which the held sockets would refuse: event 6102).
TEST(ManagerSocketActivationTest, WhatArrivesBetweenTwoRunsWaitsInThePassedSockets) {
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Router", "(ALL)", "(ALL)"}}));
    RUN_MANAGER_SCENARIO(result, [&] {
        json out;
        CPassedSocket ipv4(false);
        CPassedSocket ipv6(true);
        out["bound"] = ipv4.Fd() >= 0 && ipv6.Fd() >= 0;
        if (!out["bound"]) {
            return out;
        }
        const std::vector<std::string> launcher = Activation({ipv4.Fd(), ipv6.Fd()});
        {
            CManagerProcess first(installation, {}, launcher);
            out["firstReady"] = first.WaitReady("127.0.0.1") && first.WaitReady("::1");
            // Each family's traps once the other's are read: the order of the events is known.
            out["firstSent"] = SendNumbered("127.0.0.1", "first", 3);
            out["firstFlushed"] = Flush("127.0.0.1");
            out["firstSent"] = SendNumbered("::1", "first6", 1) && out["firstSent"];
            out["firstFlushed"] = Flush("::1") && out["firstFlushed"];
            out["firstExit"] = first.Stop();
        }
        // No manager runs: the datagrams wait in the sockets the test holds.
        out["betweenSent"] = SendNumbered("127.0.0.1", "between", 5);
        {
            CManagerProcess second(installation, {}, launcher);
            out["secondReady"] = second.WaitReady("127.0.0.1");
            out["secondSent"] = SendNumbered("127.0.0.1", "second", 3);
            out["secondFlushed"] = Flush("127.0.0.1");
            out["secondExit"] = second.Stop();
        }
        return out;
    });
    ASSERT_TRUE(result["bound"]);
    for (const char* step : {"firstReady", "firstSent", "firstFlushed", "betweenSent",
                             "secondReady", "secondSent", "secondFlushed"}) {
        EXPECT_TRUE(result[step]) << step;
    }
    EXPECT_EQ(result["firstExit"], 0);
    EXPECT_EQ(result["secondExit"], 0);
    const std::vector<json> events = ManagerEvents();
    EXPECT_EQ(WrittenMarks(events),
              (std::vector<std::string>{"first#1", "first#2", "first#3", "first6#1", "between#1",
                                        "between#2", "between#3", "between#4", "between#5",
                                        "second#1", "second#2", "second#3"}));
    std::vector<int> others;
    for (int id : test::EventIds(events)) {
        if (id != 2000) {
            others.push_back(id);
        }
    }
    EXPECT_EQ(others, (std::vector<int>{1100, 1101, 1100, 1101}));
    const std::string console = ReadBytes(installation.OutputFile());
    EXPECT_EQ(Occurrences(console,
                          "UDP port 162: IPv4 and IPv6 on the sockets that the service "
                          "manager passed\n"),
              2u)
        << console;
}

// A stop with a backlog in a passed socket (the trap queue at its bound while nothing could be
// written) leaves that backlog in the socket, tells its bytes as kept, and the next run writes
// it: across the two runs every trap sent is written once, in order.
TEST(ManagerSocketActivationTest, AStopKeepsThePassedSocketsBacklogForTheNextRun) {
    constexpr int kTraps = 200;
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Router", "(ALL)", "(ALL)"}}));
    RUN_MANAGER_SCENARIO(result, [&] {
        json out;
        CPassedSocket ipv4(false);
        CPassedSocket ipv6(true);
        out["bound"] = ipv4.Fd() >= 0 && ipv6.Fd() >= 0;
        if (!out["bound"]) {
            return out;
        }
        const std::vector<std::string> launcher = Activation({ipv4.Fd(), ipv6.Fd()});
        {
            CManagerProcess first(installation, {{"VORMA_TEST_TRAP_QUEUE_BYTES", "16384"}},
                                  launcher);
            out["firstReady"] = first.WaitReady("127.0.0.1");
            const int logFd =
                ::open(platform::ApplicationLogFile().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            out["logLocked"] = logFd >= 0 && ::flock(logFd, LOCK_EX) == 0;
            out["sent"] = SendNumbered("127.0.0.1", "backlog", kTraps);
            out["queueFull"] = WaitUntil([&] {
                const json status = ReadStatus(installation);
                return status.is_object() &&
                       status.contains("/Counters/Queue/Bytes"_json_pointer) &&
                       status["/Counters/Queue/Bytes"_json_pointer].get<long>() >= 16384;
            });
            ::kill(first.Pid(), SIGTERM);
            out["stopPending"] = WaitUntil(
                [&] { return ReadStatus(installation).value("State", "") == "STOP_PENDING"; });
            if (logFd >= 0) {
                ::close(logFd);
            }
            out["firstExit"] = first.Wait();
            out["firstCounters"] = ReadStatus(installation).value("Counters", json());
        }
        {
            CManagerProcess second(installation, {}, launcher);
            out["secondReady"] = second.WaitReady("127.0.0.1");
            out["secondFlushed"] = Flush("127.0.0.1");
            out["secondExit"] = second.Stop();
        }
        return out;
    });
    ASSERT_TRUE(result["bound"]);
    for (const char* step : {"firstReady", "logLocked", "sent", "queueFull", "stopPending",
                             "secondReady", "secondFlushed"}) {
        EXPECT_TRUE(result[step]) << step;
    }
    EXPECT_EQ(result["firstExit"], 0);
    EXPECT_EQ(result["secondExit"], 0);
    const json& unread = result["firstCounters"]["UnreadAtStop"];
    EXPECT_EQ(unread["IPv4"].value("KeptForNextRun", false), true) << unread.dump();
    EXPECT_FALSE(unread["IPv4"].contains("Datagrams")) << unread.dump();
    EXPECT_GT(unread["IPv4"].value("Bytes", 0), 0) << unread.dump();
    EXPECT_LT(result["firstCounters"].value("EventsWritten", -1), kTraps);
    std::vector<std::string> expected;
    for (int n = 1; n <= kTraps; ++n) {
        expected.push_back("backlog#" + std::to_string(n));
    }
    EXPECT_EQ(WrittenMarks(ManagerEvents()), expected);
    const std::string console = ReadBytes(installation.OutputFile());
    const std::size_t stopLine = console.find("The stop left unread");
    std::printf("%s",
                console.substr(stopLine, console.find('\n', stopLine) + 1 - stopLine).c_str());
    EXPECT_NE(console.find("bytes queued, kept in the socket for the next run; IPv6 0 bytes "
                           "queued, kept in the socket for the next run.\n"),
              std::string::npos)
        << console;
}

// What is passed decides, family by family: a family without a passed socket is bound by the
// manager itself, and variables that name another process (a parent that was activated) pass
// nothing.
TEST(ManagerSocketActivationTest, AFamilyWithoutAPassedSocketIsBoundByTheManager) {
    struct Case {
        const char* what;
        bool passIpv4;
        bool otherPid;  // LISTEN_PID names another process
        const char* consoleLine;
    };
    const Case cases[] = {
        {"IPv4 passed", true, false, "UDP port 162: IPv4 on the sockets"},
        {"LISTEN_PID of another process", true, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation;
        installation.WriteAgents(AgentSection({{"TRUE", "Router", "(ALL)", "(ALL)"}}));
        RUN_MANAGER_SCENARIO(result, [&] {
            json out;
            CPassedSocket ipv4(false);
            out["bound"] = ipv4.Fd() >= 0;
            if (!out["bound"]) {
                return out;
            }
            std::vector<std::string> launcher = Activation({ipv4.Fd()});
            if (c.otherPid) {
                launcher[2] = "export LISTEN_PID=1 LISTEN_FDS=1; exec \"$0\" 3<&" +
                              std::to_string(ipv4.Fd()) + " " + std::to_string(ipv4.Fd()) + "<&-";
            }
            CManagerProcess manager(installation, {}, launcher);
            // The IPv6 socket is the manager's own; IPv4 works only where it took the passed one
            // (an unpassed one cannot be bound beside the test's).
            out["ipv6Ready"] = manager.WaitReady("::1");
            out["ipv4Ready"] = c.otherPid ? false : manager.WaitReady("127.0.0.1");
            out["sent"] = SendNumbered("::1", "six", 2);
            out["flushed"] = Flush("::1");
            out["exit"] = manager.Stop();
            return out;
        });
        ASSERT_TRUE(result["bound"]);
        EXPECT_TRUE(result["ipv6Ready"]);
        EXPECT_EQ(result["ipv4Ready"], !c.otherPid);
        EXPECT_TRUE(result["sent"]);
        EXPECT_TRUE(result["flushed"]);
        EXPECT_EQ(result["exit"], 0);
        const std::vector<json> events = ManagerEvents();
        EXPECT_EQ(WrittenMarks(events), (std::vector<std::string>{"six#1", "six#2"}));
        // The passed IPv4 socket that names another process holds the port: the trial bind
        // reports it, and the run goes on with IPv6.
        const std::vector<std::string> portErrors = EventTexts(events, 6102);
        if (c.otherPid) {
            ASSERT_EQ(portErrors.size(), 1u);
            EXPECT_EQ(portErrors[0].rfind("IPv4 Port Error( 0x", 0), 0u) << portErrors[0];
        } else {
            EXPECT_TRUE(portErrors.empty());
        }
        const std::string console = ReadBytes(installation.OutputFile());
        if (c.consoleLine != nullptr) {
            EXPECT_NE(console.find(c.consoleLine), std::string::npos) << console;
        } else {
            EXPECT_EQ(console.find("the service manager passed"), std::string::npos) << console;
        }
    }
}

}  // namespace
