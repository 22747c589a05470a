#include "traps/CountersFormat.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "platform/UntrustedText.h"

namespace {

using Json = nlohmann::ordered_json;

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

// Every counter in the order of both forms.
const CCountersFormat::Counter kCounters[] = {
    {TrapCount::kDatagramsRead, nullptr, "DatagramsRead", "vorma_snmp_datagrams_read_total",
     nullptr, nullptr, "Datagrams read from the listening sockets.", false},
    {TrapCount::kNotificationsV1, "Notifications", "V1", "vorma_snmp_notifications_total",
     "version", "v1", "Notifications rendered to trap texts, by SNMP version.", false},
    {TrapCount::kNotificationsV2c, "Notifications", "V2c", "vorma_snmp_notifications_total",
     "version", "v2c", nullptr, false},
    {TrapCount::kNotificationsV3, "Notifications", "V3", "vorma_snmp_notifications_total",
     "version", "v3", nullptr, false},
    {TrapCount::kInformsAnswered, nullptr, "InformsAnswered", "vorma_snmp_informs_answered_total",
     nullptr, nullptr, "Informs answered.", false},
    {TrapCount::kEventsWritten, nullptr, "EventsWritten", "vorma_snmp_events_written_total",
     nullptr, nullptr, "Trap texts written to the event log as event 2000.", false},
    {TrapCount::kHeldBack, nullptr, "HeldBack", "vorma_snmp_held_back_total", nullptr, nullptr,
     "Trap texts the white and black lists sent to the filter log.", false},
    {TrapCount::kNoAgentEntry, "Dropped", "NoAgentEntry", "vorma_snmp_dropped_total", "reason",
     "no_agent_entry", "Datagrams and notifications dropped, by reason.", false},
    {TrapCount::kAgentNotListening, "Dropped", "AgentNotListening", "vorma_snmp_dropped_total",
     "reason", "agent_not_listening", nullptr, false},
    {TrapCount::kCommunity, "Dropped", "Community", "vorma_snmp_dropped_total", "reason",
     "community", nullptr, false},
    {TrapCount::kUnknownUser, "Dropped", "UnknownUser", "vorma_snmp_dropped_total", "reason",
     "unknown_user", nullptr, false},
    {TrapCount::kUnknownEngine, "Dropped", "UnknownEngine", "vorma_snmp_dropped_total", "reason",
     "unknown_engine", nullptr, false},
    {TrapCount::kDecryptionError, "Dropped", "DecryptionError", "vorma_snmp_dropped_total",
     "reason", "decryption_error", nullptr, false},
    {TrapCount::kParseError, "Dropped", "ParseError", "vorma_snmp_dropped_total", "reason",
     "parse_error", nullptr, false},
    {TrapCount::kLineFeedInName, "Dropped", "LineFeedInName", "vorma_snmp_dropped_total", "reason",
     "line_feed_in_name", nullptr, false},
    {TrapCount::kWrongDigest, nullptr, "WrongDigest", "vorma_snmp_wrong_digest_total", nullptr,
     nullptr, "SNMPv3 messages whose authentication failed (written with the failure mark).",
     false},
    {TrapCount::kEventLogFailures, nullptr, "EventLogWriteFailures",
     "vorma_snmp_event_log_write_failures_total", nullptr, nullptr,
     "Trap events that could not be written to the event log.", false},
    {TrapCount::kFilterLogFailures, nullptr, "FilterLogWriteFailures",
     "vorma_snmp_filter_log_write_failures_total", nullptr, nullptr,
     "Filter log lines that could not be written.", false},
    {TrapCount::kGetRequests, "GetPass", "Requests", "vorma_snmp_get_requests_total", nullptr,
     nullptr, "Requests of the Get pass run.", false},
    {TrapCount::kGetAnswers, "GetPass", "Answers", "vorma_snmp_get_answers_total", nullptr, nullptr,
     "Requests of the Get pass answered.", false},
    {TrapCount::kGetFailures, "GetPass", "Failures", "vorma_snmp_get_failures_total", nullptr,
     nullptr, "Requests of the Get pass that failed.", false},
    {TrapCount::kQueueLength, "Queue", "Length", "vorma_snmp_queue_length", nullptr, nullptr,
     "Trap texts waiting in the trap queue.", true},
    {TrapCount::kQueuePeakLength, "Queue", "PeakLength", "vorma_snmp_queue_peak_length", nullptr,
     nullptr, "The most trap texts the queue held at one time in this run.", true},
    {TrapCount::kQueueBytes, "Queue", "Bytes", "vorma_snmp_queue_bytes", nullptr, nullptr,
     "Bytes of the trap texts waiting in the trap queue.", true},
    {TrapCount::kQueuePeakBytes, "Queue", "PeakBytes", "vorma_snmp_queue_peak_bytes", nullptr,
     nullptr, "The most bytes the queue held at one time in this run.", true},
};

}  // namespace

std::span<const CCountersFormat::Counter> CCountersFormat::Counters() {
    return kCounters;
}

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
    };
    for (const Counter& counter : kCounters) {
        Json& place = counter.group != nullptr ? json[counter.group] : json;
        place[counter.key] = s[counter.count];
    }
    json["KernelDrops"] = kernel;
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
    for (const Counter& counter : kCounters) {
        if (counter.help != nullptr) {
            text << "# HELP " << counter.metric << ' ' << counter.help << '\n'
                 << "# TYPE " << counter.metric << ' ' << (counter.gauge ? "gauge" : "counter")
                 << '\n';
        }
        text << counter.metric;
        if (counter.label != nullptr) {
            text << Labels(counter.label, counter.labelValue);
        }
        text << ' ' << s[counter.count] << '\n';
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
