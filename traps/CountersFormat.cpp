#include "traps/CountersFormat.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "platform/UntrustedText.h"

namespace {

using Json = nlohmann::ordered_json;

std::uint64_t Value(const TrapCountersSnapshot& s, TrapCount count) {
    return s[count];
}

struct Sample {
    const char* label;  // the label's name, or null for a sample without one
    const char* value;  // its value
    TrapCount count;
};

// `{name="value"}`, the value escaped.
std::string Labels(std::string_view name, std::string_view value) {
    // Appended piece by piece: gcc 12 warns (-Wrestrict, wrongly) of a literal added to a
    // temporary string when optimising.
    std::string labels = "{";
    labels += name;
    labels += "=\"";
    labels += CCountersFormat::LabelValue(value);
    labels += "\"}";
    return labels;
}

struct Metric {
    const char* name;
    const char* type;
    const char* help;
    std::vector<Sample> samples;
};

const std::vector<Metric>& Metrics() {
    static const std::vector<Metric> metrics = {
        {"vorma_snmp_datagrams_read_total",
         "counter",
         "Datagrams read from the listening sockets.",
         {{nullptr, nullptr, TrapCount::kDatagramsRead}}},
        {"vorma_snmp_notifications_total",
         "counter",
         "Notifications rendered to trap texts, by SNMP version.",
         {{"version", "v1", TrapCount::kNotificationsV1},
          {"version", "v2c", TrapCount::kNotificationsV2c},
          {"version", "v3", TrapCount::kNotificationsV3}}},
        {"vorma_snmp_informs_answered_total",
         "counter",
         "Informs answered.",
         {{nullptr, nullptr, TrapCount::kInformsAnswered}}},
        {"vorma_snmp_events_written_total",
         "counter",
         "Trap texts written to the event log as event 2000.",
         {{nullptr, nullptr, TrapCount::kEventsWritten}}},
        {"vorma_snmp_held_back_total",
         "counter",
         "Trap texts the white and black lists sent to the filter log.",
         {{nullptr, nullptr, TrapCount::kHeldBack}}},
        {"vorma_snmp_dropped_total",
         "counter",
         "Datagrams and notifications dropped, by reason.",
         {{"reason", "no_agent_entry", TrapCount::kNoAgentEntry},
          {"reason", "agent_not_listening", TrapCount::kAgentNotListening},
          {"reason", "community", TrapCount::kCommunity},
          {"reason", "unknown_user", TrapCount::kUnknownUser},
          {"reason", "unknown_engine", TrapCount::kUnknownEngine},
          {"reason", "decryption_error", TrapCount::kDecryptionError},
          {"reason", "parse_error", TrapCount::kParseError},
          {"reason", "line_feed_in_name", TrapCount::kLineFeedInName}}},
        {"vorma_snmp_wrong_digest_total",
         "counter",
         "SNMPv3 messages whose authentication failed (written with the failure mark).",
         {{nullptr, nullptr, TrapCount::kWrongDigest}}},
        {"vorma_snmp_event_log_write_failures_total",
         "counter",
         "Trap events that could not be written to the event log.",
         {{nullptr, nullptr, TrapCount::kEventLogFailures}}},
        {"vorma_snmp_filter_log_write_failures_total",
         "counter",
         "Filter log lines that could not be written.",
         {{nullptr, nullptr, TrapCount::kFilterLogFailures}}},
        {"vorma_snmp_get_requests_total",
         "counter",
         "Requests of the Get pass run.",
         {{nullptr, nullptr, TrapCount::kGetRequests}}},
        {"vorma_snmp_get_answers_total",
         "counter",
         "Requests of the Get pass answered.",
         {{nullptr, nullptr, TrapCount::kGetAnswers}}},
        {"vorma_snmp_get_failures_total",
         "counter",
         "Requests of the Get pass that failed.",
         {{nullptr, nullptr, TrapCount::kGetFailures}}},
        {"vorma_snmp_queue_length",
         "gauge",
         "Trap texts waiting in the trap queue.",
         {{nullptr, nullptr, TrapCount::kQueueLength}}},
        {"vorma_snmp_queue_peak_length",
         "gauge",
         "The most trap texts the queue held at one time in this run.",
         {{nullptr, nullptr, TrapCount::kQueuePeakLength}}},
        {"vorma_snmp_queue_bytes",
         "gauge",
         "Bytes of the trap texts waiting in the trap queue.",
         {{nullptr, nullptr, TrapCount::kQueueBytes}}},
        {"vorma_snmp_queue_peak_bytes",
         "gauge",
         "The most bytes the queue held at one time in this run.",
         {{nullptr, nullptr, TrapCount::kQueuePeakBytes}}},
    };
    return metrics;
}

}  // namespace

const char* CCountersFormat::ReasonName(RejectReason reason) {
    switch (reason) {
        case RejectReason::kNoAgentEntry:
            return "no_agent_entry";
        case RejectReason::kAgentNotListening:
            return "agent_not_listening";
        case RejectReason::kCommunity:
            return "community";
        case RejectReason::kWrongDigest:
            return "wrong_digest";
        case RejectReason::kLineFeedInName:
            return "line_feed_in_name";
    }
    return "unknown";
}

std::string CCountersFormat::UtcText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string CCountersFormat::ToJson(const TrapCountersSnapshot& s) {
    Json kernel = Json::object();
    if (s.kernelDrops.ipv4) {
        kernel["IPv4"] = *s.kernelDrops.ipv4;
    }
    if (s.kernelDrops.ipv6) {
        kernel["IPv6"] = *s.kernelDrops.ipv6;
    }
    Json rejected = Json::array();
    for (const RejectedSender& sender : s.rejected) {
        rejected.push_back({{"Address", sender.address},
                            {"CommunityOrUser", sender.identity},
                            {"Reason", ReasonName(sender.reason)},
                            {"Count", sender.count},
                            {"LastTime", UtcText(sender.lastTime)}});
    }
    Json json = {
        {"Since", UtcText(s.since)},
        {"DatagramsRead", Value(s, TrapCount::kDatagramsRead)},
        {"Notifications",
         {{"V1", Value(s, TrapCount::kNotificationsV1)},
          {"V2c", Value(s, TrapCount::kNotificationsV2c)},
          {"V3", Value(s, TrapCount::kNotificationsV3)}}},
        {"InformsAnswered", Value(s, TrapCount::kInformsAnswered)},
        {"EventsWritten", Value(s, TrapCount::kEventsWritten)},
        {"HeldBack", Value(s, TrapCount::kHeldBack)},
        {"Dropped",
         {{"NoAgentEntry", Value(s, TrapCount::kNoAgentEntry)},
          {"AgentNotListening", Value(s, TrapCount::kAgentNotListening)},
          {"Community", Value(s, TrapCount::kCommunity)},
          {"UnknownUser", Value(s, TrapCount::kUnknownUser)},
          {"UnknownEngine", Value(s, TrapCount::kUnknownEngine)},
          {"DecryptionError", Value(s, TrapCount::kDecryptionError)},
          {"ParseError", Value(s, TrapCount::kParseError)},
          {"LineFeedInName", Value(s, TrapCount::kLineFeedInName)}}},
        {"WrongDigest", Value(s, TrapCount::kWrongDigest)},
        {"EventLogWriteFailures", Value(s, TrapCount::kEventLogFailures)},
        {"FilterLogWriteFailures", Value(s, TrapCount::kFilterLogFailures)},
        {"GetPass",
         {{"Requests", Value(s, TrapCount::kGetRequests)},
          {"Answers", Value(s, TrapCount::kGetAnswers)},
          {"Failures", Value(s, TrapCount::kGetFailures)}}},
        {"Queue",
         {{"Length", Value(s, TrapCount::kQueueLength)},
          {"PeakLength", Value(s, TrapCount::kQueuePeakLength)},
          {"Bytes", Value(s, TrapCount::kQueueBytes)},
          {"PeakBytes", Value(s, TrapCount::kQueuePeakBytes)}}},
        {"KernelDrops", kernel},
    };
    if (s.unreadAtStop) {
        Json unread = Json::object();
        for (const auto& [family, backlog] :
             {std::pair{"IPv4", s.unreadAtStop->ipv4}, std::pair{"IPv6", s.unreadAtStop->ipv6}}) {
            if (backlog) {
                Json figures = Json::object();
                if (backlog->datagrams) {
                    figures["Datagrams"] = *backlog->datagrams;
                }
                if (backlog->bytes) {
                    figures["Bytes"] = *backlog->bytes;
                }
                if (backlog->keptForNextRun) {
                    figures["KeptForNextRun"] = true;
                }
                unread[family] = figures;
            }
        }
        json["UnreadAtStop"] = unread;
    }
    json["RejectedSenders"] = rejected;
    // The rejected senders are text from the network: what the JSON writer leaves raw and a
    // terminal would act on is written as escapes too, so that the file can be printed as it is.
    return platform::EscapeUntrustedText(json.dump(-1, ' ', false, Json::error_handler_t::replace),
                                         platform::TextEscaping::kJson);
}

std::string CCountersFormat::ToPrometheus(const TrapCountersSnapshot& s) {
    std::ostringstream text;
    for (const Metric& metric : Metrics()) {
        text << "# HELP " << metric.name << ' ' << metric.help << '\n'
             << "# TYPE " << metric.name << ' ' << metric.type << '\n';
        for (const Sample& sample : metric.samples) {
            text << metric.name;
            if (sample.label != nullptr) {
                text << Labels(sample.label, sample.value);
            }
            text << ' ' << s[sample.count] << '\n';
        }
    }
    if (s.kernelDrops.ipv4 || s.kernelDrops.ipv6) {
        const char* name = "vorma_snmp_kernel_drops_total";
        text << "# HELP " << name
             << " Datagrams the system dropped at a listening socket whose receive buffer was "
                "full.\n"
             << "# TYPE " << name << " counter\n";
        if (s.kernelDrops.ipv4) {
            text << name << Labels("family", "ipv4") << ' ' << *s.kernelDrops.ipv4 << '\n';
        }
        if (s.kernelDrops.ipv6) {
            text << name << Labels("family", "ipv6") << ' ' << *s.kernelDrops.ipv6 << '\n';
        }
    }
    if (s.unreadAtStop) {
        const std::pair<const char*, const std::optional<SocketBacklog>*> families[] = {
            {"ipv4", &s.unreadAtStop->ipv4}, {"ipv6", &s.unreadAtStop->ipv6}};
        const struct {
            const char* name;
            const char* help;
            std::optional<std::uint64_t> SocketBacklog::*figure;
        } gauges[] = {
            {"vorma_snmp_unread_at_stop_datagrams",
             "Datagrams a listening socket still held, unread, when the stop of this run had "
             "written out the trap queue.",
             &SocketBacklog::datagrams},
            {"vorma_snmp_unread_at_stop_bytes",
             "Bytes of a listening socket's receive queue, unread, at the stop of this run, as the "
             "system accounts them.",
             &SocketBacklog::bytes},
        };
        for (const auto& gauge : gauges) {
            bool headed = false;
            for (const auto& [family, backlog] : families) {
                if (!*backlog || !((**backlog).*gauge.figure)) {
                    continue;
                }
                if (!headed) {
                    text << "# HELP " << gauge.name << ' ' << gauge.help << '\n'
                         << "# TYPE " << gauge.name << " gauge\n";
                    headed = true;
                }
                text << gauge.name << Labels("family", family) << ' '
                     << *((**backlog).*gauge.figure) << '\n';
            }
        }
    }
    const char* start = "vorma_snmp_start_time_seconds";
    text << "# HELP " << start << " When this run of the manager began (Unix time).\n"
         << "# TYPE " << start << " gauge\n"
         << start << ' '
         << std::chrono::duration_cast<std::chrono::seconds>(s.since.time_since_epoch()).count()
         << '\n';
    return text.str();
}

std::string CCountersFormat::LabelValue(std::string_view value) {
    // Shown on one line first (which leaves no line feed), then the exposition format's own
    // escapes: a backslash, a double quote and a line feed.
    std::string out;
    for (const char c : platform::EscapeUntrustedText(value, platform::TextEscaping::kOneLine)) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string CCountersFormat::UnreadAtStopLine(const UnreadBacklog& unread) {
    std::string line;
    for (const auto& [family, backlog] :
         {std::pair{"IPv4", &unread.ipv4}, std::pair{"IPv6", &unread.ipv6}}) {
        if (!*backlog) {
            continue;
        }
        const std::optional<std::uint64_t>& datagrams = (*backlog)->datagrams;
        const std::optional<std::uint64_t>& bytes = (*backlog)->bytes;
        line += line.empty() ? " " : "; ";
        line += family;
        // Appended piece by piece: gcc 12 warns (-Wrestrict, wrongly) of a literal added to a
        // temporary string when optimising.
        if (datagrams) {
            line += ' ';
            line += std::to_string(*datagrams);
            line += " datagrams";
        }
        if (bytes) {
            line += datagrams ? " (" : " ";
            line += std::to_string(*bytes);
            line += " bytes queued";
            if (datagrams) {
                line += ')';
            }
        }
        if (!datagrams && !bytes) {
            line += " (the system tells nothing)";
        }
        line += (*backlog)->keptForNextRun ? ", kept in the socket for the next run"
                                           : ", lost as the socket closes";
    }
    if (line.empty()) {
        return "The stop found no listening socket.";
    }
    return "The stop left unread in the listening sockets:" + line + ".";
}
