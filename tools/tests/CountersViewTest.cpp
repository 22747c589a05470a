// The viewer's table of the manager's counters (vorma-eventlog --counters).
#include "tools/CountersView.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/TempSysRoot.h"

namespace {

using json = nlohmann::ordered_json;

TEST(CountersViewTest, LabelsSplitTheNamesIntoWords) {
    const std::pair<const char*, const char*> cases[] = {
        {"DatagramsRead", "Datagrams read"},
        {"EventLogWriteFailures", "Event log write failures"},
        {"IPv4", "IPv4"},
        {"V2c", "V2c"},
        {"PeakBytes", "Peak bytes"},
        {"", ""},
    };
    for (const auto& [key, label] : cases) {
        EXPECT_EQ(tools::CounterLabel(key), label) << key;
    }
}

const char kStatus[] = R"({"ServiceName":"VORMASNMPManageService","CurrentState":4,
  "State":"RUNNING","ProcessId":4711,"Counters":{"Since":"2026-12-09T01:00:00Z",
  "DatagramsRead":12,"Notifications":{"V1":1,"V2c":10,"V3":0},"KernelDrops":{},
  "RejectedSenders":[{"Address":"192.0.2.7","CommunityOrUser":"guess","Reason":"community",
  "Count":3,"LastTime":"2026-12-09T01:02:03Z"}]}})";

TEST(CountersViewTest, TheTableShowsEveryCounterAndTheRejectedSenders) {
    EXPECT_EQ(tools::FormatCountersTable(json::parse(kStatus)),
              "VORMASNMPManageService  RUNNING  process 4711\n"
              "  counting since 2026-12-09T01:00:00Z\n"
              "\n"
              "  Datagrams read                    12\n"
              "  Notifications: V1                 1\n"
              "  Notifications: V2c                10\n"
              "  Notifications: V3                 0\n"
              "  Kernel drops                      -\n"
              "\n"
              "Rejected senders (the last 1)\n"
              "  Address    Community or user  Reason     Count  Last time\n"
              "  192.0.2.7  guess              community  3      2026-12-09T01:02:03Z\n");
}

TEST(CountersViewTest, AStatusWithoutCountersSaysSo) {
    const json status = {
        {"ServiceName", "VORMASNMPManageService"}, {"State", "START_PENDING"}, {"ProcessId", 9}};
    EXPECT_EQ(tools::FormatCountersTable(status),
              "VORMASNMPManageService  START_PENDING  process 9\n"
              "  no counters yet (the manager shows them once it listens)\n");
}

// The last counters of a run: what the stop left unread, a figure per family, and a rejected
// sender whose community held a line feed.
TEST(CountersViewTest, TheStopsBacklogAndALineFeedInANameShowInTheTable) {
    const json status = json::parse(R"({"ServiceName":"VORMASNMPManageService",
      "State":"STOPPED","ProcessId":4711,"Counters":{"Since":"2026-12-09T01:00:00Z",
      "Dropped":{"ParseError":0,"LineFeedInName":2},
      "UnreadAtStop":{"IPv4":{"Datagrams":18691,"Bytes":23456768},"IPv6":{}},
      "RejectedSenders":[{"Address":"192.0.2.7","CommunityOrUser":"pub\nlic",
      "Reason":"line_feed_in_name","Count":2,"LastTime":"2026-12-09T01:02:03Z"}]}})");
    EXPECT_EQ(tools::FormatCountersTable(status),
              "VORMASNMPManageService  STOPPED  process 4711\n"
              "  counting since 2026-12-09T01:00:00Z\n"
              "\n"
              "  Dropped: Parse error              0\n"
              "  Dropped: Line feed in name        2\n"
              "  Unread at stop: IPv4: Datagrams   18691\n"
              "  Unread at stop: IPv4: Bytes       23456768\n"
              "  Unread at stop: IPv6              -\n"
              "\n"
              "Rejected senders (the last 1)\n"
              "  Address    Community or user  Reason             Count  Last time\n"
              "  192.0.2.7  pub\\x0Alic         line_feed_in_name  2      2026-12-09T01:02:03Z\n");
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The viewer reads the status file under the system root; without one it fails with 1; with
// --follow it shows each change until it is stopped.
TEST(CountersViewTest, TheViewerPrintsTheStatusFileAndFollowsIt) {
    test::TempSysRoot root;
    const std::filesystem::path out = root.path() / "viewer.out";
    const std::string viewer = VORMA_EVENTLOG_VIEWER;
    EXPECT_NE(std::system((viewer + " --counters >" + out.string() + " 2>&1").c_str()), 0);
    EXPECT_NE(ReadFile(out).find("cannot read"), std::string::npos) << ReadFile(out);

    const std::filesystem::path status = root.path() / "services" / "VORMASNMPManageService.json";
    std::filesystem::create_directories(status.parent_path());
    std::ofstream(status) << kStatus;
    ASSERT_EQ(std::system((viewer + " --counters >" + out.string()).c_str()), 0);
    EXPECT_EQ(ReadFile(out), tools::FormatCountersTable(json::parse(kStatus)));

    const std::filesystem::path followed = root.path() / "follow.out";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (std::freopen(followed.c_str(), "w", stdout) == nullptr) {
            ::_exit(126);
        }
        ::execl(VORMA_EVENTLOG_VIEWER, VORMA_EVENTLOG_VIEWER, "--counters", "--follow",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    auto waitFor = [&](const std::string& text) {
        for (int i = 0; i < 600; ++i) {
            if (ReadFile(followed).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    EXPECT_TRUE(waitFor("Datagrams read                    12\n"));
    json changed = json::parse(kStatus);
    changed["Counters"]["DatagramsRead"] = 13;
    std::ofstream(root.path() / "next.json") << changed.dump();
    std::filesystem::rename(root.path() / "next.json", status);
    EXPECT_TRUE(waitFor("Datagrams read                    13\n"));
    ::kill(pid, SIGTERM);
    int exitStatus = 0;
    ASSERT_EQ(::waitpid(pid, &exitStatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << exitStatus;
    // Not a terminal: each table once, as it changed.
    EXPECT_EQ(ReadFile(followed), tools::FormatCountersTable(json::parse(kStatus)) + "\n" +
                                      tools::FormatCountersTable(changed));
}

}  // namespace
