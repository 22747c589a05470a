// Fault injection, end to end: the manager program runs on an installation of its own in a private
// network namespace (see ManagerHarness.h) while one thing around it is broken: the network, the
// product server, its settings files, the MIB folder, the event log, the filter log or the
// snmpget tool. For every fault the tests check the event that the system defines for it, that
// the process stays up (or ends its run as its start-up steps say), and that the numbered traps
// sent before and after the fault are all written, in order.
//
// Faults covered by ManagerEndToEndTest and not repeated here: port 162 taken on IPv4 only and on
// both families, an unreachable product server, no InstallDir, an undeletable previous MIB
// report, a MIB module with errors, a filter log folder missing from the start, and the patterns
// "(" and "[z-a]" that do not compile.
#include <sched.h>
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <thread>

#include "platform/Text.h"
#include "product/tests/ProductServerProcess.h"
#include "service/tests/ManagerHarness.h"
#include "tests/support/ScopedLocale.h"

namespace {

using namespace managertest;
using nlohmann::json;

constexpr char kColdStart[] = "1.3.6.1.6.3.1.1.5.1";
constexpr char kSysName[] = "1.3.6.1.2.1.1.5.0";
constexpr char kSysLocation[] = "1.3.6.1.2.1.1.6.0";
constexpr std::uint32_t kUpTime = 4711;

const std::vector<int> kEndsAtStartUp = {1100, 6100, 1101};

// The product server's agent list of most runs: 127.0.0.1 with the community public.
const std::string kRouterSection = AgentSection({{"TRUE", "Router", "127.0.0.1", "public"}});

// The stand-in product server program is found through the build folder.
void FindTestPrograms() {
    ::setenv("VORMA_TEST_BINARY_DIR", VORMA_BINARY_DIR, 0);
}

// Traps `tag`#from .. `tag`#to (the number in sysName.0), sent to the manager at `destination`
// with the community public. `padding` characters of sysLocation.0 make each trap's event that
// much longer.
bool SendNumbered(const std::string& tag, int from, int to,
                  const std::string& destination = "127.0.0.1", std::size_t padding = 0) {
    test::CNotificationSender sender(destination);
    bool sent = sender.IsOpen();
    for (int n = from; n <= to && sent; ++n) {
        std::vector<test::VarBind> binds = {{kSysName, 's', tag + "#" + std::to_string(n)}};
        if (padding > 0) {
            binds.push_back({kSysLocation, 's', std::string(padding, 'p')});
        }
        sent = sender.SendTrap("public", kUpTime, kColdStart, binds);
    }
    return sent;
}

// One trap whose sysName.0 is `mark` (the black list's word "Reject" sends it to the filter log).
bool SendMarked(const std::string& mark) {
    test::CNotificationSender sender("127.0.0.1");
    return sender.IsOpen() &&
           sender.SendTrap("public", kUpTime, kColdStart, {{kSysName, 's', mark}});
}

std::vector<std::string> Numbered(const std::string& tag, int from, int to) {
    std::vector<std::string> marks;
    for (int n = from; n <= to; ++n) {
        marks.push_back(tag + "#" + std::to_string(n));
    }
    return marks;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The marks of the filter log lines, in order.
std::vector<std::string> FilteredMarks(const CManagerInstallation& installation) {
    static const std::regex mark("STRING: \"([A-Za-z0-9-]+#[0-9]+)");
    std::vector<std::string> marks;
    for (const std::string& line : FilterLogLines(installation)) {
        std::smatch found;
        marks.push_back(std::regex_search(line, found, mark) ? found[1].str() : "?");
    }
    return marks;
}

// The shown identifiers without the trap events.
std::vector<int> OtherEventIds(const std::vector<json>& events) {
    std::vector<int> ids;
    for (int id : test::EventIds(events)) {
        if (id != 2000) {
            ids.push_back(id);
        }
    }
    return ids;
}

// The texts of the settings-file reports (6107), as they begin after resource 109's first line.
std::vector<std::string> SettingsReports(const std::vector<json>& events) {
    const std::string head = "設定ファイルの読込みでエラーが発生しました。\r\n";
    std::vector<std::string> reports;
    for (const std::string& text : EventTexts(events, 6107)) {
        if (text.rfind(head, 0) == 0) {
            reports.push_back(text.substr(head.size()));
        }
    }
    return reports;
}

// The usual middle of a run that goes on: ready, traps before, `fault`, traps after, stop.
// `out` gets "ready", "sent", "flushed" and "exit".
void RunAround(CManagerProcess& manager, json& out, const std::function<void(json&)>& fault,
               const std::string& address = "127.0.0.1") {
    out["ready"] = manager.WaitReady(address);
    bool sent = SendNumbered("before", 1, 3, address);
    bool flushed = Flush(address);
    if (fault) {
        fault(out);
    }
    sent = SendNumbered("after", 1, 3, address) && sent;
    flushed = Flush(address) && flushed;
    out["sent"] = sent;
    out["flushed"] = flushed;
    out["exit"] = manager.Stop();
}

void ExpectRanAround(const json& result) {
    ASSERT_TRUE(result["ready"]);
    EXPECT_TRUE(result["sent"]);
    EXPECT_TRUE(result["flushed"]);
    EXPECT_EQ(result["exit"], 0);
}

// ---------------------------------------------------------------------------------------------
// Start-up: the network and the product server

TEST(ManagerFaultTest, StartUpFaultsEndTheRunOrLeaveItGoing) {
    FindTestPrograms();
    enum class Port { kFree, kIpv6Taken };
    struct Case {
        std::string what;
        std::vector<std::string> serverOptions;  // empty: no server, the section read in-process
        std::string section;                     // the SNMP manager section file's bytes
        Port port;
        std::vector<int> events;  // without the trap events; kEndsAtStartUp: no trap is taken
        std::string displayName;  // of the written traps
    };
    std::vector<Case> cases = {
        {"port 162 taken on IPv6 only",
         {},
         kRouterSection,
         Port::kIpv6Taken,
         {1100, 6102, 1101},
         "Router"},
        {"slow product server",
         {"--delay", "Login=700", "--delay", "GetAppConfig=1200"},
         kRouterSection,
         Port::kFree,
         {1100, 1101},
         "Router"},
        {"product server drops the login",
         {"--fail", "Login=-1"},
         kRouterSection,
         Port::kFree,
         kEndsAtStartUp,
         ""},
        {"product server resets the login",
         {"--fail", "Login=reset"},
         kRouterSection,
         Port::kFree,
         kEndsAtStartUp,
         ""},
        // Logging off comes after the agent list has been read: the run goes on.
        {"log-off fault 2",
         {"--fail", "Logoff=2"},
         kRouterSection,
         Port::kFree,
         {1100, 1101},
         "Router"},
        {"log-off fault 22",
         {"--fail", "Logoff=22"},
         kRouterSection,
         Port::kFree,
         {1100, 1101},
         "Router"},
        // Garbage around a valid wildcard entry: invalid UTF-8, NUL bytes, lines without "=" and
        // a 1 MB line.
        {"section file with garbage",
         {},
         std::string("NumberOfElements=1\n\xff\xfe\x00garbage\x01\x02\n=\n==\nAddr\n") +
             std::string(1 << 20, 'Z') + "\n" + std::string("Disp\0Name001=x\n", 15) +
             "IsListen001=TRUE\nDispName001=Any \xe2\x9c\x93\nAddr001=(ALL)\n"
             "CommunityName001=(ALL)\n\x80\x81\x82=\xc3\x28\n",
         Port::kFree,
         {1100, 1101},
         "Any \xe2\x9c\x93"},
        {"section file with a huge element count",
         {},
         "NumberOfElements=2147483647\nIsListen001=TRUE\nDispName001=First\nAddr001=127.0.0.1\n"
         "CommunityName001=public\n",
         Port::kFree,
         {1100, 1101},
         "First"},
        // A folder in the section file's place cannot be read: the server answers with a fault.
        {"section file unreadable", {}, "", Port::kFree, kEndsAtStartUp, ""},
    };
    // Faults 2 and 12 carry the server's fault record; 20 to 25 block the connection. Either way
    // the agent list cannot be read and the run ends with event 6100.
    for (const char* operation : {"Login", "GetAppConfig"}) {
        for (int result : {2, 12, 20, 21, 22, 23, 24, 25}) {
            const std::string fail = std::string(operation) + "=" + std::to_string(result);
            cases.push_back({"fault " + fail,
                             {"--fail", fail},
                             kRouterSection,
                             Port::kFree,
                             kEndsAtStartUp,
                             ""});
        }
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation;
        if (c.what == "section file unreadable") {
            fs::create_directories(installation.ProductConfigDir() / "SNMP_MANAGER.ini");
        } else {
            installation.WriteAgents(c.section);
        }
        const bool runs = c.events != kEndsAtStartUp;
        RUN_MANAGER_SCENARIO(result, [&] {
            json out;
            std::optional<test::CProductServerProcess> server;
            if (!c.serverOptions.empty()) {
                server.emplace(installation.Dir(), c.serverOptions);
                out["server"] = server->Started();
                installation.UseServer(server->Endpoint());
            }
            int portFd = -1;
            if (c.port == Port::kIpv6Taken) {
                portFd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
                int only = 1;
                ::setsockopt(portFd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
                sockaddr_in6 address{};
                address.sin6_family = AF_INET6;
                address.sin6_port = htons(162);
                address.sin6_addr = in6addr_any;
                out["portTaken"] =
                    ::bind(portFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            }
            CManagerProcess manager(installation);
            if (runs) {
                RunAround(manager, out, nullptr);
            } else {
                out["exit"] = manager.Wait();  // the run ends by itself
            }
            if (portFd >= 0) {
                ::close(portFd);
            }
            if (server) {
                server->Stop();
                out["requests"] = server->Lines();
            }
            return out;
        });
        if (!c.serverOptions.empty()) {
            ASSERT_TRUE(result["server"]);
        }
        if (c.port == Port::kIpv6Taken) {
            ASSERT_TRUE(result["portTaken"]);
        }
        // A run in the foreground that ends by a start-up failure exits with a status that
        // systemd names: 69 (UNAVAILABLE) when the product server's connection broke, 6
        // (NOTCONFIGURED) when it answered but the agent list could not be had from it.
        const bool connectionBroke = c.what.find("drops the login") != std::string::npos ||
                                     c.what.find("resets the login") != std::string::npos;
        EXPECT_EQ(result["exit"], runs ? 0 : (connectionBroke ? 69 : 6));
        const std::vector<json> events = ManagerEvents();
        EXPECT_EQ(OtherEventIds(events), c.events);
        if (runs) {
            ExpectRanAround(result);
            EXPECT_EQ(WrittenMarks(events),
                      Join(Numbered("before", 1, 3), Numbered("after", 1, 3)));
            for (const std::string& text : EventTexts(events, 2000)) {
                EXPECT_EQ(text.rfind(c.displayName + " : 127.0.0.1\t  public\t  V2c\n", 0), 0u)
                    << text;
            }
        } else {
            ASSERT_EQ(events.size(), 3u);
            EXPECT_EQ(events[1]["EventIdentifier"], 0xC00017D4u);
            EXPECT_EQ(events[1]["EventType"], 1);
            EXPECT_EQ(StatusHistory(installation),
                      (std::vector<std::string>{"START_PENDING", "RUNNING", "STOPPED"}));
            EXPECT_TRUE(fs::is_empty(installation.SnmpDir() / "Tmp"));
        }
        if (c.port == Port::kIpv6Taken) {
            const std::string text = EventTexts(events, 6102).at(0);
            EXPECT_EQ(text.rfind("IPv6 Port Error( 0x", 0), 0u) << text;
        }
        if (!c.serverOptions.empty() && c.serverOptions[0] == "--fail") {
            // The injected fault was met over the exchange, not short of it.
            const std::string injected = c.serverOptions[1].substr(0, c.serverOptions[1].find('='));
            bool met = false;
            for (const json& line : result["requests"]) {
                met = met || line.get<std::string>().rfind(injected + " result=", 0) == 0;
            }
            EXPECT_TRUE(met) << result["requests"].dump();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Outputs: the event log and the filter log fail while the manager runs

// Runs in the scenario child: a private mount namespace, so that mounts made by the test (and
// seen by the manager it starts) vanish with the child.
std::string EnterPrivateMounts() {
    if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("mount private: ") + std::strerror(errno);
    }
    return {};
}

// Whether a trap event with the mark has been written (in the log, the text's quotes are escaped).
bool EventLogHas(const std::string& mark) {
    return ReadBytes(platform::ApplicationLogFile()).find(mark + "\\\"") != std::string::npos;
}

bool FilterLogHas(const CManagerInstallation& installation, const std::string& mark) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(installation.LogsDir(), ec)) {
        if (entry.path().filename().string().rfind("FilterLog_", 0) == 0 &&
            ReadBytes(entry.path()).find(mark + "\"") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Fills the file system of `path` to its last byte; the file is kept.
bool FillFileSystem(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const std::string block(4096, 'f');
    for (std::size_t size : {block.size(), std::size_t{1}}) {
        while (::write(fd, block.data(), size) > 0) {
        }
    }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

TEST(ManagerFaultTest, OutputFaultsLoseNothingAlreadyAccepted) {
    enum class Fault { kReadOnlyEventLog, kFullEventLog, kFilterLogFolderGone };
    struct Case {
        const char* what;
        Fault fault;
    };
    const Case cases[] = {
        {"event log file read-only", Fault::kReadOnlyEventLog},
        {"event log on a full file system", Fault::kFullEventLog},
        {"filter log folder gone while running", Fault::kFilterLogFolderGone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool eventLogFault = c.fault != Fault::kFilterLogFolderGone;
        CManagerInstallation installation;
        installation.WriteAgents(kRouterSection);
        // Traps marked Reject go to the filter log, the others to the event log. Dispatch takes
        // the traps in order of arrival, so once the last trap sent has reached the output that
        // works, every earlier one has been handled.
        installation.WriteSettings("FilterBlack.txt", "Reject\n");
        const fs::path logDir = installation.SysRoot() / "eventlog";
        const fs::path logFile = logDir / "Application.jsonl";
        fs::create_directories(logDir);
        RUN_MANAGER_SCENARIO(result, [&] {
            json out;
            if (std::string error = EnterPrivateMounts(); !error.empty()) {
                out["setup"] = error;
                return out;
            }
            if (c.fault == Fault::kFullEventLog &&
                ::mount("tmpfs", logDir.c_str(), "tmpfs", 0, "size=256k") != 0) {
                out["setup"] = std::string("mount tmpfs: ") + std::strerror(errno);
                return out;
            }
            CManagerProcess manager(installation);
            const fs::path filler = logDir / "filler";
            const fs::path awayLogs = installation.SnmpDir() / "logs.away";
            out["ready"] = manager.WaitReady();

            bool sent = SendNumbered("before", 1, 3) && SendMarked("Reject#1");
            out["handledBefore"] = WaitUntil(
                [&] { return FilterLogHas(installation, "Reject#1") && EventLogHas("before#3"); });

            switch (c.fault) {
                case Fault::kReadOnlyEventLog:
                    out["faultMade"] =
                        ::mount(logFile.c_str(), logFile.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                        ::mount(nullptr, logFile.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                                nullptr) == 0;
                    break;
                case Fault::kFullEventLog:
                    out["faultMade"] = FillFileSystem(filler);
                    break;
                case Fault::kFilterLogFolderGone:
                    fs::rename(installation.LogsDir(), awayLogs);
                    out["faultMade"] = !fs::exists(installation.LogsDir());
                    break;
            }
            // The fault's traps, the last one to the output that still works.
            if (eventLogFault) {
                // Each of their events is longer than the page that the full file system may
                // still have free at the end of the log.
                sent = SendNumbered("during", 1, 3, "127.0.0.1", 1500) && SendMarked("Reject#4") &&
                       sent;
                out["handledDuring"] =
                    WaitUntil([&] { return FilterLogHas(installation, "Reject#4"); });
            } else {
                sent = SendMarked("Reject#4") && SendNumbered("during", 1, 3) && sent;
                out["handledDuring"] = WaitUntil([&] { return EventLogHas("during#3"); });
            }
            out["upDuring"] = !manager.HasEnded() && Flush();

            switch (c.fault) {
                case Fault::kReadOnlyEventLog:
                    ::umount2(logFile.c_str(), 0);
                    break;
                case Fault::kFullEventLog:
                    fs::remove(filler);
                    break;
                case Fault::kFilterLogFolderGone:
                    fs::rename(awayLogs, installation.LogsDir());
                    break;
            }
            sent = SendNumbered("after", 1, 3) && SendMarked("Reject#5") && sent;
            out["sent"] = sent;
            out["flushed"] = Flush();
            out["exit"] = manager.Stop();
            if (c.fault == Fault::kFullEventLog) {
                // The tmpfs goes with the child: keep what it holds where the test reads it.
                const std::string log = ReadBytes(logFile);
                ::umount2(logDir.c_str(), MNT_DETACH);
                std::ofstream(logFile, std::ios::binary) << log;
            }
            return out;
        });
        ASSERT_FALSE(result.contains("setup")) << result["setup"].get<std::string>();
        ExpectRanAround(result);
        EXPECT_TRUE(result["handledBefore"]);
        EXPECT_TRUE(result["faultMade"]);
        EXPECT_TRUE(result["handledDuring"]);
        EXPECT_TRUE(result["upDuring"]);
        // Every line of the log is a whole event (ReadEventLog fails the test on a broken one).
        const std::vector<json> events = ManagerEvents();
        if (c.fault == Fault::kReadOnlyEventLog) {
            // The manager keeps the log open from its first event: a read-only mount made over the
            // file afterwards does not reach the open file, so nothing is lost.
            EXPECT_EQ(WrittenMarks(events),
                      Join(Join(Numbered("before", 1, 3), Numbered("during", 1, 3)),
                           Numbered("after", 1, 3)));
            EXPECT_EQ(OtherEventIds(events), (std::vector<int>{1100, 1101}));
            EXPECT_EQ(FilteredMarks(installation),
                      (std::vector<std::string>{"Reject#1", "Reject#4", "Reject#5"}));
        } else if (eventLogFault) {
            // What came while the log could not take it is lost, as the system has it; what came
            // before and after is all there, in order, between the start and the stop.
            EXPECT_EQ(WrittenMarks(events),
                      Join(Numbered("before", 1, 3), Numbered("after", 1, 3)));
            EXPECT_EQ(OtherEventIds(events), (std::vector<int>{1100, 1101}));
            EXPECT_EQ(FilteredMarks(installation),
                      (std::vector<std::string>{"Reject#1", "Reject#4", "Reject#5"}));
        } else {
            // The event log took every other trap; the rejected trap of the fault is reported with
            // the writer's error and the trap's text.
            EXPECT_EQ(WrittenMarks(events),
                      Join(Join(Numbered("before", 1, 3), Numbered("during", 1, 3)),
                           Numbered("after", 1, 3)));
            EXPECT_EQ(OtherEventIds(events), (std::vector<int>{1100, 6107, 1101}));
            const std::vector<std::string> reports = EventTexts(events, 6107);
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].rfind("フィルターログの出力に失敗しました。\r\n", 0), 0u)
                << reports[0];
            EXPECT_NE(reports[0].find("Reject#4"), std::string::npos) << reports[0];
            EXPECT_EQ(FilteredMarks(installation),
                      (std::vector<std::string>{"Reject#1", "Reject#5"}));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Settings files with bytes the locale cannot read, NUL bytes and 1 MB lines

// A report's text shortened for comparison: its beginning and its length.
std::string Summary(const std::string& text) {
    std::string head = text.substr(0, 90);
    for (char& c : head) {
        if (c == '\0') {
            c = '@';
        }
    }
    return head + " (" + std::to_string(text.size()) + " bytes)";
}

TEST(ManagerFaultTest, SettingsFilesWithBadBytesAreReportedLineByLine) {
    struct Case {
        const char* locale;
        std::string bad1;  // bytes that the locale's encoding cannot read
        std::string bad2;
    };
    // UTF-8: a byte that starts no sequence, a lead byte without its continuation, a sequence cut
    // short. Code page 932: a lead byte with an invalid trail byte, bytes that are no character.
    const Case cases[] = {
        {"C.UTF-8", "\xff\xfe",
         "\xc3"
         "A\xe2\x82"},
        {"ja_JP.SJIS", "\x81\x7f", "\xfd\xfe\xff"},
    };
    const std::string mega(1 << 20, 'M');
    const std::string nul("a\0b", 3);
    const std::string usmValid =
        std::string("-e:") + kV3Engine + " -u:v3user -a:SHA -AP:authpass123 -x:AES -XP:privpass123";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        CManagerInstallation installation;
        installation.WriteAgents(kRouterSection);
        struct File {
            const char* name;
            std::vector<std::string> lines;
        };
        const std::vector<File> files = {
            // The last line of each list is the one that works.
            {"EventLevel.txt",
             {c.bad1 + " no comma", mega, "3," + mega, "3," + nul, c.bad2 + "," + c.bad1,
              "1,#[0-9]"}},
            {"FilterWhite.txt", {c.bad1 + "Admit", mega, nul, "#[0-9]"}},
            {"FilterBlack.txt", {c.bad2, mega, nul, "Reject"}},
            {"SnmpV3Setting.txt",
             {mega, c.bad1 + " -u:" + c.bad2,
              // A NUL byte is no reserved character: the line is valid.
              std::string("-e:") + kV3Engine + " -u:x" + nul,
              // Pass phrases that do not decipher read as empty.
              std::string("-e:") + kV3Engine + " -u:undeciphered -a:SHA -A:@@@@ -x:AES -X:####",
              // Hexadecimal only in length: the library refuses the user, nothing else happens.
              "-e:zzzzzzzzzzzz -u:badengine -a:SHA -AP:authpass123", usmValid}},
            {"GetOIDList.txt",
             {"-v:2c -agent:a -oid:" + mega, c.bad1 + " -v:2c", "-v:2c" + nul + " -agent:a -oid:o",
              "-v:1 -c:" + c.bad2 + "% -agent:a -oid:o"}},
        };
        for (const File& file : files) {
            std::string text;
            for (const std::string& line : file.lines) {
                text += line + "\n";
            }
            installation.WriteSettings(file.name, text);
        }

        RUN_MANAGER_SCENARIO(result, [&] {
            CManagerProcess manager(installation, {{"LANG", c.locale}, {"LC_ALL", c.locale}});
            json out;
            RunAround(manager, out, [&](json& o) {
                o["v3"] =
                    SendV3Trap(installation, "127.0.0.1", "v3user", "v3trap#1") == 0 && Flush();
                o["rejected"] = SendMarked("Reject#1") && Flush();
            });
            return out;
        });
        ExpectRanAround(result);
        EXPECT_TRUE(result["v3"]);
        EXPECT_TRUE(result["rejected"]);

        // The reports, as the manager reads the lines in the locale's encoding.
        std::vector<std::string> expected;
        {
            test::ScopedLocale locale(c.locale);
            auto read = [](const std::string& bytes) {
                return platform::WideToUtf8(platform::LocaleToWide(bytes));
            };
            auto report = [&](const std::string& inner, const std::string& line) {
                expected.push_back(Summary(inner + read(line)));
            };
            const std::string levelInvalid = "イベントレベル指定の正規表現が不正です。\r\n";
            report(levelInvalid, c.bad1 + " no comma");
            report(levelInvalid, mega);
            report("イベントレベル指定の正規表現が最大長をオーバーしています。\r\n", mega);
            report("正規表現が最大長をオーバーしています。\r\n", mega);  // white
            report("正規表現が最大長をオーバーしています。\r\n", mega);  // black
            const std::string usmInvalid = "SNMPv3認証情報指定が不正です。\r\n";
            report(usmInvalid, mega);
            report(usmInvalid, c.bad1 + " -u:" + c.bad2);
            report(usmInvalid, std::string("-e:") + kV3Engine +
                                   " -u:undeciphered -a:SHA -A:@@@@ -x:AES -X:####");
            report("SNMP GetのOID指定が最大長をオーバーしています。\r\n",
                   "-v:2c -agent:a -oid:" + mega);
            report("SNMP Getのエージェント指定が不正です。\r\n", c.bad1 + " -v:2c");
            report("SNMP Getのバージョン指定が不正です。\r\n", "-v:2c" + nul + " -agent:a -oid:o");
            report("SNMP Getのコミュニティ名で使用できない文字が含まれています。\r\n",
                   "-v:1 -c:" + c.bad2 + "% -agent:a -oid:o");
        }
        const std::vector<json> events = ManagerEvents();
        std::vector<std::string> reports;
        for (const std::string& text : SettingsReports(events)) {
            reports.push_back(Summary(text));
        }
        // The Get pass reads its list beside the start-up: compare without the order.
        std::sort(expected.begin(), expected.end());
        std::sort(reports.begin(), reports.end());
        EXPECT_EQ(reports, expected);
        EXPECT_EQ(EventTexts(events, 6107).size(), expected.size()) << "no other 6107";

        // The working lines of every file still apply: the level of the numbered traps, the
        // SNMPv3 user, the black list.
        EXPECT_EQ(WrittenMarks(events),
                  Join(Join(Numbered("before", 1, 3), {"v3trap#1"}), Numbered("after", 1, 3)));
        for (const json& event : events) {
            if (event["EventID"] == 2000) {
                EXPECT_EQ(event["EventType"], 4);
            }
        }
        const std::vector<std::string> v3 = EventTexts(events, 2000);
        EXPECT_TRUE(std::any_of(v3.begin(), v3.end(), [](const std::string& text) {
            return text.rfind("127.0.0.1\t  v3user\t  V3\n", 0) == 0;
        }));
        EXPECT_EQ(FilteredMarks(installation), std::vector<std::string>{"Reject#1"});
        EXPECT_EQ(OtherEventIds(events).front(), 1100);
        EXPECT_EQ(OtherEventIds(events).back(), 1101);
    }
}

// ---------------------------------------------------------------------------------------------
// The MIB folder

TEST(ManagerFaultTest, AMissingOrBrokenMibFolderLeavesTheRunGoing) {
    // The report of a MIB folder whose modules have errors (resource 105).
    const std::string errorsFound =
        "MIB解析にてエラーを検出しました。\r\n"
        "詳細は以下のMIB解析結果の出力ファイルを確認してください。\n{ ";
    struct Case {
        const char* what;
        std::function<void(const fs::path& mibs)> prepare;
        std::vector<int> events;  // without the trap events
    };
    auto write = [](const fs::path& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    };
    const Case cases[] = {
        // Net-SNMP reads no module and reports nothing: the MIB report stays empty, so there is no
        // event, and traps are written with numeric names.
        {"no MIB folder", [](const fs::path& mibs) { fs::remove_all(mibs); }, {1100, 1101}},
        {"a file in the MIB folder's place",
         [&](const fs::path& mibs) {
             fs::remove_all(mibs);
             write(mibs, "not a folder\n");
         },
         {1100, 1101}},
        // Random bytes, NUL bytes, modules importing each other, a string that never ends, a 1 MB
        // line and 100,000 nested braces: reported as MIB errors.
        {"modules of garbage",
         [&](const fs::path& mibs) {
             std::string noise;
             std::uint32_t x = 12345;
             for (int i = 0; i < 300000; ++i) {
                 x = x * 1103515245u + 12345u;
                 noise.push_back(static_cast<char>(x >> 24));
             }
             write(mibs / "NOISE.txt", noise);
             write(mibs / "NUL-MIB.txt",
                   std::string("NUL-MIB DEFINITIONS ::= BEGIN\0\0\0END\n", 37));
             write(mibs / "LOOP-A-MIB.txt",
                   "LOOP-A-MIB DEFINITIONS ::= BEGIN\nIMPORTS b FROM LOOP-B-MIB;\n"
                   "a OBJECT IDENTIFIER ::= { b 1 }\nEND\n");
             write(mibs / "LOOP-B-MIB.txt",
                   "LOOP-B-MIB DEFINITIONS ::= BEGIN\nIMPORTS a FROM LOOP-A-MIB;\n"
                   "b OBJECT IDENTIFIER ::= { a 1 }\nEND\n");
             write(mibs / "OPEN-MIB.txt", "OPEN-MIB DEFINITIONS ::= BEGIN\n-- \"unterminated\n\"" +
                                              std::string(1 << 20, 'x'));
             write(mibs / "DEEP-MIB.txt",
                   "DEEP-MIB DEFINITIONS ::= BEGIN\nd OBJECT IDENTIFIER ::= " +
                       std::string(100000, '{') + "\nEND\n");
         },
         {1100, 6104, 1101}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation;
        installation.WriteAgents(kRouterSection);
        c.prepare(installation.SnmpDir() / "Mibs");
        RUN_MANAGER_SCENARIO(result, [&] {
            CManagerProcess manager(installation);
            json out;
            RunAround(manager, out, nullptr);
            return out;
        });
        ExpectRanAround(result);
        const std::vector<json> events = ManagerEvents();
        EXPECT_EQ(OtherEventIds(events), c.events);
        if (!EventTexts(events, 6104).empty()) {
            EXPECT_EQ(EventTexts(events, 6104).at(0),
                      errorsFound + installation.MibReport().string() + " }");
        }
        EXPECT_EQ(WrittenMarks(events), Join(Numbered("before", 1, 3), Numbered("after", 1, 3)));
    }
}

// ---------------------------------------------------------------------------------------------
// The snmpget tool of the Get pass

TEST(ManagerFaultTest, SnmpgetFaultsAreReportedAndTheStopWaitsForARunningTool) {
    struct Case {
        const char* what;
        bool installTool;
        std::vector<std::string> failures;  // the texts of the 6106 events, in order
    };
    const Case cases[] = {
        {"snmpget missing",
         false,
         {"プロセスの生成に失敗しました。[0x00000002]",
          "プロセスの生成に失敗しました。[0x00000002]",
          "プロセスの生成に失敗しました。[0x00000002]"}},
        // The first request fails; the second hangs while the stop is requested. The manager
        // never ends the tool: the stop waits until the tool ends by itself, reports its run,
        // and the third request is not asked.
        {"snmpget failing, then hanging while a stop is requested",
         true,
         {"snmpgetの実行に失敗しました。[1]\r\nTimeout: No Response from 127.0.0.1.\n",
          "snmpgetの実行に失敗しました。[2]\r\nhanging\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation;
        installation.WriteAgents(kRouterSection);
        installation.WriteSettings("GetOIDList.txt",
                                   "-v:2c -c:public -agent:127.0.0.1 -oid:fail.0\n"
                                   "-v:2c -c:public -agent:127.0.0.1 -oid:hang.0\n"
                                   "-v:2c -c:public -agent:127.0.0.1 -oid:never.0\n");
        const fs::path hanging = installation.SysRoot() / "hanging";
        const fs::path release = installation.SysRoot() / "release";
        const fs::path asked = installation.SysRoot() / "asked";
        if (c.installTool) {
            const fs::path tool = installation.Dir() / "bin" / "snmpget";
            fs::create_directories(tool.parent_path());
            std::ofstream(tool) << "#!/bin/sh\n"
                                   "for last; do :; done\n"
                                   "echo \"$last\" >> '"
                                << asked.string()
                                << "'\n"
                                   "case \"$last\" in\n"
                                   "fail.0) echo 'Timeout: No Response from 127.0.0.1.' >&2; "
                                   "exit 1;;\n"
                                   "hang.0) echo hanging; echo $$ > '"
                                << hanging.string() << "'; while [ ! -e '" << release.string()
                                << "' ]; do sleep 0.05; done; exit 2;;\n"
                                   "esac\n";
            fs::permissions(tool, fs::perms::owner_all);
        }
        RUN_MANAGER_SCENARIO(result, [&] {
            CManagerProcess manager(installation);
            json out;
            // Once the stop has been requested and the manager is still waiting for the tool,
            // the tool is let go.
            std::thread releaser;
            bool stopPending = false;
            bool heldWhileRunning = false;
            RunAround(manager, out, [&](json& o) {
                if (c.installTool) {
                    o["toolHangs"] = WaitUntil([&] { return !ReadBytes(hanging).empty(); });
                    releaser = std::thread([&] {
                        stopPending = WaitUntil([&] {
                            const std::vector<std::string> states = StatusHistory(installation);
                            return !states.empty() && states.back() == "STOP_PENDING";
                        });
                        std::this_thread::sleep_for(std::chrono::milliseconds(300));
                        const std::vector<std::string> states = StatusHistory(installation);
                        heldWhileRunning =
                            !states.empty() && states.back() == "STOP_PENDING" &&
                            ReadBytes(platform::ApplicationLogFile()).find("\"EventID\":1101") ==
                                std::string::npos;
                        std::ofstream(release) << "go\n";
                    });
                } else {
                    // The stop comes after the pass, which would leave later requests unasked.
                    o["passDone"] = WaitUntil([&] {
                        const std::string log = ReadBytes(platform::ApplicationLogFile());
                        std::size_t count = 0;
                        for (std::size_t at = log.find("\"EventID\":6106"); at != std::string::npos;
                             at = log.find("\"EventID\":6106", at + 1)) {
                            ++count;
                        }
                        return count == c.failures.size();
                    });
                }
            });
            if (releaser.joinable()) {
                releaser.join();
            }
            if (c.installTool) {
                out["asked"] = ReadBytes(asked);
                out["stopPending"] = stopPending;
                out["heldWhileRunning"] = heldWhileRunning;
            }
            return out;
        });
        ExpectRanAround(result);
        const std::vector<json> events = ManagerEvents();
        EXPECT_EQ(WrittenMarks(events), Join(Numbered("before", 1, 3), Numbered("after", 1, 3)));
        std::vector<int> expected = {1100};
        expected.insert(expected.end(), c.failures.size(), 6106);
        expected.push_back(1101);
        EXPECT_EQ(OtherEventIds(events), expected);
        EXPECT_EQ(EventTexts(events, 6106), c.failures);
        for (const json& event : events) {
            if (event["EventID"] == 6106) {
                EXPECT_EQ(event["EventIdentifier"], 0xC00017DAu);
                EXPECT_EQ(event["EventType"], 1);
            }
        }
        if (!c.installTool) {
            EXPECT_TRUE(result["passDone"]);
        }
        if (c.installTool) {
            EXPECT_TRUE(result["toolHangs"]);
            EXPECT_TRUE(result["stopPending"]);
            EXPECT_TRUE(result["heldWhileRunning"]);
            EXPECT_EQ(result["asked"], "fail.0\nhang.0\n");
        }
        EXPECT_EQ(
            StatusHistory(installation),
            (std::vector<std::string>{"START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"}));
    }
}

// ---------------------------------------------------------------------------------------------
// Patterns that are invalid or reach the matcher's limits on long texts

TEST(ManagerFaultTest, PatternsAtTheMatchersLimitsAreReportedWithoutACrash) {
    CManagerInstallation installation;
    installation.WriteAgents(kRouterSection);
    // A repetition whose bounds are reversed cannot be compiled: reported for every text.
    installation.WriteSettings("FilterWhite.txt", "a{2,1}\n#[0-9]\n");
    // On a text of tens of thousands of characters, the backtracking search of these patterns
    // recursed once per character and overflowed the dispatch thread's stack.
    installation.WriteSettings("FilterBlack.txt", "[^Z]*Z\n(.|\\n)*NeverThere\n");
    // A back-reference keeps a pattern to the backtracking search. A plain one searches the long
    // text (on a thread with a large stack) and does not match; one whose counted repetition may
    // take each character through hundreds of states is limited to a few thousand characters,
    // which the long text exceeds.
    installation.WriteSettings("EventLevel.txt",
                               "3,(a)\\1\n3,((a)\\2){0,40}NeverThere\n1,#[0-9]\n");
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        RunAround(manager, out, [&](json& o) {
            // 25 values of 1,900 characters: a trap text of about 50,000 characters.
            std::vector<test::VarBind> binds = {{kSysName, 's', "long#1"}};
            for (int i = 0; i < 25; ++i) {
                binds.push_back({kSysLocation, 's', std::string(1900, 'p')});
            }
            test::CNotificationSender sender("127.0.0.1");
            o["long"] = sender.SendTrap("public", kUpTime, kColdStart, binds) && Flush();
        });
        return out;
    });
    ExpectRanAround(result);
    EXPECT_TRUE(result["long"]);
    const std::vector<json> events = ManagerEvents();
    EXPECT_EQ(WrittenMarks(events),
              Join(Join(Numbered("before", 1, 3), {"long#1"}), Numbered("after", 1, 3)));
    // Per text: the white pattern's error, then the event; the long text also meets the
    // back-reference's limit in the level list.
    std::vector<int> expected = {1100};
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), {6107, 2000});
    }
    expected.insert(expected.end(), {6107, 6108, 2000});
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), {6107, 2000});
    }
    expected.push_back(1101);
    EXPECT_EQ(test::EventIds(events), expected);
    for (const json& event : events) {
        const int id = event["EventID"];
        const std::string text = event["Strings"].empty() ? "" : event["Strings"].at(0);
        if (id == 2000) {
            EXPECT_EQ(event["EventType"], 4);  // the level pattern after the failing one
        } else if (id == 6107) {
            EXPECT_EQ(text.rfind("フィルタリングでエラーが発生しました。\r\n", 0), 0u) << text;
        } else if (id == 6108) {
            const std::string head = "イベントレベル指定でエラーが発生しました。\r\n";
            EXPECT_EQ(text.rfind(head, 0), 0u) << text;
            EXPECT_GT(text.size(), head.size()) << "the matcher's description";
            EXPECT_EQ(event["EventIdentifier"], 0xC00017DCu);
        }
    }
    EXPECT_TRUE(FilterLogLines(installation).empty());
}

}  // namespace
