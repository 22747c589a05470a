// The manager's life on a host, end to end: stops and other signals at any moment of the run, the
// stop control of the uninstallation against stale status files, what a child process of the Get
// pass inherits, and a restart after the manager was killed. Each run of the manager is a process
// on an installation of its own in a private network namespace (see ManagerHarness.h).
#include <signal.h>

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <thread>

#include "platform/EventLog.h"
#include "service/tests/ManagerHarness.h"

namespace {

using namespace managertest;
using nlohmann::json;

constexpr char kColdStart[] = "1.3.6.1.6.3.1.1.5.1";
constexpr char kSysName[] = "1.3.6.1.2.1.1.5.0";
const std::string kRouterSection = AgentSection({{"TRUE", "Router", "127.0.0.1", "public"}});

// How many events with the shown identifier `id` the Application log holds.
std::size_t CountEvents(int id) {
    const std::string log = ReadBytes(platform::ApplicationLogFile());
    const std::string key = "\"EventID\":" + std::to_string(id) + ",";
    std::size_t count = 0;
    for (std::size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        ++count;
    }
    return count;
}

bool IsAlive(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

// Whether the main thread of `pid` blocks SIGTERM: the program's first step is done.
bool BlocksStopSignal(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("SigBlk:", 0) == 0) {
            const unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
            return ((mask >> (SIGTERM - 1)) & 1) != 0;
        }
    }
    return false;
}

// Traps `tag`#1 .. `tag`#count (the number in sysName.0) from 127.0.0.1, community public.
bool SendNumbered(const std::string& tag, int count) {
    test::CNotificationSender sender("127.0.0.1");
    bool sent = sender.IsOpen();
    for (int n = 1; n <= count && sent; ++n) {
        sent = sender.SendTrap("public", 4711, kColdStart,
                               {{kSysName, 's', tag + "#" + std::to_string(n)}});
    }
    return sent;
}

std::vector<std::string> Numbered(const std::string& tag, int count) {
    std::vector<std::string> marks;
    for (int n = 1; n <= count; ++n) {
        marks.push_back(tag + "#" + std::to_string(n));
    }
    return marks;
}

// A stand-in snmpget in the installation's bin folder: `body` is a shell `case` on the last
// argument (the OID).
void InstallTool(const CManagerInstallation& installation, const std::string& body) {
    const fs::path tool = installation.Dir() / "bin" / "snmpget";
    fs::create_directories(tool.parent_path());
    std::ofstream(tool) << "#!/bin/sh\nfor last; do :; done\ncase \"$last\" in\n"
                        << body << "esac\n";
    fs::permissions(tool, fs::perms::owner_all);
}

// ---------------------------------------------------------------------------------------------
// Stops

// A stop at any moment of the start-up ends the run: starts of the real program with a stop
// control (any of its signals, sent one to three times) at a random delay after the program's
// first step, up to past the start of the main loop. Every run ends with exit status 0, the
// status STOPPED and either no event (the stop came before the run began) or 1100 and 1101.
TEST(ManagerLifecycleTest, AStopAtAnyMomentOfTheStartUpEndsTheRun) {
    constexpr int kRuns = 30;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    CManagerInstallation installation;
    installation.WriteAgents(kRouterSection);
    RUN_MANAGER_SCENARIO(result, [&] {
        std::mt19937 random(seed);
        const int signals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPWR};
        // Delays in microseconds: a third within the first 3 ms, a third within 60 ms, the rest
        // up to 2.5 s (the main loop begins on the whole second after the start-up).
        const long long limits[] = {3'000, 60'000, 2'500'000};
        json runs = json::array();
        for (int run = 0; run < kRuns; ++run) {
            fs::remove(installation.HistoryFile());
            fs::remove(installation.StatusFile());
            const std::size_t eventsBefore = ManagerEvents().size();
            const long long delay =
                std::uniform_int_distribution<long long>(0, limits[random() % 3])(random);
            const int signal = signals[random() % 5];
            const int repeats = 1 + static_cast<int>(random() % 3);

            CManagerProcess manager(installation);
            json out;
            out["delay_us"] = delay;
            out["signal"] = signal;
            out["repeats"] = repeats;
            out["held"] = WaitUntil([&] { return BlocksStopSignal(manager.Pid()); });
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            for (int i = 0; i < repeats; ++i) {
                ::kill(manager.Pid(), signal);
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 20'000));
            }
            out["exit"] = manager.Wait();
            out["alive"] = IsAlive(manager.Pid());
            const std::vector<json> events = ManagerEvents();
            out["events"] = test::EventIds(
                std::vector<json>(events.begin() + static_cast<long>(eventsBefore), events.end()));
            out["history"] = StatusHistory(installation);
            out["status"] = ReadStatus(installation);
            out["pid"] = manager.Pid();
            runs.push_back(out);
        }
        return json{{"runs", runs}};
    });
    int beforeTheRun = 0;
    for (const json& run : result["runs"]) {
        SCOPED_TRACE(run.dump());
        ASSERT_TRUE(run["held"]);
        EXPECT_EQ(run["exit"], 0);
        const std::vector<int> events = run["events"];
        const std::vector<std::string> history = run["history"];
        if (events.empty()) {
            ++beforeTheRun;
        } else {
            EXPECT_EQ(events, (std::vector<int>{1100, 1101}));
        }
        EXPECT_EQ(run["status"]["State"], "STOPPED");
        EXPECT_EQ(run["status"]["ProcessId"], run["pid"]);
        // One STOP_PENDING for all the repeated stops, then STOPPED and nothing after it; no
        // RUNNING after the stop, and none at all when no run began.
        const auto stopPending = std::find(history.begin(), history.end(), "STOP_PENDING");
        ASSERT_NE(stopPending, history.end());
        EXPECT_EQ(std::vector<std::string>(stopPending, history.end()),
                  (std::vector<std::string>{"STOP_PENDING", "STOPPED"}));
        EXPECT_EQ(history.front(), "START_PENDING");
        const bool reportedRunning =
            std::find(history.begin(), stopPending, "RUNNING") != stopPending;
        if (events.empty()) {
            EXPECT_FALSE(reportedRunning);
        }
    }
    std::cout << beforeTheRun << " of " << kRuns << " stops came before the run began\n";
}

// Signals that a service may receive from its manager, sent while a burst of traps is still being
// written: SIGHUP and SIGQUIT stop the run after every queued trap is written (a reload is a stop
// and a start), SIGUSR1 and SIGUSR2 change nothing.
TEST(ManagerLifecycleTest, SignalsDuringABurstNeverLoseAQueuedTrap) {
    struct Case {
        const char* what;
        int signal;
        bool stops;
    };
    const Case cases[] = {
        {"SIGHUP", SIGHUP, true},
        {"SIGQUIT", SIGQUIT, true},
        {"SIGUSR1", SIGUSR1, false},
        {"SIGUSR2", SIGUSR2, false},
    };
    constexpr int kBurst = 3000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CManagerInstallation installation;
        installation.WriteAgents(kRouterSection);
        RUN_MANAGER_SCENARIO(result, [&] {
            CManagerProcess manager(installation);
            json out;
            out["ready"] = manager.WaitReady();
            out["sent"] = SendNumbered("burst", kBurst);
            out["flushed"] = Flush();  // every trap of the burst is in the queue
            CTrapEventCounter counter(platform::ApplicationLogFile());
            out["writtenAtSignal"] = counter.Count();
            ::kill(manager.Pid(), c.signal);
            if (!c.stops) {
                out["sentAfter"] = SendNumbered("after", 3);
                out["flushedAfter"] = Flush();
                out["runningAfter"] = !manager.HasEnded();
                ::kill(manager.Pid(), SIGTERM);
            }
            out["exit"] = manager.Wait();
            return out;
        });
        ASSERT_TRUE(result["ready"]);
        ASSERT_TRUE(result["sent"]);
        ASSERT_TRUE(result["flushed"]);
        std::cout << c.what << ": " << result["writtenAtSignal"] << " of " << kBurst
                  << " traps written when the signal was sent\n";
        EXPECT_EQ(result["exit"], 0);
        const std::vector<json> events = ManagerEvents();
        std::vector<std::string> expected = Numbered("burst", kBurst);
        if (!c.stops) {
            EXPECT_TRUE(result["sentAfter"]);
            EXPECT_TRUE(result["flushedAfter"]);
            EXPECT_TRUE(result["runningAfter"]);
            const std::vector<std::string> after = Numbered("after", 3);
            expected.insert(expected.end(), after.begin(), after.end());
        }
        EXPECT_EQ(WrittenMarks(events), expected);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.front()["EventID"], 1100);
        EXPECT_EQ(events.back()["EventID"], 1101);
        EXPECT_EQ(ReadStatus(installation)["State"], "STOPPED");
        EXPECT_EQ(
            StatusHistory(installation),
            (std::vector<std::string>{"START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"}));
    }
}

// ---------------------------------------------------------------------------------------------
// The uninstallation's stop control

// After a crash the status file still says RUNNING with a process number that may now belong to
// anything: the uninstallation must not signal it, nor a number that only its low 32 bits match.
TEST(ManagerLifecycleTest, UninstallLeavesTheProcessOfAStaleStatusFileAlone) {
    CManagerInstallation installation;
    const pid_t bystander = Spawn({"/bin/sleep", "60"}, installation.OutputFile());
    ASSERT_GT(bystander, 0);
    for (std::int64_t number : {std::int64_t{bystander}, (std::int64_t{1} << 32) + bystander}) {
        SCOPED_TRACE(number);
        ASSERT_EQ(RunProgram({ManagerProgram(), "-install"}, installation.OutputFile()), 0);
        fs::create_directories(installation.StatusFile().parent_path());
        std::ofstream(installation.StatusFile()) << json{{"ServiceName", "VORMASNMPManageService"},
                                                         {"CurrentState", 4},
                                                         {"State", "RUNNING"},
                                                         {"ProcessId", number}};
        EXPECT_EQ(RunProgram({ManagerProgram(), "-uninstall"}, installation.OutputFile()), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        int status = 0;
        EXPECT_EQ(::waitpid(bystander, &status, WNOHANG), 0)
            << "the bystander ended with " << DecodeStatus(status);
    }
    ::kill(bystander, SIGKILL);
    ::waitpid(bystander, nullptr, 0);
}

// ---------------------------------------------------------------------------------------------
// Child processes

// The Get pass's first request waits until the test has seen the manager listen on both families,
// so that the later requests start while its sockets are open.
constexpr char kWaitForGo[] =
    "first.0) while [ ! -e \"$VORMA_TEST_GO\" ]; do sleep 0.02; done; "
    "echo first;;\n";

// What a child of the manager holds is only its standard input, output and error: nothing of the
// manager (UDP 162 sockets, the event log, the guard, the run lock, the status history). The
// stand-in lists the descriptors of the shell that it becomes and fails, so that the whole listing
// is the text of event 6106.
TEST(ManagerLifecycleTest, AChildOfTheGetPassHoldsNoDescriptorOfTheManager) {
    CManagerInstallation installation;
    installation.WriteAgents(kRouterSection);
    installation.WriteSettings("GetOIDList.txt",
                               "-v:2c -c:public -agent:127.0.0.1 -oid:first.0\n"
                               "-v:2c -c:public -agent:127.0.0.1 -oid:fds.0\n");
    InstallTool(installation,
                std::string(kWaitForGo) + "fds.0) exec sh -c 'ls -l /proc/$$/fd/; exit 1';;\n");
    const fs::path go = installation.SysRoot() / "go";
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation, {{"VORMA_TEST_GO", go.string()}});
        json out;
        out["ready"] = manager.WaitReady("127.0.0.1") && manager.WaitReady("::1");
        out["managerDescriptors"] = OpenDescriptorCount(manager.Pid());
        std::ofstream(go) << "go\n";
        out["answered"] = WaitUntil([] { return CountEvents(6106) == 1; });
        out["exit"] = manager.Stop();
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    ASSERT_TRUE(result["answered"]);
    EXPECT_EQ(result["exit"], 0);
    // The manager itself holds far more than three (its sockets, the event log, the guard).
    EXPECT_GT(result["managerDescriptors"], 6);
    const std::vector<std::string> listings = EventTexts(ManagerEvents(), 6106);
    ASSERT_EQ(listings.size(), 1u);
    const std::string& listing = listings[0];
    // "lrwx------ 1 root root 64 Dec  8 22:50 1 -> pipe:[4711]"
    static const std::regex entry(R"(\s(\d+) -> ([^\r\n]*))");
    std::map<int, std::string> descriptors;
    for (auto it = std::sregex_iterator(listing.begin(), listing.end(), entry);
         it != std::sregex_iterator(); ++it) {
        descriptors[std::stoi((*it)[1].str())] = (*it)[2].str();
    }
    SCOPED_TRACE(listing);
    ASSERT_EQ(descriptors.size(), 3u);
    EXPECT_EQ(descriptors[0], "/dev/null");
    EXPECT_EQ(descriptors[1].rfind("pipe:", 0), 0u);
    EXPECT_EQ(descriptors[2], descriptors[1]);
}

// The manager is killed while a Get request hangs; the orphaned snmpget lives on. A new run must
// still bind UDP port 162 on both families: the child never held the old run's sockets.
TEST(ManagerLifecycleTest, ARestartAfterAKillDuringAHangingGetListensOnBothFamilies) {
    CManagerInstallation installation;
    installation.WriteAgents(kRouterSection);
    installation.WriteSettings("GetOIDList.txt",
                               "-v:2c -c:public -agent:127.0.0.1 -oid:first.0\n"
                               "-v:2c -c:public -agent:127.0.0.1 -oid:hang.0\n");
    const fs::path go = installation.SysRoot() / "go";
    const fs::path hanging = installation.SysRoot() / "hanging";
    const fs::path release = installation.SysRoot() / "release";
    // Only the first run's request hangs; the second run's is answered at once.
    InstallTool(installation, std::string(kWaitForGo) + "hang.0) if [ ! -e '" + hanging.string() +
                                  "' ]; then echo $$ > '" + hanging.string() + "'; while [ ! -e '" +
                                  release.string() +
                                  "' ]; do sleep 0.05; done; fi; echo answer;;\n");
    RUN_MANAGER_SCENARIO(result, [&] {
        const std::map<std::string, std::string> env = {{"VORMA_TEST_GO", go.string()}};
        json out;
        pid_t orphan = 0;
        {
            CManagerProcess first(installation, env);
            out["firstReady"] = first.WaitReady("127.0.0.1") && first.WaitReady("::1");
            std::ofstream(go) << "go\n";
            out["hangs"] = WaitUntil([&] { return !ReadBytes(hanging).empty(); });
            orphan = std::atoi(ReadBytes(hanging).c_str());
            ::kill(first.Pid(), SIGKILL);
            out["firstExit"] = first.Wait();
        }
        const std::size_t eventsBefore = ManagerEvents().size();
        CManagerProcess second(installation, env);
        out["secondReady"] = second.WaitReady("127.0.0.1") && second.WaitReady("::1");
        out["orphanAlive"] = orphan > 0 && IsAlive(orphan);
        out["answered"] = WaitUntil([] { return CountEvents(2001) == 3; });  // "first" of run 1
        std::ofstream(release) << "go\n";
        out["exit"] = second.Stop();
        const std::vector<json> events = ManagerEvents();
        out["events"] = test::EventIds(
            std::vector<json>(events.begin() + static_cast<long>(eventsBefore), events.end()));
        return out;
    });
    ASSERT_TRUE(result["firstReady"]);
    ASSERT_TRUE(result["hangs"]);
    EXPECT_EQ(result["firstExit"], 128 + SIGKILL);
    EXPECT_TRUE(result["orphanAlive"]);  // else the test would show nothing
    EXPECT_TRUE(result["secondReady"]);
    EXPECT_TRUE(result["answered"]);
    EXPECT_EQ(result["exit"], 0);
    EXPECT_EQ(result["events"], (std::vector<int>{1100, 2001, 2001, 1101}));
}

}  // namespace
