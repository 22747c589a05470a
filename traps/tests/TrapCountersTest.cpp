// The trap counters and their two published forms.
#include "traps/TrapCounters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "traps/CountersFormat.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::system_clock;

struct Rejection {
    std::string address;
    std::string identity;
    RejectReason reason;
};

// "address identity reason count", most recent first.
std::vector<std::string> Listed(const TrapCountersSnapshot& snapshot) {
    std::vector<std::string> lines;
    for (const RejectedSender& s : snapshot.rejected) {
        lines.push_back(s.address + " " + s.identity + " " + CCountersFormat::ReasonName(s.reason) +
                        " " + std::to_string(s.count));
    }
    return lines;
}

TEST(TrapCountersTest, RejectedSendersAreKeptByAddressIdentityAndReasonMostRecentFirst) {
    struct Case {
        const char* name;
        std::vector<Rejection> rejections;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"one sender",
         {{"10.0.0.1", "public", RejectReason::kNoAgentEntry}},
         {"10.0.0.1 public no_agent_entry 1"}},
        {"the same sender again is counted, not listed twice",
         {{"10.0.0.1", "public", RejectReason::kNoAgentEntry},
          {"10.0.0.2", "public", RejectReason::kNoAgentEntry},
          {"10.0.0.1", "public", RejectReason::kNoAgentEntry}},
         {"10.0.0.1 public no_agent_entry 2", "10.0.0.2 public no_agent_entry 1"}},
        {"another community or reason is another entry",
         {{"10.0.0.1", "public", RejectReason::kCommunity},
          {"10.0.0.1", "private", RejectReason::kCommunity},
          {"10.0.0.1", "public", RejectReason::kAgentNotListening}},
         {"10.0.0.1 public agent_not_listening 1", "10.0.0.1 private community 1",
          "10.0.0.1 public community 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTrapCounters counters;
        for (const Rejection& r : c.rejections) {
            counters.Reject(r.address, r.identity, r.reason);
        }
        EXPECT_EQ(Listed(counters.Snapshot()), c.expected);
    }
}

TEST(TrapCountersTest, TheListKeepsTheTwentySeenLatestAndCountsEveryRejection) {
    CTrapCounters counters;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 25; ++i) {
        counters.Reject("10.0.0." + std::to_string(i), "c", RejectReason::kNoAgentEntry,
                        start + std::chrono::seconds(i));
    }
    // The oldest (10.0.0.5) comes again and stays; 10.0.0.6 is now the one seen longest ago.
    counters.Reject("10.0.0.5", "c", RejectReason::kNoAgentEntry, start + std::chrono::hours(1));
    counters.Reject("10.0.0.99", "c", RejectReason::kCommunity, start + std::chrono::hours(2));
    const TrapCountersSnapshot snapshot = counters.Snapshot();
    ASSERT_EQ(snapshot.rejected.size(), CTrapCounters::kRejectedSendersKept);
    EXPECT_EQ(snapshot.rejected[0].address, "10.0.0.99");
    EXPECT_EQ(snapshot.rejected[1].address, "10.0.0.5");
    EXPECT_EQ(snapshot.rejected[1].lastTime, start + std::chrono::hours(1));
    EXPECT_EQ(snapshot.rejected.back().address, "10.0.0.7");
    EXPECT_EQ(snapshot[TrapCount::kNoAgentEntry], 26u);
    EXPECT_EQ(snapshot[TrapCount::kCommunity], 1u);
}

TEST(TrapCountersTest, EachReasonCountsItsOwnDropAndAWrongDigestIsLeftToTheLibraryCount) {
    const std::vector<std::pair<RejectReason, TrapCount>> cases = {
        {RejectReason::kNoAgentEntry, TrapCount::kNoAgentEntry},
        {RejectReason::kAgentNotListening, TrapCount::kAgentNotListening},
        {RejectReason::kCommunity, TrapCount::kCommunity},
        {RejectReason::kLineFeedInName, TrapCount::kLineFeedInName},
    };
    for (const auto& [reason, count] : cases) {
        CTrapCounters counters;
        counters.Reject("10.0.0.1", "x", reason);
        const TrapCountersSnapshot snapshot = counters.Snapshot();
        for (std::size_t i = 0; i < snapshot.values.size(); ++i) {
            EXPECT_EQ(snapshot.values[i], i == static_cast<std::size_t>(count) ? 1u : 0u)
                << CCountersFormat::ReasonName(reason) << " counter " << i;
        }
    }
    CTrapCounters counters;
    counters.Reject("10.0.0.1", "user", RejectReason::kWrongDigest);
    counters.AddLibraryStatistics({.wrongDigests = 1});
    const TrapCountersSnapshot snapshot = counters.Snapshot();
    EXPECT_EQ(snapshot[TrapCount::kWrongDigest], 1u);
    EXPECT_EQ(Listed(snapshot), std::vector<std::string>{"10.0.0.1 user wrong_digest 1"});
}

TEST(TrapCountersTest, GaugesRiseOnlyAndLibraryFiguresAddUp) {
    CTrapCounters counters;
    for (std::uint64_t value : {3u, 9u, 4u}) {
        counters.Raise(TrapCount::kQueuePeakLength, value);
    }
    counters.AddLibraryStatistics({.parseErrors = 2, .unknownUsers = 1});
    counters.AddLibraryStatistics({.parseErrors = 5, .unknownEngines = 4, .decryptionErrors = 6});
    const TrapCountersSnapshot snapshot = counters.Snapshot();
    EXPECT_EQ(snapshot[TrapCount::kQueuePeakLength], 9u);
    EXPECT_EQ(snapshot[TrapCount::kParseError], 7u);
    EXPECT_EQ(snapshot[TrapCount::kUnknownUser], 1u);
    EXPECT_EQ(snapshot[TrapCount::kUnknownEngine], 4u);
    EXPECT_EQ(snapshot[TrapCount::kDecryptionError], 6u);
    EXPECT_EQ(snapshot[TrapCount::kWrongDigest], 0u);
}

// Where each counter shows in the two forms.
struct Placement {
    TrapCount count;
    const char* pointer;
    const char* sample;
};

const std::vector<Placement> kPlacements = {
    {TrapCount::kDatagramsRead, "/DatagramsRead", "vorma_snmp_datagrams_read_total"},
    {TrapCount::kNotificationsV1, "/Notifications/V1",
     "vorma_snmp_notifications_total{version=\"v1\"}"},
    {TrapCount::kNotificationsV2c, "/Notifications/V2c",
     "vorma_snmp_notifications_total{version=\"v2c\"}"},
    {TrapCount::kNotificationsV3, "/Notifications/V3",
     "vorma_snmp_notifications_total{version=\"v3\"}"},
    {TrapCount::kInformsAnswered, "/InformsAnswered", "vorma_snmp_informs_answered_total"},
    {TrapCount::kEventsWritten, "/EventsWritten", "vorma_snmp_events_written_total"},
    {TrapCount::kHeldBack, "/HeldBack", "vorma_snmp_held_back_total"},
    {TrapCount::kNoAgentEntry, "/Dropped/NoAgentEntry",
     "vorma_snmp_dropped_total{reason=\"no_agent_entry\"}"},
    {TrapCount::kAgentNotListening, "/Dropped/AgentNotListening",
     "vorma_snmp_dropped_total{reason=\"agent_not_listening\"}"},
    {TrapCount::kCommunity, "/Dropped/Community", "vorma_snmp_dropped_total{reason=\"community\"}"},
    {TrapCount::kUnknownUser, "/Dropped/UnknownUser",
     "vorma_snmp_dropped_total{reason=\"unknown_user\"}"},
    {TrapCount::kUnknownEngine, "/Dropped/UnknownEngine",
     "vorma_snmp_dropped_total{reason=\"unknown_engine\"}"},
    {TrapCount::kWrongDigest, "/WrongDigest", "vorma_snmp_wrong_digest_total"},
    {TrapCount::kDecryptionError, "/Dropped/DecryptionError",
     "vorma_snmp_dropped_total{reason=\"decryption_error\"}"},
    {TrapCount::kParseError, "/Dropped/ParseError",
     "vorma_snmp_dropped_total{reason=\"parse_error\"}"},
    {TrapCount::kLineFeedInName, "/Dropped/LineFeedInName",
     "vorma_snmp_dropped_total{reason=\"line_feed_in_name\"}"},
    {TrapCount::kEventLogFailures, "/EventLogWriteFailures",
     "vorma_snmp_event_log_write_failures_total"},
    {TrapCount::kFilterLogFailures, "/FilterLogWriteFailures",
     "vorma_snmp_filter_log_write_failures_total"},
    {TrapCount::kGetRequests, "/GetPass/Requests", "vorma_snmp_get_requests_total"},
    {TrapCount::kGetAnswers, "/GetPass/Answers", "vorma_snmp_get_answers_total"},
    {TrapCount::kGetFailures, "/GetPass/Failures", "vorma_snmp_get_failures_total"},
    {TrapCount::kQueueLength, "/Queue/Length", "vorma_snmp_queue_length"},
    {TrapCount::kQueuePeakLength, "/Queue/PeakLength", "vorma_snmp_queue_peak_length"},
    {TrapCount::kQueueBytes, "/Queue/Bytes", "vorma_snmp_queue_bytes"},
    {TrapCount::kQueuePeakBytes, "/Queue/PeakBytes", "vorma_snmp_queue_peak_bytes"},
};

// A snapshot in which every counter has a value of its own (its index times 1000 plus 1).
TrapCountersSnapshot Distinct() {
    TrapCountersSnapshot snapshot;
    for (std::size_t i = 0; i < snapshot.values.size(); ++i) {
        snapshot.values[i] = i * 1000 + 1;
    }
    return snapshot;
}

// The samples of an exposition text; fails the test on a sample line without its family's TYPE
// line before it or with a value that is not a number.
std::map<std::string, double> Samples(const std::string& text) {
    std::map<std::string, double> samples;
    std::map<std::string, std::string> types;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# TYPE ", 0) == 0) {
            std::istringstream fields(line.substr(7));
            std::string name, type;
            fields >> name >> type;
            types[name] = type;
            continue;
        }
        if (line.rfind("#", 0) == 0) {
            continue;
        }
        const std::size_t space = line.rfind(' ');
        const std::string sample = line.substr(0, space);
        const std::string family = sample.substr(0, sample.find('{'));
        EXPECT_TRUE(types.count(family)) << line;
        std::size_t used = 0;
        samples[sample] = std::stod(line.substr(space + 1), &used);
        EXPECT_EQ(used, line.size() - space - 1) << line;
    }
    return samples;
}

TEST(CountersFormatTest, EveryCounterShowsUnderItsOwnNameInBothForms) {
    ASSERT_EQ(kPlacements.size(), static_cast<std::size_t>(TrapCount::kCount));
    const TrapCountersSnapshot snapshot = Distinct();
    const json object = json::parse(CCountersFormat::ToJson(snapshot));
    const std::map<std::string, double> samples = Samples(CCountersFormat::ToPrometheus(snapshot));
    for (const Placement& p : kPlacements) {
        EXPECT_EQ(object[json::json_pointer(p.pointer)], snapshot[p.count]) << p.pointer;
        ASSERT_TRUE(samples.count(p.sample)) << p.sample;
        EXPECT_EQ(samples.at(p.sample), static_cast<double>(snapshot[p.count])) << p.sample;
    }
}

// The renderings and the table agree: every counter is in the table once, at the place that the
// published names above give it, and each family is headed once, on its first counter.
TEST(CountersFormatTest, TheTableHoldsEveryCounterOnceWhereItIsPublished) {
    const auto table = CCountersFormat::Counters();
    ASSERT_EQ(table.size(), kPlacements.size());
    std::set<TrapCount> counts;
    std::set<std::string> headed;
    for (const CCountersFormat::Counter& counter : table) {
        EXPECT_TRUE(counts.insert(counter.count).second) << counter.key;
        std::string pointer = "/";
        if (counter.group != nullptr) {
            pointer += std::string(counter.group) + "/";
        }
        pointer += counter.key;
        std::string sample = counter.metric;
        if (counter.label != nullptr) {
            sample += std::string("{") + counter.label + "=\"" + counter.labelValue + "\"}";
        }
        const auto placement =
            std::find_if(kPlacements.begin(), kPlacements.end(),
                         [&counter](const Placement& p) { return p.count == counter.count; });
        ASSERT_NE(placement, kPlacements.end()) << counter.key;
        EXPECT_EQ(pointer, placement->pointer);
        EXPECT_EQ(sample, placement->sample);
        const bool first = headed.insert(counter.metric).second;
        EXPECT_EQ(counter.help != nullptr, first) << counter.metric;
        EXPECT_EQ(counter.gauge,
                  std::string_view(counter.metric).find("_total") == std::string_view::npos)
            << counter.metric;
    }
}

TEST(CountersFormatTest, KernelDropsShowOnlyForTheFamiliesThatTellThem) {
    struct Case {
        KernelDrops drops;
        json expected;
        std::vector<std::string> samples;
    };
    const std::vector<Case> cases = {
        {{}, json::object(), {}},
        {{7, std::nullopt}, {{"IPv4", 7}}, {"vorma_snmp_kernel_drops_total{family=\"ipv4\"}"}},
        {{0, 12},
         {{"IPv4", 0}, {"IPv6", 12}},
         {"vorma_snmp_kernel_drops_total{family=\"ipv4\"}",
          "vorma_snmp_kernel_drops_total{family=\"ipv6\"}"}},
    };
    for (const Case& c : cases) {
        TrapCountersSnapshot snapshot;
        snapshot.kernelDrops = c.drops;
        EXPECT_EQ(json::parse(CCountersFormat::ToJson(snapshot))["KernelDrops"], c.expected);
        std::vector<std::string> shown;
        for (const auto& [name, value] : Samples(CCountersFormat::ToPrometheus(snapshot))) {
            if (name.rfind("vorma_snmp_kernel_drops_total", 0) == 0) {
                shown.push_back(name);
            }
        }
        EXPECT_EQ(shown, c.samples) << c.expected.dump();
    }
}

TEST(CountersFormatTest, RejectedSendersShowWithTheirReasonAndUtcTime) {
    TrapCountersSnapshot snapshot;
    // 2026-12-09 01:02:03 UTC
    const Clock::time_point when = Clock::from_time_t(1796778123);
    snapshot.rejected.push_back(
        {"192.0.2.1", "com\"munity\\", RejectReason::kAgentNotListening, 3, when});
    const json object = json::parse(CCountersFormat::ToJson(snapshot));
    EXPECT_EQ(object["RejectedSenders"], json::parse(R"([{"Address": "192.0.2.1",
        "CommunityOrUser": "com\"munity\\", "Reason": "agent_not_listening", "Count": 3,
        "LastTime": "2026-12-09T01:02:03Z"}])"));
    // Bytes that are no UTF-8 (a community in another code page) do not break the object.
    snapshot.rejected[0].identity = "\xff\xfe";
    EXPECT_TRUE(json::accept(CCountersFormat::ToJson(snapshot)));
}

// What the stop left unread shows only once the stop has looked, with the figures the system gave.
TEST(CountersFormatTest, WhatTheStopLeftUnreadShowsInBothFormsAndOnTheConsole) {
    struct Case {
        const char* name;
        std::optional<UnreadBacklog> unread;
        json expected;  // the object's UnreadAtStop, or null for none
        std::vector<std::string> samples;
        std::string line;  // the console line
    };
    const std::vector<Case> cases = {
        {"while the manager runs", std::nullopt, nullptr, {}, ""},
        {"a stop that found no listener",
         UnreadBacklog{},
         json::object(),
         {},
         "The stop found no listening socket."},
        {"a stop with a backlog on IPv4",
         UnreadBacklog{SocketBacklog{23456768, 18691}, SocketBacklog{0, 0}},
         {{"IPv4", {{"Datagrams", 18691}, {"Bytes", 23456768}}},
          {"IPv6", {{"Datagrams", 0}, {"Bytes", 0}}}},
         {"vorma_snmp_unread_at_stop_datagrams{family=\"ipv4\"}",
          "vorma_snmp_unread_at_stop_datagrams{family=\"ipv6\"}",
          "vorma_snmp_unread_at_stop_bytes{family=\"ipv4\"}",
          "vorma_snmp_unread_at_stop_bytes{family=\"ipv6\"}"},
         "The stop left unread in the listening sockets: IPv4 18691 datagrams (23456768 bytes "
         "queued), lost as the socket closes; IPv6 0 datagrams (0 bytes queued), lost as the "
         "socket closes."},
        {"only the bytes told, one family listening",
         UnreadBacklog{std::nullopt, SocketBacklog{4096, std::nullopt}},
         {{"IPv6", {{"Bytes", 4096}}}},
         {"vorma_snmp_unread_at_stop_bytes{family=\"ipv6\"}"},
         "The stop left unread in the listening sockets: IPv6 4096 bytes queued, lost as the "
         "socket closes."},
        {"nothing told",
         UnreadBacklog{SocketBacklog{}, std::nullopt},
         {{"IPv4", json::object()}},
         {},
         "The stop left unread in the listening sockets: IPv4 (the system tells nothing), lost as "
         "the socket closes."},
        // A socket that the service manager passed keeps its datagrams for the next run.
        {"a passed socket beside one of the run's own",
         UnreadBacklog{SocketBacklog{1536, std::nullopt, true}, SocketBacklog{0, 0}},
         {{"IPv4", {{"Bytes", 1536}, {"KeptForNextRun", true}}},
          {"IPv6", {{"Datagrams", 0}, {"Bytes", 0}}}},
         {"vorma_snmp_unread_at_stop_datagrams{family=\"ipv6\"}",
          "vorma_snmp_unread_at_stop_bytes{family=\"ipv4\"}",
          "vorma_snmp_unread_at_stop_bytes{family=\"ipv6\"}"},
         "The stop left unread in the listening sockets: IPv4 1536 bytes queued, kept in the "
         "socket for the next run; IPv6 0 datagrams (0 bytes queued), lost as the socket "
         "closes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrapCountersSnapshot snapshot;
        snapshot.unreadAtStop = c.unread;
        const json object = json::parse(CCountersFormat::ToJson(snapshot));
        if (c.expected.is_null()) {
            EXPECT_FALSE(object.contains("UnreadAtStop")) << object.dump();
        } else {
            EXPECT_EQ(object["UnreadAtStop"], c.expected);
        }
        std::vector<std::string> shown;
        const std::string exposition = CCountersFormat::ToPrometheus(snapshot);
        for (const auto& [name, value] : Samples(exposition)) {
            if (name.rfind("vorma_snmp_unread_at_stop_", 0) == 0) {
                shown.push_back(name);
            }
        }
        std::vector<std::string> expectedSamples = c.samples;
        std::sort(expectedSamples.begin(), expectedSamples.end());
        EXPECT_EQ(shown, expectedSamples);
        if (c.unread) {
            EXPECT_EQ(CCountersFormat::UnreadAtStopLine(*c.unread), c.line);
        }
    }
}

// Text from the network in the published forms: the status file's JSON means the same text but
// holds nothing a terminal acts on; a label value keeps the exposition format valid and inert.
TEST(CountersFormatTest, HostileTextStaysInertInTheStatusFileAndInLabelValues) {
    const struct {
        std::string text;
        std::string label;  // as the exposition file holds it between the quotes
    } cases[] = {
        {"\x1b[2J\x1b[31m EVIL\tX", "\\\\x1B[2J\\\\x1B[31m EVIL\\\\x09X"},
        {"a\nb\rc", "a\\\\x0Ab\\\\x0Dc"},
        {"\xc2\x9b"
         "31m\xe2\x80\xae"
         "cilbup",
         "\\\\u009B31m\\\\u202Ecilbup"},
        {"q\"uote\\", "q\\\"uote\\\\"},
        {"\x7f\xff", "\\\\x7F\\\\xFF"},
        {"\xe7\xb5\x84", "\xe7\xb5\x84"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(CCountersFormat::LabelValue(c.text), c.label);

        TrapCountersSnapshot snapshot;
        snapshot.rejected.push_back(
            {c.text, c.text, RejectReason::kLineFeedInName, 1, Clock::from_time_t(0)});
        const std::string text = CCountersFormat::ToJson(snapshot);
        for (const char byte : text) {
            EXPECT_GE(static_cast<unsigned char>(byte), 0x20) << text;
            EXPECT_NE(static_cast<unsigned char>(byte), 0x7F) << text;
        }
        EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << text;
        EXPECT_EQ(text.find("\xe2\x80\xae"), std::string::npos) << text;
        const json object = json::parse(text);
        const json& sender = object["RejectedSenders"][0];
        EXPECT_EQ(sender["Reason"], "line_feed_in_name");
        if (c.text != "\x7f\xff") {  // not UTF-8: written as a replacement character
            EXPECT_EQ(sender["Address"], c.text);
            EXPECT_EQ(sender["CommunityOrUser"], c.text);
        }
    }
}

}  // namespace
