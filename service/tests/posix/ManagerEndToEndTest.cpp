// End-to-end tests of the manager program VormaSnmpManager: the program runs as a process on a
// product installation of its own, each run in a private network namespace with its own UDP port
// 162. Traps go in over UDP; what the tests check is what an administrator sees afterwards: the
// events of the Application log, the filter log, the service's status file and its history, and
// the exit status.
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <regex>
#include <set>

#include "platform/Registry.h"
#include "product/Registry.h"
#include "service/tests/ManagerHarness.h"

namespace {

using namespace managertest;
using nlohmann::json;

constexpr char kColdStart[] = "1.3.6.1.6.3.1.1.5.1";
constexpr char kLinkDown[] = "1.3.6.1.6.3.1.1.5.3";
constexpr char kSysName[] = "1.3.6.1.2.1.1.5.0";
constexpr char kIfIndex1[] = "1.3.6.1.2.1.2.2.1.1.1";

constexpr wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\VORMASNMPManageService";
constexpr wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VORMASNMPManagerService";

constexpr std::uint32_t kUpTime = 4711;
const std::string kUpTimeLine =
    "\t  sysUpTime.0 { 1.3.6.1.2.1.1.3.0 } = Timeticks: (4711) 0:00:47.11\n";

// A trap whose text carries `marker` as sysName.0, so that its event can be told apart.
bool SendMarkedTrap(const std::string& source, const std::string& community,
                    const std::string& marker) {
    const std::string destination = source.find(':') != std::string::npos ? "::1" : "127.0.0.1";
    test::CNotificationSender sender(destination, 162, source);
    return sender.IsOpen() &&
           sender.SendTrap(community, kUpTime, kColdStart, {{kSysName, 's', marker}});
}

// The header line that dispatch gives a trap text: display name and " : " when there is one.
std::string FirstLine(const std::string& displayName, const std::string& address,
                      const std::string& community, const std::string& version) {
    const std::string header = address + "\t  " + community + "\t  " + version;
    return displayName.empty() ? header : displayName + " : " + header;
}

std::string FirstLineOf(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// UDP port 162 of one family, bound by the test so that the manager cannot have it.
class CPortHolder {
  public:
    explicit CPortHolder(bool ipv6) {
        m_fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int rc = -1;
        if (ipv6) {
            int only = 1;
            ::setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_port = htons(162);
            address.sin6_addr = in6addr_any;
            rc = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        } else {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(162);
            address.sin_addr.s_addr = htonl(INADDR_ANY);
            rc = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        m_bound = m_fd >= 0 && rc == 0;
    }
    ~CPortHolder() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CPortHolder(const CPortHolder&) = delete;
    CPortHolder& operator=(const CPortHolder&) = delete;
    bool Bound() const { return m_bound; }

  private:
    int m_fd = -1;
    bool m_bound = false;
};

// ---------------------------------------------------------------------------------------------
// Start and stop

TEST(ManagerEndToEndTest, StartAndStopReportEventsAndStatesInOrder) {
    struct Case {
        const char* what;
        bool waitUntilReady;  // else the stop control comes during the start-up
    };
    for (const Case& c :
         {Case{"stopped while running", true}, Case{"stopped during the start-up", false}}) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation;
        installation.WriteAgents(AgentSection({{"TRUE", "Router", "127.0.0.1", "public"}}));
        // The report of an earlier run, which the start-up deletes.
        std::ofstream(installation.MibReport()) << "stale message of an earlier run\n";
        RUN_MANAGER_SCENARIO(result, [&] {
            CManagerProcess manager(installation);
            json out;
            out["pid"] = manager.Pid();
            out["controlled"] = manager.WaitForStatusFile(installation);
            if (c.waitUntilReady) {
                out["ready"] = manager.WaitReady();
                out["running"] = ReadStatus(installation);
            }
            out["exit"] = manager.Stop();
            return out;
        });
        ASSERT_TRUE(result["controlled"]);
        if (c.waitUntilReady) {
            EXPECT_TRUE(result["ready"]);
            const json& running = result["running"];
            EXPECT_EQ(running["ServiceName"], "VORMASNMPManageService");
            EXPECT_EQ(running["State"], "RUNNING");
            EXPECT_EQ(running["CurrentState"], 4);
            EXPECT_EQ(running["ControlsAccepted"], 5);
            EXPECT_EQ(running["ProcessId"], result["pid"]);
        }
        EXPECT_EQ(result["exit"], 0);
        EXPECT_EQ(ManagerEventIds(), (std::vector<int>{1100, 1101}));

        const json stopped = ReadStatus(installation);
        EXPECT_EQ(stopped["State"], "STOPPED");
        EXPECT_EQ(stopped["CurrentState"], 1);
        EXPECT_EQ(stopped["Win32ExitCode"], 0);
        EXPECT_EQ(stopped["ProcessId"], result["pid"]);
        // A stop that comes before RUNNING was reported leaves RUNNING out: no report says
        // RUNNING after STOP_PENDING.
        const std::vector<std::string> history = StatusHistory(installation);
        const std::vector<std::string> full = {"START_PENDING", "RUNNING", "STOP_PENDING",
                                               "STOPPED"};
        const std::vector<std::string> short_ = {"START_PENDING", "STOP_PENDING", "STOPPED"};
        if (c.waitUntilReady) {
            EXPECT_EQ(history, full);
        } else {
            EXPECT_TRUE(history == full || history == short_) << ::testing::PrintToString(history);
        }
        const std::vector<json> reports = StatusReports(installation);
        ASSERT_EQ(reports.size(), history.size());
        EXPECT_EQ(reports[0]["CheckPoint"], 1);
        EXPECT_EQ(reports[0]["WaitHint"], 2000);
        for (std::size_t i = 1; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i]["CheckPoint"], 0) << i;
            EXPECT_EQ(reports[i]["WaitHint"], 0) << i;
        }
        // The earlier report was replaced by this run's, which holds no message (no 6104).
        std::ifstream report(installation.MibReport());
        const std::string content((std::istreambuf_iterator<char>(report)),
                                  std::istreambuf_iterator<char>());
        EXPECT_TRUE(report.is_open());
        EXPECT_EQ(content.find("stale"), std::string::npos) << content;
    }
}

TEST(ManagerEndToEndTest, StartUpFailuresEndTheRunWithoutAStopRequest) {
    struct Case {
        const char* what;
        bool registerInstallDir;
        bool unreachableServer;
        bool takePorts;
        std::vector<int> events;
        int exitStatus;  // as systemd names them: 69 UNAVAILABLE, 6 NOTCONFIGURED, 4 NOPERMISSION
        std::vector<std::string> launcher;
    };
    // Root without CAP_NET_BIND_SERVICE may not bind port 162.
    const std::vector<std::string> withoutBindCapability = {"/usr/bin/setpriv",
                                                            "--bounding-set=-net_bind_service",
                                                            "--inh-caps=-net_bind_service", "--"};
    const Case cases[] = {
        {"product server unreachable", true, true, false, {1100, 6100, 1101}, 69, {}},
        {"port 162 taken on both families", true, false, true, {1100, 6102, 6102, 1101}, 69, {}},
        {"no InstallDir", false, false, false, {1100, 6101, 1101}, 6, {}},
        {"port 162 not allowed",
         true,
         false,
         false,
         {1100, 6102, 6102, 1101},
         4,
         withoutBindCapability},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation(c.registerInstallDir);
        installation.WriteAgents(AgentSection({{"TRUE", "Router", "127.0.0.1", "public"}}));
        if (c.unreachableServer) {
            // Nothing listens on that port in the test's own network namespace.
            installation.UseServer("http://127.0.0.1:9/");
        }
        RUN_MANAGER_SCENARIO(result, [&] {
            json out;
            std::optional<CPortHolder> ipv4;
            std::optional<CPortHolder> ipv6;
            if (c.takePorts) {
                ipv4.emplace(false);
                ipv6.emplace(true);
                out["portsTaken"] = ipv4->Bound() && ipv6->Bound();
            }
            CManagerProcess manager(installation, {}, c.launcher);
            out["pid"] = manager.Pid();
            out["exit"] = manager.Wait();  // no stop control: the run ends by itself
            return out;
        });
        if (c.takePorts) {
            ASSERT_TRUE(result["portsTaken"]);
        }
        // Not 0: systemd must see the unit fail, so that its restart policy acts.
        EXPECT_EQ(result["exit"], c.exitStatus);
        const std::vector<json> events = ManagerEvents();
        EXPECT_EQ(test::EventIds(events), c.events);
        for (const json& event : events) {
            const int id = event["EventID"];
            EXPECT_EQ(event["EventType"], id >= 6000 ? 1 : 4) << id;
        }
        if (c.takePorts) {
            const auto texts = EventTexts(events, 6102);
            ASSERT_EQ(texts.size(), 2u);
            EXPECT_EQ(texts[0].rfind("IPv4 Port Error( 0x", 0), 0u) << texts[0];
            EXPECT_EQ(texts[1].rfind("IPv6 Port Error( 0x", 0), 0u) << texts[1];
            EXPECT_EQ(events[1]["EventIdentifier"], 0xC00017D6u);
        }
        const json stopped = ReadStatus(installation);
        EXPECT_EQ(stopped["State"], "STOPPED");
        EXPECT_EQ(stopped["ProcessId"], result["pid"]);
        EXPECT_EQ(StatusHistory(installation),
                  (std::vector<std::string>{"START_PENDING", "RUNNING", "STOPPED"}));
        // The run ended before the SNMP data folder was touched.
        EXPECT_TRUE(fs::is_empty(installation.LogsDir()));
        EXPECT_TRUE(fs::is_empty(installation.SnmpDir() / "Tmp"));
    }
}

TEST(ManagerEndToEndTest, StartUpProblemsThatLeaveTheRunGoingAreReported) {
    struct Case {
        const char* what;
        std::function<void(const CManagerInstallation&)> prepare;
        bool takeIpv4Port;
        std::vector<int> events;
        int problem;                 // the event of the problem
        std::uint32_t identifier;    // its full identifier
        std::string expectedPrefix;  // of its insertion string; the report's path is appended
    };
    // A previous report that cannot be deleted: a non-empty folder in its place. The new report
    // cannot be written or read there either.
    auto undeletableReport = [](const CManagerInstallation& installation) {
        fs::create_directories(installation.MibReport());
        std::ofstream(installation.MibReport() / "keep") << "x";
    };
    auto brokenMib = [](const CManagerInstallation& installation) {
        std::ofstream(installation.SnmpDir() / "Mibs" / "VORMA-BROKEN-MIB.txt")
            << "VORMA-BROKEN-MIB DEFINITIONS ::= BEGIN\n"
               "IMPORTS enterprises FROM SNMPv2-SMI;\n"
               "vormaBroken OBJECT IDENTIFIER ::= { enterprises 99998 \n"
               "vormaBrokenValue OBJECT-TYPE SYNTAX NoSuchType MAX-ACCESS read-only\n";
    };
    const std::string unreadable =
        "MIB解析結果の出力ファイルにアクセスできません。\r\n以下の環境設定を確認してください。\n{ ";
    const Case cases[] = {
        {"undeletable previous MIB report",
         undeletableReport,
         false,
         {1100, 6105, 6104, 2000, 1101},
         6105,
         0xC00017D9u,
         "{ "},
        {"a MIB module with errors",
         brokenMib,
         false,
         {1100, 6104, 2000, 1101},
         6104,
         0xC00017D8u,
         "MIB解析にてエラーを検出しました。\r\n"
         "詳細は以下のMIB解析結果の出力ファイルを確認してください。\n{ "},
        {"port 162 taken on IPv4 only",
         nullptr,
         true,
         {1100, 6102, 2000, 1101},
         6102,
         0xC00017D6u,
         "IPv4 Port Error( 0x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation;
        installation.WriteAgents(AgentSection(
            {{"TRUE", "Router", "127.0.0.1", "public"}, {"TRUE", "Router6", "::1", "public"}}));
        if (c.prepare) {
            c.prepare(installation);
        }
        // The IPv6 listener alone receives when the test holds the IPv4 port.
        const std::string source = c.takeIpv4Port ? "::1" : "127.0.0.1";
        RUN_MANAGER_SCENARIO(result, [&] {
            json out;
            std::optional<CPortHolder> ipv4;
            if (c.takeIpv4Port) {
                ipv4.emplace(false);
                out["portTaken"] = ipv4->Bound();
            }
            CManagerProcess manager(installation);
            out["ready"] = manager.WaitReady(source);
            out["sent"] = SendMarkedTrap(source, "public", "still-running");
            out["flushed"] = Flush(source);
            out["exit"] = manager.Stop();
            return out;
        });
        if (c.takeIpv4Port) {
            ASSERT_TRUE(result["portTaken"]);
        }
        ASSERT_TRUE(result["ready"]);
        EXPECT_TRUE(result["sent"]);
        EXPECT_TRUE(result["flushed"]);
        EXPECT_EQ(result["exit"], 0);
        const std::vector<json> events = ManagerEvents();
        ASSERT_EQ(test::EventIds(events), c.events);
        EXPECT_EQ(events[1]["EventIdentifier"], c.identifier);
        EXPECT_EQ(events[1]["EventType"], 1);
        const std::string report = installation.MibReport().string();
        const std::string text = events[1]["Strings"].at(0);
        if (c.problem == 6105) {
            // Resource 106 with the path, errno and its text, then CR LF.
            const std::string head = "{ " + report + " }\r\nエラーコード[" +
                                     std::to_string(ENOTEMPTY) + "]\r\nエラーメッセージ :\r\n";
            EXPECT_EQ(text.rfind(head, 0), 0u) << text;
            EXPECT_GT(text.size(), head.size() + 2) << "the error's text";
            EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
            EXPECT_EQ(events[2]["Strings"].at(0), unreadable + report + " }");
        } else if (c.problem == 6104) {
            EXPECT_EQ(text, c.expectedPrefix + report + " }");
        } else {
            EXPECT_EQ(text.rfind(c.expectedPrefix, 0), 0u) << text;
        }
        EXPECT_NE(EventTexts(events, 2000).at(0).find("still-running"), std::string::npos);
    }
}

// ---------------------------------------------------------------------------------------------
// Trap dispatch: the agent check and the display name

struct Notification {
    std::string source;     // sender address
    std::string community;  // or the SNMPv3 user name
    bool v3;
    std::string displayName;  // expected; "-" when the notification must be dropped
};

// Sends every notification (each marked with its index), stops the manager once all are read,
// and checks that exactly the accepted ones reached the event log, in order, each with its
// expected first line.
void CheckAgentRules(const std::vector<Agent>& agents,
                     const std::vector<Notification>& notifications) {
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection(agents));
    installation.WriteSettings("SnmpV3Setting.txt",
                               std::string("-e:") + kV3Engine +
                                   " -u:v3user -a:SHA -AP:authpass123 -x:AES -XP:privpass123\n");
    installation.WriteSettings("EventLevel.txt", "1,coldStart\n");  // information
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["ready"] = manager.WaitReady();
        out["ready6"] = manager.WaitReady("::1");
        out["sent"] = json::array();
        bool flushed = true;
        for (std::size_t i = 0; i < notifications.size(); ++i) {
            const Notification& n = notifications[i];
            const std::string marker = "notification-" + std::to_string(i);
            out["sent"].push_back(n.v3
                                      ? SendV3Trap(installation, n.source, n.community, marker) == 0
                                      : SendMarkedTrap(n.source, n.community, marker));
            // The two families have a socket each: the order is kept by letting the manager
            // read each notification before the next one goes out.
            flushed = flushed &&
                      Flush(n.v3 || n.source.find(':') == std::string::npos ? "127.0.0.1" : "::1");
        }
        out["flushed"] = flushed;
        out["exit"] = manager.Stop();
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    ASSERT_TRUE(result["ready6"]);
    EXPECT_EQ(result["sent"], json(std::vector<bool>(notifications.size(), true)));
    EXPECT_TRUE(result["flushed"]);
    EXPECT_EQ(result["exit"], 0);

    std::vector<std::string> expected;
    for (std::size_t i = 0; i < notifications.size(); ++i) {
        const Notification& n = notifications[i];
        if (n.displayName != "-") {
            expected.push_back(
                FirstLine(n.displayName, n.source, n.community, n.v3 ? "V3" : "V2c") +
                " | notification-" + std::to_string(i));
        }
    }
    std::vector<std::string> actual;
    const std::vector<json> events = ManagerEvents();
    for (const json& event : events) {
        if (event["EventID"] != 2000) {
            continue;
        }
        const std::string text = event["Strings"].at(0);
        std::smatch marker;
        std::regex_search(text, marker, std::regex("notification-[0-9]+"));
        actual.push_back(FirstLineOf(text) + " | " + marker.str());
        EXPECT_EQ(event["EventType"], 4) << text;  // the level list's type for coldStart
        EXPECT_EQ(event["Strings"].size(), 1u);
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(events.front()["EventID"], 1100);
    EXPECT_EQ(events.back()["EventID"], 1101);
    EXPECT_EQ(events.size(), expected.size() + 2) << "nothing but the start, traps and stop";
}

TEST(ManagerEndToEndTest, AListeningWildcardAdmitsEveryAgentUnderTheMostSpecificName) {
    CheckAgentRules(
        {
            {"TRUE", "Exact", "127.0.0.1", "public"},
            {"FALSE", "Quiet", "127.0.0.2", "public"},
            {"TRUE", "AnyCommunity", "127.0.0.3", "(ALL)"},
            {"TRUE", "Exact6", "::1", "public"},
            {"TRUE", "Any agent", "(ALL)", "(ALL)"},
        },
        {
            {"127.0.0.1", "public", false, "Exact"},
            {"127.0.0.1", "private", false, "Any agent"},
            {"127.0.0.2", "public", false,
             "Quiet"},  // its entry does not listen, the wildcard does
            {"127.0.0.3", "xyz", false, "AnyCommunity"},
            {"127.0.0.4", "public", false, "Any agent"},
            {"::1", "public", false, "Exact6"},
            {"::1", "private", false, "Any agent"},
            {"127.0.0.1", "v3user", true, ""},  // SNMPv3: never a display name
        });
}

TEST(ManagerEndToEndTest, WithoutAListeningWildcardOnlyListeningEntriesAdmit) {
    CheckAgentRules(
        {
            {"TRUE", "Exact", "127.0.0.1", "public"},
            {"FALSE", "Quiet", "127.0.0.2", "public"},
            {"TRUE", "AnyCommunity", "127.0.0.3", "(ALL)"},
            {"FALSE", "Any agent", "(ALL)", "(ALL)"},
        },
        {
            {"127.0.0.1", "public", false, "Exact"},
            {"127.0.0.1", "private", false, "-"},
            {"127.0.0.2", "public", false, "-"},
            {"127.0.0.3", "xyz", false, "AnyCommunity"},
            {"127.0.0.4", "public", false, "-"},
            {"::1", "public", false, "-"},
            {"127.0.0.9", "v3user", true, ""},     // no entry, still accepted
            {"127.0.0.1", "stranger", true, "-"},  // not a configured SNMPv3 user
        });
}

TEST(ManagerEndToEndTest, WithoutAWildcardTheAddressEntriesDecide) {
    std::vector<Agent> agents = {
        {"FALSE", "Quiet6", "127.0.0.6", "public"},
        {"TRUE", "All6", "127.0.0.6", "(ALL)"},
        {"TRUE", "Exact5", "127.0.0.5", "public"},
        {"FALSE", "QuietAll5", "127.0.0.5", "(ALL)"},
    };
    agents.front().listen = "true";  // only "TRUE" listens
    CheckAgentRules(agents, {
                                {"127.0.0.6", "public", false, "All6"},
                                {"127.0.0.6", "other", false, "All6"},
                                {"127.0.0.5", "public", false, "Exact5"},
                                {"127.0.0.5", "other", false, "-"},
                                {"127.0.0.4", "public", false, "-"},
                            });
}

TEST(ManagerEndToEndTest, ACommunityCannotPassItselfOffAsAnotherCommunityOrVersion) {
    // Only the exact entry of 127.0.0.1 with the community "public" listens. Communities that
    // hold the header's separator, version words, the SNMPv3 mark or a line feed must not be read
    // back as "public", as SNMPv3 (which skips the agent check) or as another address.
    CheckAgentRules(
        {
            {"TRUE", "Exact", "127.0.0.1", "public"},
            {"FALSE", "Any agent", "(ALL)", "(ALL)"},
        },
        {
            {"127.0.0.1", "x\t  V3", false, "-"},
            {"127.0.0.1", "public\t  V3", false, "-"},
            {"127.0.0.1", "x\t  V3\t  認証エラー", false, "-"},
            {"127.0.0.2", "public\t  V2c", false, "-"},
            {"127.0.0.2", "\t  127.0.0.1\t  public", false, "-"},
            {"127.0.0.1", "public\t  V2c\nx", false, "-"},
            {"127.0.0.1", "public\n", false, "-"},
            {"127.0.0.1", "\t  ", false, "-"},
            {"127.0.0.1", "public\t", false, "-"},
            {"127.0.0.1", "public", false, "Exact"},  // the check still admits the listed agent
        });
}

TEST(ManagerEndToEndTest, AV2cTrapBecomesOneEventWithTheDisplayNameAndTheExactText) {
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Core router", "127.0.0.1", "public"}}));
    // Levels: 0 success, 1 information, 3 error (event types 0, 4, 1).
    installation.WriteSettings("EventLevel.txt", "1,coldStart\n3,linkDown\n0,linkDown\n");
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["ready"] = manager.WaitReady();
        test::CNotificationSender sender("127.0.0.1");
        out["sent"] = sender.SendTrap("public", kUpTime, kLinkDown, {{kIfIndex1, 'i', "1"}});
        out["flushed"] = Flush();
        out["exit"] = manager.Stop();
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    EXPECT_TRUE(result["sent"]);
    EXPECT_TRUE(result["flushed"]);
    EXPECT_EQ(result["exit"], 0);
    const std::vector<json> events = ManagerEvents();
    ASSERT_EQ(test::EventIds(events), (std::vector<int>{1100, 2000, 1101}));
    const json& trap = events[1];
    EXPECT_EQ(trap["Strings"],
              json::array({"Core router : 127.0.0.1\t  public\t  V2c\n" + kUpTimeLine +
                           "\t  snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: linkDown { "
                           "1.3.6.1.6.3.1.1.5.3 }\n"
                           "\t  ifIndex.1 { 1.3.6.1.2.1.2.2.1.1.1 } = INTEGER: 1\n"}));
    EXPECT_EQ(trap["EventType"], 1);  // the first level pattern that matches
    EXPECT_EQ(trap["EventIdentifier"], 2000);
    EXPECT_EQ(trap["SourceName"], "VORMASNMPManagerService");
    EXPECT_EQ(trap["Category"], 0);
    EXPECT_EQ(trap["Message"], trap["Strings"].at(0).get<std::string>() + "\r\n");
}

// ---------------------------------------------------------------------------------------------
// White, black and level lists

TEST(ManagerEndToEndTest, ListsSendTrapsToTheEventLogOrTheFilterLog) {
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Exact", "127.0.0.1", "public"}}));
    // "(" cannot be compiled: it is reported for every text that reaches it and never matches.
    installation.WriteSettings("FilterWhite.txt", "(\nAdmit\n");
    installation.WriteSettings("FilterBlack.txt", "(\nReject\n");
    // Levels: 3 error (type 1), 1 information (type 4), 0 success (type 0).
    installation.WriteSettings("EventLevel.txt", "3,[z-a]\n3,Severe\n1,Info\n0,Severe|Info\n");
    const std::vector<std::string> markers = {"Admit Severe",      "Admit Info",   "Admit plain",
                                              "Admit Info Severe", "Admit Reject", "Other"};
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["ready"] = manager.WaitReady();
        out["sent"] = true;
        for (const std::string& marker : markers) {
            out["sent"] = out["sent"].get<bool>() && SendMarkedTrap("127.0.0.1", "public", marker);
        }
        out["flushed"] = Flush();
        out["exit"] = manager.Stop();
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    EXPECT_TRUE(result["sent"]);
    EXPECT_TRUE(result["flushed"]);
    EXPECT_EQ(result["exit"], 0);

    const std::vector<json> events = ManagerEvents();
    // Per text: the white "(" (6107); for a text that a white pattern admits, the black "("
    // (6107); for a text that reaches the level list, its "[z-a]" (6108) and the event.
    const std::vector<int> admitted = {6107, 6107, 6108, 2000};
    std::vector<int> expected = {1100};
    for (int i = 0; i < 4; ++i) {
        expected.insert(expected.end(), admitted.begin(), admitted.end());
    }
    expected.insert(expected.end(), {6107, 6107, 6107, 1101});
    EXPECT_EQ(test::EventIds(events), expected);

    std::vector<std::pair<std::string, int>> traps;
    for (const json& event : events) {
        const int id = event["EventID"];
        const std::string text = event["Strings"].empty() ? "" : event["Strings"].at(0);
        if (id == 2000) {
            std::smatch marker;
            std::regex_search(text, marker, std::regex("\"([A-Za-z ]+)\""));
            traps.emplace_back(marker[1].str(), event["EventType"].get<int>());
        } else if (id == 6107) {
            EXPECT_EQ(text.rfind("フィルタリングでエラーが発生しました。\r\n", 0), 0u) << text;
            EXPECT_EQ(event["EventIdentifier"], 0xC00017DBu);
            EXPECT_EQ(event["EventType"], 1);
        } else if (id == 6108) {
            EXPECT_EQ(text.rfind("イベントレベル指定でエラーが発生しました。\r\n", 0), 0u) << text;
            EXPECT_EQ(event["EventIdentifier"], 0xC00017DCu);
            EXPECT_EQ(event["EventType"], 1);
        }
    }
    EXPECT_EQ(traps, (std::vector<std::pair<std::string, int>>{
                         {"Admit Severe", 1},
                         {"Admit Info", 4},
                         {"Admit plain", 2},        // no level pattern matches: warning
                         {"Admit Info Severe", 1},  // the earlier pattern of the file decides
                     }));

    // The two excluded texts, one line each, line ends written as \n.
    const std::vector<std::string> lines = FilterLogLines(installation);
    ASSERT_EQ(lines.size(), 2u);
    const std::regex stamp("\\[[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\] ");
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& line = lines[i];
        ASSERT_GT(line.size(), 22u);
        EXPECT_TRUE(std::regex_match(line.substr(0, 22), stamp)) << line;
        EXPECT_EQ(line.substr(22),
                  "Exact : 127.0.0.1\t  public\t  V2c\\n" +
                      kUpTimeLine.substr(0, kUpTimeLine.size() - 1) +
                      "\\n\t  snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: coldStart { "
                      "1.3.6.1.6.3.1.1.5.1 }\\n\t  sysName.0 { 1.3.6.1.2.1.1.5.0 } = "
                      "STRING: \"" +
                      markers[4 + i] + "\"\\n");
    }
}

TEST(ManagerEndToEndTest, AFilterLogThatCannotBeWrittenIsReported) {
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Exact", "127.0.0.1", "public"}}));
    installation.WriteSettings("FilterBlack.txt", "Reject\n");
    fs::remove_all(installation.LogsDir());
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["ready"] = manager.WaitReady();
        out["sent"] = SendMarkedTrap("127.0.0.1", "public", "Reject me") &&
                      SendMarkedTrap("127.0.0.1", "public", "Keep me");
        out["flushed"] = Flush();
        out["exit"] = manager.Stop();
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    EXPECT_TRUE(result["sent"]);
    EXPECT_TRUE(result["flushed"]);
    EXPECT_EQ(result["exit"], 0);
    const std::vector<json> events = ManagerEvents();
    // Without the logs folder the MIB report cannot be written either (6104, resource 104).
    ASSERT_EQ(test::EventIds(events), (std::vector<int>{1100, 6104, 6107, 2000, 1101}));
    EXPECT_EQ(EventTexts(events, 6104)
                  .at(0)
                  .rfind("MIB解析結果の出力ファイルにアクセスできません。"
                         "\r\n以下の環境設定を確認してください。\n{ ",
                         0),
              0u);
    const std::string failure = EventTexts(events, 6107).at(0);
    EXPECT_EQ(failure.rfind("フィルターログの出力に失敗しました。\r\n", 0), 0u) << failure;
    EXPECT_EQ(events[2]["EventIdentifier"], 0xC00017DBu);
    EXPECT_NE(EventTexts(events, 2000).at(0).find("Keep me"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Stop under load

TEST(ManagerEndToEndTest, AStopUnderLoadWritesAnUnbrokenPrefixOfTheTrapsSent) {
    // Numbered notifications, every fourth an inform: the manager answers an inform when it has
    // read it into its trap queue, so every answered number must be written before the stop ends.
    // The sender keeps at most kWindow notifications ahead of the event log, so the manager keeps
    // up and the socket never overflows: whatever is missing at the end was not read before the
    // stop, which the numbers of the answered informs bound. The stop control comes once
    // kBeforeStop are written, while more are still arriving and queued; sending goes on until
    // the manager has ended.
    constexpr int kWindow = 48;
    constexpr int kBeforeStop = 300;
    constexpr int kLimit = 100000;
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Loader", "127.0.0.1", "public"}}));
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["ready"] = manager.WaitReady();
        CTrapEventCounter written(installation.SysRoot() / "eventlog" / "Application.jsonl");
        test::CNotificationSender sender("127.0.0.1");
        int sent = 0;
        std::int64_t answered = 0;  // the highest number of an answered inform
        bool stopSent = false;
        bool sendFailed = false;
        auto collectAnswers = [&] {
            for (std::int64_t id : sender.TakeResponses()) {
                answered = std::max(answered, id);
            }
        };
        while (out["ready"] && !manager.HasEnded()) {
            collectAnswers();
            const int logged = written.Count();
            if (!stopSent && logged >= kBeforeStop) {
                ::kill(manager.Pid(), SIGTERM);
                stopSent = true;
                out["sentAtStop"] = sent;
                out["writtenAtStop"] = logged;
            }
            if (sent - logged < kWindow && sent < kLimit) {
                ++sent;
                const std::vector<test::VarBind> number = {
                    {kSysName, 's', "seq=" + std::to_string(sent)}};
                const bool ok = sent % 4 == 0
                                    ? sender.SendInform(sent, "public", kUpTime, kColdStart, number)
                                    : sender.SendTrap("public", kUpTime, kColdStart, number);
                // After the stop the manager closes its socket, and sends may be refused.
                sendFailed = sendFailed || (!ok && !stopSent);
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        out["exit"] = manager.Wait();
        collectAnswers();
        out["sent"] = sent;
        out["answered"] = answered;
        out["sendFailed"] = sendFailed;
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    EXPECT_FALSE(result["sendFailed"]);
    EXPECT_EQ(result["exit"], 0);
    ASSERT_TRUE(result.contains("sentAtStop")) << "the manager ended before the stop control";

    const std::vector<json> events = ManagerEvents();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.front()["EventID"], 1100);
    EXPECT_EQ(events.back()["EventID"], 1101);
    std::vector<int> numbers;
    for (const json& event : events) {
        if (event["EventID"] == 2000) {
            const std::string text = event["Strings"].at(0);
            const std::size_t at = text.find("\"seq=");
            numbers.push_back(at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 5));
        }
    }
    // 1, 2, ..., n: nothing lost in between, nothing written twice, and the order kept.
    std::vector<int> prefix(numbers.size());
    std::iota(prefix.begin(), prefix.end(), 1);
    EXPECT_EQ(numbers, prefix);
    const int count = static_cast<int>(numbers.size());
    // Nothing that was read into the queue is lost: every answered inform is written.
    EXPECT_GE(count, result["answered"].get<int>());
    EXPECT_GE(count, result["writtenAtStop"].get<int>());
    EXPECT_LE(count, result["sent"].get<int>());
    std::printf(
        "stop under load: %d of %d written; at the stop %d sent, %d written; highest "
        "answered inform %d\n",
        count, result["sent"].get<int>(), result["sentAtStop"].get<int>(),
        result["writtenAtStop"].get<int>(), result["answered"].get<int>());

    EXPECT_EQ(ReadStatus(installation)["State"], "STOPPED");
    EXPECT_EQ(StatusHistory(installation),
              (std::vector<std::string>{"START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"}));
}

// ---------------------------------------------------------------------------------------------
// Installation, removal and the single instance

bool KeyExists(const wchar_t* path) {
    CRegistry key;
    return key.Open(platform::kHkeyLocalMachine, path) == 0;
}

TEST(ManagerEndToEndTest, InstallAndUninstallSucceedOnceEach) {
    CManagerInstallation installation;
    const fs::path output = installation.OutputFile();
    EXPECT_EQ(RunProgram({ManagerProgram(), "-install"}, output), 0);
    EXPECT_EQ(RunProgram({ManagerProgram(), "/install"}, output), 1);  // the service exists
    EXPECT_EQ(ManagerEventIds(), std::vector<int>{1000});

    CRegistry service;
    ASSERT_EQ(service.Open(platform::kHkeyLocalMachine, kServiceKey), 0u);
    std::wstring imagePath;
    EXPECT_EQ(service.QueryStringValue(L"ImagePath", imagePath), 0u);
    EXPECT_EQ(imagePath,
              L"\"" + platform::LocaleToWide(fs::canonical(ManagerProgram()).string()) + L"\"");
    service.Close();
    CRegistry source;
    ASSERT_EQ(source.Open(platform::kHkeyLocalMachine, kSourceKey), 0u);
    std::wstring messageFile;
    EXPECT_EQ(source.QueryStringValue(L"EventMessageFile", messageFile), 0u);
    EXPECT_EQ(L"\"" + messageFile + L"\"", imagePath);
    source.Close();

    EXPECT_EQ(RunProgram({ManagerProgram(), "-uninstall"}, output), 0);
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kSourceKey));
    EXPECT_EQ(RunProgram({ManagerProgram(), "--uninstall"}, output), 1);  // nothing to remove
    EXPECT_EQ(ManagerEventIds(), (std::vector<int>{1000, 1001}));
    // Install and uninstall print nothing.
    EXPECT_EQ(fs::file_size(output), 0u);
}

TEST(ManagerEndToEndTest, UninstallStopsTheRunningInstance) {
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Router", "127.0.0.1", "public"}}));
    ASSERT_EQ(RunProgram({ManagerProgram(), "-install"}, installation.OutputFile()), 0);
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["ready"] = manager.WaitReady();
        out["uninstall"] = RunProgram({ManagerProgram(), "-uninstall"}, installation.OutputFile());
        out["exit"] = manager.Wait();  // the stop control came from the uninstallation
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    EXPECT_EQ(result["uninstall"], 0);
    EXPECT_EQ(result["exit"], 0);
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kSourceKey));
    // 1001 is written when the stop control has been sent; the manager's 1101 may come before
    // or after it.
    std::vector<int> ids = ManagerEventIds();
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_EQ(std::vector<int>(ids.begin(), ids.begin() + 2), (std::vector<int>{1000, 1100}));
    EXPECT_EQ(std::multiset<int>(ids.begin() + 2, ids.end()), (std::multiset<int>{1001, 1101}));
    EXPECT_EQ(ReadStatus(installation)["State"], "STOPPED");
    EXPECT_EQ(StatusHistory(installation),
              (std::vector<std::string>{"START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"}));
}

TEST(ManagerEndToEndTest, ASecondInstanceEndsWith183AndLeavesTheFirstRunning) {
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Router", "127.0.0.1", "public"}}));
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["pid"] = manager.Pid();
        out["ready"] = manager.WaitReady();
        // 0x800700B7 (ERROR_ALREADY_EXISTS) in the 8 bits of a POSIX exit status.
        out["second"] =
            RunProgram({ManagerProgram()}, installation.OutputFile(), ManagerEnvironment());
        out["statusAfterSecond"] = ReadStatus(installation);
        out["stillAnswers"] = Flush();
        out["exit"] = manager.Stop();
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    EXPECT_EQ(result["second"], 0xB7);
    EXPECT_EQ(result["statusAfterSecond"]["State"], "RUNNING");
    EXPECT_EQ(result["statusAfterSecond"]["ProcessId"], result["pid"]);
    EXPECT_TRUE(result["stillAnswers"]);
    EXPECT_EQ(result["exit"], 0);
    EXPECT_EQ(ManagerEventIds(), (std::vector<int>{1100, 1101}));
    EXPECT_EQ(StatusHistory(installation),
              (std::vector<std::string>{"START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"}));
}

}  // namespace
