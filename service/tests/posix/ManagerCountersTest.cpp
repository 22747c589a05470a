// The manager's counters of every trap's fate, as an operator reads them: the status file's
// "Counters" object and the Prometheus exposition file, after known traffic in a private network
// namespace.
#include <sys/file.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>

#include "platform/EventLog.h"
#include "platform/Registry.h"
#include "platform/UntrustedText.h"
#include "service/tests/ManagerHarness.h"
#include "tests/support/SnmpMessages.h"
#include "traps/CountersFormat.h"

namespace {

using namespace managertest;
using nlohmann::json;

constexpr char kColdStart[] = "1.3.6.1.6.3.1.1.5.1";
constexpr char kSysName[] = "1.3.6.1.2.1.1.5.0";
constexpr std::uint32_t kUpTime = 4711;

bool SendV2cTrap(const std::string& source, const std::string& community,
                 const std::string& marker) {
    test::CNotificationSender sender("127.0.0.1", 162, source);
    return sender.IsOpen() &&
           sender.SendTrap(community, kUpTime, kColdStart, {{kSysName, 's', marker}});
}

// An SNMPv1 coldStart trap (generic trap 0) of enterprise 1.3.6.1.4.1.99999.
bool SendV1Trap(const std::string& source, const std::string& community) {
    using namespace test::ber;
    const std::string pdu =
        Tlv(0xA4, ObjectId("1.3.6.1.4.1.99999") + Tlv(0x40, std::string("\x7f\x00\x00\x01", 4)) +
                      Integer(0) + Integer(0) + Unsigned(kUpTime, 0x43) + Tlv(0x30, ""));
    test::CNotificationSender sender("127.0.0.1", 162, source);
    return sender.IsOpen() && sender.Send(test::EncodeCommunityMessage(0, community, pdu));
}

bool SendInform(const std::string& community, const std::string& marker) {
    test::CNotificationSender sender("127.0.0.1");
    return sender.IsOpen() && sender.Inform(community, kColdStart, {{kSysName, 's', marker}},
                                            std::chrono::milliseconds(5000));
}

bool SendBytes(const std::string& bytes) {
    test::CNotificationSender sender("127.0.0.1");
    return sender.IsOpen() && sender.Send(bytes);
}

// The number at a JSON pointer of the counters, or -1 when there is none.
long long At(const json& counters, const std::string& pointer) {
    const json::json_pointer at(pointer);
    return counters.contains(at) && counters[at].is_number() ? counters[at].get<long long>() : -1;
}

// Every counter the object holds, by JSON pointer.
const std::vector<std::string> kCounterPointers = {
    "/DatagramsRead",
    "/Notifications/V1",
    "/Notifications/V2c",
    "/Notifications/V3",
    "/InformsAnswered",
    "/EventsWritten",
    "/HeldBack",
    "/Dropped/NoAgentEntry",
    "/Dropped/AgentNotListening",
    "/Dropped/Community",
    "/Dropped/UnknownUser",
    "/Dropped/UnknownEngine",
    "/Dropped/DecryptionError",
    "/Dropped/ParseError",
    "/Dropped/LineFeedInName",
    "/WrongDigest",
    "/EventLogWriteFailures",
    "/FilterLogWriteFailures",
    "/GetPass/Requests",
    "/GetPass/Answers",
    "/GetPass/Failures",
};

// One kind of traffic: how it is sent and what each sending adds to which counters.
struct Traffic {
    const char* name;
    int times;
    std::function<bool()> send;
    std::map<std::string, long long> adds;
};

// The installation every counting test uses: one listening and one quiet agent, a black list
// that holds back "HOLD", one SNMPv3 user, and a stand-in snmpget that answers "ok.0" and
// fails "bad.0".
void Prepare(const CManagerInstallation& installation) {
    installation.WriteAgents(AgentSection(
        {{"TRUE", "Listed", "127.0.0.1", "public"}, {"FALSE", "Quiet", "127.0.0.2", "public"}}));
    installation.WriteSettings("FilterBlack.txt", "HOLD\n");
    installation.WriteSettings("SnmpV3Setting.txt",
                               std::string("-e:") + kV3Engine +
                                   " -u:v3user -a:SHA -AP:authpass123 -x:AES -XP:privpass123\n");
    installation.WriteSettings("GetOIDList.txt",
                               "-v:2c -c:public -agent:127.0.0.1 -oid:ok.0\n"
                               "-v:2c -c:public -agent:127.0.0.1 -oid:bad.0\n"
                               "-v:2c -c:public -agent:127.0.0.1 -oid:ok.0\n");
    const fs::path tool = installation.Dir() / "bin" / "snmpget";
    fs::create_directories(tool.parent_path());
    std::ofstream(tool) << "#!/bin/sh\nfor last; do :; done\ncase \"$last\" in\n"
                        << "ok.0) echo 'SNMPv2-MIB::sysName.0 = STRING: answer';;\n"
                        << "*) echo 'Timeout: No Response from 127.0.0.1'; exit 1;;\nesac\n";
    fs::permissions(tool, fs::perms::owner_all);
}

TEST(ManagerCountersTest, EveryCounterEqualsTheTrafficSent) {
    CManagerInstallation installation;
    Prepare(installation);
    const auto v3 = [&](const std::string& user, const std::string& auth, const std::string& priv) {
        return [&installation, user, auth, priv] {
            return SendV3Trap(installation, "127.0.0.1", user, "v3", auth, priv) == 0;
        };
    };
    const std::vector<Traffic> traffic = {
        {"accepted SNMPv2c trap",
         3,
         [] { return SendV2cTrap("127.0.0.1", "public", "fine"); },
         {{"/DatagramsRead", 1}, {"/Notifications/V2c", 1}, {"/EventsWritten", 1}}},
        {"accepted SNMPv1 trap",
         2,
         [] { return SendV1Trap("127.0.0.1", "public"); },
         {{"/DatagramsRead", 1}, {"/Notifications/V1", 1}, {"/EventsWritten", 1}}},
        {"accepted inform",
         2,
         [] { return SendInform("public", "fine"); },
         {{"/DatagramsRead", 1},
          {"/Notifications/V2c", 1},
          {"/InformsAnswered", 1},
          {"/EventsWritten", 1}}},
        {"held back by the black list",
         2,
         [] { return SendV2cTrap("127.0.0.1", "public", "HOLD"); },
         {{"/DatagramsRead", 1}, {"/Notifications/V2c", 1}, {"/HeldBack", 1}}},
        {"unlisted agent",
         4,
         [] { return SendV2cTrap("127.0.0.3", "public", "x"); },
         {{"/DatagramsRead", 1}, {"/Notifications/V2c", 1}, {"/Dropped/NoAgentEntry", 1}}},
        {"agent that does not listen",
         1,
         [] { return SendV2cTrap("127.0.0.2", "public", "x"); },
         {{"/DatagramsRead", 1}, {"/Notifications/V2c", 1}, {"/Dropped/AgentNotListening", 1}}},
        {"wrong community",
         3,
         [] { return SendV2cTrap("127.0.0.1", "private", "x"); },
         {{"/DatagramsRead", 1}, {"/Notifications/V2c", 1}, {"/Dropped/Community", 1}}},
        // A line feed in the community would end the header line inside it: refused before
        // rendering, counted under its own reason; an inform of it is still answered.
        {"community with a line feed",
         2,
         [] { return SendV2cTrap("127.0.0.1", "pub\nlic", "x"); },
         {{"/DatagramsRead", 1}, {"/Dropped/LineFeedInName", 1}}},
        {"inform whose community has a line feed",
         1,
         [] { return SendInform("inform\nx", "x"); },
         {{"/DatagramsRead", 1}, {"/InformsAnswered", 1}, {"/Dropped/LineFeedInName", 1}}},
        {"accepted SNMPv3 trap",
         1,
         v3("v3user", "authpass123", "privpass123"),
         {{"/DatagramsRead", 1}, {"/Notifications/V3", 1}, {"/EventsWritten", 1}}},
        {"SNMPv3 unknown user",
         2,
         v3("intruder", "authpass123", "privpass123"),
         {{"/DatagramsRead", 1}, {"/Dropped/UnknownUser", 1}}},
        {"SNMPv3 wrong authentication key",
         1,
         v3("v3user", "wrongauth99", "privpass123"),
         {{"/DatagramsRead", 1}, {"/WrongDigest", 1}}},
        // Net-SNMP deciphers with the wrong key into bytes that do not parse and counts a parse
        // error (a decryption error is a failure of the privacy protocol itself).
        {"SNMPv3 wrong privacy key",
         1,
         v3("v3user", "authpass123", "wrongpriv99"),
         {{"/DatagramsRead", 1}, {"/Dropped/ParseError", 1}}},
        // An SNMPv3 inform goes to the manager's own engine: the sender first learns its engine
        // ID (a probe that Net-SNMP answers with a report of an unknown engine ID), then sends
        // the inform, whose user the manager's engine does not know.
        {"SNMPv3 inform of a user of another engine",
         1,
         [&installation] {
             const fs::path peer = installation.SysRoot() / "peer";
             fs::create_directories(peer);
             return RunProgram({"/usr/bin/snmpinform", "-v", "3", "-u", "v3user", "-l",
                                "authNoPriv", "-a", "SHA", "-A", "authpass123", "-r", "0", "-t",
                                "2", "127.0.0.1:162", "4711", "1.3.6.1.6.3.1.1.5.1"},
                               peer / "snmpinform.out",
                               {{"SNMPCONFPATH", peer.string()},
                                {"SNMP_PERSISTENT_DIR", peer.string()},
                                {"MIBS", ""},
                                {"MIBDIRS", peer.string()}}) != 0;
         },
         {{"/DatagramsRead", 2}, {"/Dropped/UnknownEngine", 1}, {"/Dropped/UnknownUser", 1}}},
        {"random bytes",
         2,
         [] { return SendBytes("\x01\x02garbage"); },
         {{"/DatagramsRead", 1}, {"/Dropped/ParseError", 1}}},
        {"an SNMP version that does not exist",
         1,
         [] {
             return SendBytes(test::EncodeCommunityMessage(7, "public", test::ber::Tlv(0xA7, "")));
         },
         {{"/DatagramsRead", 1}, {"/Dropped/ParseError", 1}}},
    };
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["ready"] = manager.WaitReady();
        for (const Traffic& kind : traffic) {
            int sent = 0;
            for (int i = 0; i < kind.times; ++i) {
                sent += kind.send() ? 1 : 0;
            }
            out["sent"][kind.name] = sent;
        }
        out["flushed"] = Flush();
        // The Get pass is over: two answers (2001) and one failure (6106).
        out["getPassDone"] = WaitUntil([] {
            const std::vector<int> ids = ManagerEventIds();
            return std::count(ids.begin(), ids.end(), 2001) == 2 &&
                   std::count(ids.begin(), ids.end(), 6106) == 1;
        });
        out["exit"] = manager.Stop();
        out["status"] = ReadStatus(installation);
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    ASSERT_TRUE(result["flushed"]);
    ASSERT_TRUE(result["getPassDone"]);
    EXPECT_EQ(result["exit"], 0);
    for (const Traffic& kind : traffic) {
        EXPECT_EQ(result["sent"][kind.name], kind.times) << kind.name;
    }
    const json& status = result["status"];
    ASSERT_EQ(status.value("State", ""), "STOPPED") << status.dump();
    ASSERT_TRUE(status.contains("Counters")) << status.dump();
    const json& counters = status["Counters"];
    SCOPED_TRACE(counters.dump(2));

    // The readiness probes are informs of an unlisted community from a listed address: they show
    // among the rejected senders, and are counted like any such inform.
    long long probes = 0;
    for (const json& sender : counters["RejectedSenders"]) {
        if (sender["CommunityOrUser"] == kProbeCommunity) {
            EXPECT_EQ(sender["Address"], "127.0.0.1");
            EXPECT_EQ(sender["Reason"], "community");
            probes += sender["Count"].get<long long>();
        }
    }
    EXPECT_GE(probes, 2);  // WaitReady's and Flush's, at least
    std::map<std::string, long long> expected = {
        {"/DatagramsRead", probes},   {"/Notifications/V2c", probes},
        {"/InformsAnswered", probes}, {"/Dropped/Community", probes},
        {"/GetPass/Requests", 3},     {"/GetPass/Answers", 2},
        {"/GetPass/Failures", 1}};
    for (const Traffic& kind : traffic) {
        for (const auto& [pointer, amount] : kind.adds) {
            expected[pointer] += amount * kind.times;
        }
    }
    for (const std::string& pointer : kCounterPointers) {
        EXPECT_EQ(At(counters, pointer), expected[pointer]) << pointer;
    }

    // Written out at the stop: nothing waits; the queue held something at one time.
    EXPECT_EQ(At(counters, "/Queue/Length"), 0);
    EXPECT_EQ(At(counters, "/Queue/Bytes"), 0);
    EXPECT_GE(At(counters, "/Queue/PeakLength"), 1);
    EXPECT_GT(At(counters, "/Queue/PeakBytes"), At(counters, "/Queue/PeakLength"));
    EXPECT_EQ(At(counters, "/KernelDrops/IPv4"), 0);
    EXPECT_EQ(At(counters, "/KernelDrops/IPv6"), 0);

    // Who was turned away, with the community, the reason and the count of each.
    std::map<std::string, long long> rejected;
    for (const json& sender : counters["RejectedSenders"]) {
        if (sender["CommunityOrUser"] != kProbeCommunity) {
            rejected[sender["Address"].get<std::string>() + " " +
                     sender["CommunityOrUser"].get<std::string>() + " " +
                     sender["Reason"].get<std::string>()] = sender["Count"];
            EXPECT_EQ(sender["LastTime"].get<std::string>().size(), 20u) << sender.dump();
        }
    }
    EXPECT_EQ(rejected, (std::map<std::string, long long>{
                            {"127.0.0.3 public no_agent_entry", 4},
                            {"127.0.0.2 public agent_not_listening", 1},
                            {"127.0.0.1 private community", 3},
                            {"127.0.0.1 pub\nlic line_feed_in_name", 2},
                            {"127.0.0.1 inform\nx line_feed_in_name", 1},
                        }));
    // The events themselves are as without counting: the accepted traps and the Get answers.
    const std::vector<int> ids = ManagerEventIds();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 2000), expected["/EventsWritten"]);
    EXPECT_EQ(static_cast<long long>(FilterLogLines(installation).size()), 2);
}

// Each sample of the exposition file and the figure of the status file's counters it shows.
struct MetricSample {
    const char* sample;
    const char* pointer;
    const char* type;
};

const std::vector<MetricSample> kMetricSamples = {
    {"vorma_snmp_datagrams_read_total", "/DatagramsRead", "counter"},
    {"vorma_snmp_notifications_total{version=\"v1\"}", "/Notifications/V1", "counter"},
    {"vorma_snmp_notifications_total{version=\"v2c\"}", "/Notifications/V2c", "counter"},
    {"vorma_snmp_notifications_total{version=\"v3\"}", "/Notifications/V3", "counter"},
    {"vorma_snmp_informs_answered_total", "/InformsAnswered", "counter"},
    {"vorma_snmp_events_written_total", "/EventsWritten", "counter"},
    {"vorma_snmp_held_back_total", "/HeldBack", "counter"},
    {"vorma_snmp_dropped_total{reason=\"no_agent_entry\"}", "/Dropped/NoAgentEntry", "counter"},
    {"vorma_snmp_dropped_total{reason=\"agent_not_listening\"}", "/Dropped/AgentNotListening",
     "counter"},
    {"vorma_snmp_dropped_total{reason=\"community\"}", "/Dropped/Community", "counter"},
    {"vorma_snmp_dropped_total{reason=\"unknown_user\"}", "/Dropped/UnknownUser", "counter"},
    {"vorma_snmp_dropped_total{reason=\"unknown_engine\"}", "/Dropped/UnknownEngine", "counter"},
    {"vorma_snmp_dropped_total{reason=\"decryption_error\"}", "/Dropped/DecryptionError",
     "counter"},
    {"vorma_snmp_dropped_total{reason=\"parse_error\"}", "/Dropped/ParseError", "counter"},
    {"vorma_snmp_dropped_total{reason=\"line_feed_in_name\"}", "/Dropped/LineFeedInName",
     "counter"},
    {"vorma_snmp_wrong_digest_total", "/WrongDigest", "counter"},
    {"vorma_snmp_event_log_write_failures_total", "/EventLogWriteFailures", "counter"},
    {"vorma_snmp_filter_log_write_failures_total", "/FilterLogWriteFailures", "counter"},
    {"vorma_snmp_get_requests_total", "/GetPass/Requests", "counter"},
    {"vorma_snmp_get_answers_total", "/GetPass/Answers", "counter"},
    {"vorma_snmp_get_failures_total", "/GetPass/Failures", "counter"},
    {"vorma_snmp_queue_length", "/Queue/Length", "gauge"},
    {"vorma_snmp_queue_peak_length", "/Queue/PeakLength", "gauge"},
    {"vorma_snmp_queue_bytes", "/Queue/Bytes", "gauge"},
    {"vorma_snmp_queue_peak_bytes", "/Queue/PeakBytes", "gauge"},
    {"vorma_snmp_kernel_drops_total{family=\"ipv4\"}", "/KernelDrops/IPv4", "counter"},
    {"vorma_snmp_kernel_drops_total{family=\"ipv6\"}", "/KernelDrops/IPv6", "counter"},
    {"vorma_snmp_unread_at_stop_datagrams{family=\"ipv4\"}", "/UnreadAtStop/IPv4/Datagrams",
     "gauge"},
    {"vorma_snmp_unread_at_stop_datagrams{family=\"ipv6\"}", "/UnreadAtStop/IPv6/Datagrams",
     "gauge"},
    {"vorma_snmp_unread_at_stop_bytes{family=\"ipv4\"}", "/UnreadAtStop/IPv4/Bytes", "gauge"},
    {"vorma_snmp_unread_at_stop_bytes{family=\"ipv6\"}", "/UnreadAtStop/IPv6/Bytes", "gauge"},
};

// The exposition file read by prometheus_client's parser: {"samples": ..., "types": ...}, or
// {"failure": why}; {"skip": why} without the parser.
json ParseExposition(const std::string& text, const fs::path& folder) {
    const fs::path file = folder / "metrics.prom";
    std::ofstream(file, std::ios::binary) << text;
    const fs::path output = folder / "parser.out";
    const int status = RunProgram(
        {"/usr/bin/python3", std::string(VORMA_SERVICE_TEST_DIR) + "/parse_metrics.py", file},
        output);
    if (status == 77) {
        return {{"skip", "python3-prometheus-client is not installed"}};
    }
    if (status != 0) {
        return {{"failure", ReadBytes(output)}};
    }
    return json::parse(ReadBytes(output), nullptr, false);
}

// While the manager runs, its counters show within about a second of a change in the status
// file and in the exposition file of the folder that the registry names; at the stop both hold
// the final figures, the same in each, and the exposition file parses with a real parser.
TEST(ManagerCountersTest, TheExpositionFileAgreesWithTheStatusFileWhileRunningAndAtTheStop) {
    CManagerInstallation installation;
    Prepare(installation);
    const fs::path metrics = installation.SysRoot() / "textfile collector";
    {
        platform::RegKey key = 0;
        bool created = false;
        ASSERT_EQ(platform::CreateRegistryKey(
                      platform::kHkeyLocalMachine,
                      L"SYSTEM\\CurrentControlSet\\Services\\VORMASNMPManageService\\Parameters",
                      platform::kKeyAllAccess, &key, &created),
                  0u);
        const std::vector<std::uint8_t> value =
            platform::WideToUtf16Le(platform::LocaleToWide(metrics.string()) + L'\0');
        platform::SetRegistryValue(key, L"MetricsDirectory", platform::kRegSz, value.data(),
                                   static_cast<std::uint32_t>(value.size()));
        platform::CloseRegistryKey(key);
    }
    const fs::path exposition = metrics / "VORMASNMPManageService.prom";
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(installation);
        json out;
        out["ready"] = manager.WaitReady();
        out["sent"] = SendV2cTrap("127.0.0.1", "public", "one") &&
                      SendV2cTrap("127.0.0.1", "public", "two") &&
                      SendV2cTrap("127.0.0.9", "public", "stranger");
        out["flushed"] = Flush();
        out["shownWhileRunning"] = WaitUntil([&] {
            const json status = ReadStatus(installation);
            return status.is_object() && status.value("State", "") == "RUNNING" &&
                   At(status.value("Counters", json()), "/EventsWritten") == 2 &&
                   ReadBytes(exposition).find("\nvorma_snmp_events_written_total 2\n") !=
                       std::string::npos;
        });
        out["exit"] = manager.Stop();
        out["status"] = ReadStatus(installation);
        out["exposition"] = ReadBytes(exposition);
        out["files"] = json::array();
        for (const auto& entry : fs::directory_iterator(metrics)) {
            out["files"].push_back(entry.path().filename().string());
        }
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    ASSERT_TRUE(result["sent"]);
    ASSERT_TRUE(result["flushed"]);
    EXPECT_TRUE(result["shownWhileRunning"]);
    EXPECT_EQ(result["exit"], 0);
    // Only the file itself: what was written beside it was renamed into place.
    EXPECT_EQ(result["files"], json::array({"VORMASNMPManageService.prom"}));

    const json& status = result["status"];
    ASSERT_EQ(status.value("State", ""), "STOPPED");
    const json& counters = status["Counters"];
    EXPECT_EQ(At(counters, "/EventsWritten"), 2);
    EXPECT_EQ(At(counters, "/Dropped/NoAgentEntry"), 1);

    const json parsed = ParseExposition(result["exposition"], installation.SysRoot());
    if (parsed.contains("skip")) {
        GTEST_SKIP() << parsed["skip"].get<std::string>();
    }
    ASSERT_FALSE(parsed.contains("failure")) << parsed["failure"] << result["exposition"];
    for (const MetricSample& metric : kMetricSamples) {
        ASSERT_TRUE(parsed["samples"].contains(metric.sample)) << metric.sample;
        EXPECT_EQ(parsed["samples"][metric.sample].get<double>(),
                  static_cast<double>(At(counters, metric.pointer)))
            << metric.sample;
        const std::string family =
            std::string(metric.sample).substr(0, std::string(metric.sample).find_first_of("{"));
        const std::string name = std::string(metric.type) == "counter"
                                     ? family.substr(0, family.size() - std::size("_total") + 1)
                                     : family;
        EXPECT_EQ(parsed["types"].value(name, ""), metric.type) << name;
    }
}

// Label values keep the exposition file valid whatever text they hold: a real parser reads each
// back as the one-line escaping shows it.
TEST(ManagerCountersTest, LabelValuesOfHostileTextParseWithARealParser) {
    const std::vector<std::string> values = {"\x1b[2J\x1b[31m EVIL\tX", "a\nb\r\"c\"\\",
                                             "\xc2\x9b\xe2\x80\xae"
                                             "x",
                                             "\x7f\xff", "組"};
    std::string text = CCountersFormat::ToPrometheus(TrapCountersSnapshot{});
    text += "# HELP vorma_test_label A label of any text.\n# TYPE vorma_test_label gauge\n";
    for (std::size_t i = 0; i < values.size(); ++i) {
        text += "vorma_test_label{n=\"" + std::to_string(i) + "\",text=\"" +
                CCountersFormat::LabelValue(values[i]) + "\"} 1\n";
    }
    test::TempSysRoot folder;
    const json parsed = ParseExposition(text, folder.path());
    if (parsed.contains("skip")) {
        GTEST_SKIP() << parsed["skip"].get<std::string>();
    }
    ASSERT_FALSE(parsed.contains("failure")) << parsed["failure"] << text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        // The script prints each label as name="value", the value as the parser gave it.
        const std::string shown =
            platform::EscapeUntrustedText(values[i], platform::TextEscaping::kOneLine);
        EXPECT_TRUE(parsed["samples"].contains("vorma_test_label{n=\"" + std::to_string(i) +
                                               "\",text=\"" + shown + "\"}"))
            << shown << " in " << parsed["samples"].dump();
    }
}

// With the trap queue at its bound the sockets keep what arrives; a stop then ends the reading.
// What the sockets still hold once the queue is written out is read out and counted: in the last
// counters of both files and on the console, so that every datagram sent is in some figure.
TEST(ManagerCountersTest, AStopCountsWhatItLeavesUnreadInTheSockets) {
    constexpr int kTraps = 400;
    constexpr long kQueueLimitBytes = 16 * 1024;
    CManagerInstallation installation;
    installation.WriteAgents(AgentSection({{"TRUE", "Listed", "127.0.0.1", "public"}}));
    RUN_MANAGER_SCENARIO(result, [&] {
        CManagerProcess manager(
            installation, {{"VORMA_TEST_TRAP_QUEUE_BYTES", std::to_string(kQueueLimitBytes)}});
        json out;
        out["ready"] = manager.WaitReady();
        // Another writer holds the event log's lock: nothing is written, the queue fills up and
        // the rest stays in the socket.
        const int logFd =
            ::open(platform::ApplicationLogFile().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        out["logLocked"] = logFd >= 0 && ::flock(logFd, LOCK_EX) == 0;
        test::CNotificationSender agent("127.0.0.1");
        int sent = 0;
        for (int i = 0; out["ready"] && i < kTraps; ++i) {
            sent +=
                agent.SendTrap("public", kUpTime, kColdStart, {{kSysName, 's', "backlog"}}) ? 1 : 0;
        }
        out["sent"] = sent;
        out["queueFull"] = WaitUntil([&] {
            return At(ReadStatus(installation).value("Counters", json()), "/Queue/Bytes") >=
                   kQueueLimitBytes;
        });
        // The stop begins while nothing can be written; then the lock is let go.
        ::kill(manager.Pid(), SIGTERM);
        out["stopPending"] = WaitUntil(
            [&] { return ReadStatus(installation).value("State", "") == "STOP_PENDING"; });
        if (logFd >= 0) {
            ::close(logFd);
        }
        out["exit"] = manager.Wait();
        out["status"] = ReadStatus(installation);
        out["exposition"] =
            ReadBytes(installation.SysRoot() / "metrics" / "VORMASNMPManageService.prom");
        out["console"] = ReadBytes(installation.OutputFile());
        return out;
    });
    ASSERT_TRUE(result["ready"]);
    ASSERT_TRUE(result["logLocked"]);
    ASSERT_EQ(result["sent"], kTraps);
    ASSERT_TRUE(result["queueFull"]);
    EXPECT_TRUE(result["stopPending"]);
    EXPECT_EQ(result["exit"], 0);
    const json& status = result["status"];
    ASSERT_EQ(status.value("State", ""), "STOPPED");
    const json& counters = status["Counters"];
    SCOPED_TRACE(counters.dump(2));

    long long probes = 0;
    for (const json& sender : counters["RejectedSenders"]) {
        if (sender["CommunityOrUser"] == kProbeCommunity) {
            probes += sender["Count"].get<long long>();
        }
    }
    const long long read = At(counters, "/DatagramsRead") - probes;
    const long long unread = At(counters, "/UnreadAtStop/IPv4/Datagrams");
    const long long dropped = At(counters, "/KernelDrops/IPv4");
    // Every trap read was written once the lock was let go; the others are the backlog.
    EXPECT_EQ(At(counters, "/EventsWritten"), read);
    EXPECT_GT(unread, 0);
    EXPECT_EQ(read + unread + dropped, kTraps);
    EXPECT_GT(At(counters, "/UnreadAtStop/IPv4/Bytes"), unread * 100);
    EXPECT_EQ(At(counters, "/UnreadAtStop/IPv6/Datagrams"), 0);
    EXPECT_EQ(At(counters, "/UnreadAtStop/IPv6/Bytes"), 0);
    std::printf(
        "backlog: %d sent, %lld read and written, %lld unread at the stop (%lld bytes), "
        "%lld dropped by the system\n",
        kTraps, read, unread, At(counters, "/UnreadAtStop/IPv4/Bytes"), dropped);

    const std::string exposition = result["exposition"];
    EXPECT_NE(exposition.find("\nvorma_snmp_unread_at_stop_datagrams{family=\"ipv4\"} " +
                              std::to_string(unread) + "\n"),
              std::string::npos)
        << exposition;
    const std::string console = result["console"];
    EXPECT_NE(console.find("The stop left unread in the listening sockets: IPv4 " +
                           std::to_string(unread) + " datagrams ("),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("), lost as the socket closes; IPv6 0 datagrams (0 bytes queued), lost "
                           "as the socket closes.\n"),
              std::string::npos)
        << console;
}

}  // namespace
