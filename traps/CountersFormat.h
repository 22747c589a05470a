// The two published forms of the trap counters: the JSON object that the service's status shows
// under "Counters", and the Prometheus text exposition format (node_exporter's textfile
// collector), whose metrics are named vorma_snmp_..._total for counters, with a "reason" label
// on the drops, and plain names for the trap queue's gauges.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "traps/TrapCounters.h"

class CCountersFormat {
  public:
    // Where one counter shows in the two forms: in the JSON object as `key`, inside the object
    // `group` where there is one, and as a sample of the metric family `metric`, with the label
    // `label`="`labelValue`" where there is one. The family's HELP text and type are on its first
    // counter (`help` null on the others of the family).
    struct Counter {
        TrapCount count;
        const char* group;
        const char* key;
        const char* metric;
        const char* label;
        const char* labelValue;
        const char* help;
        bool gauge;
    };

    // Every counter, once, in the order of both forms.
    static std::span<const Counter> Counters();

    // The reason as the published forms name it ("no_agent_entry", ...).
    static const char* ReasonName(RejectReason reason);

    // One JSON object, without line breaks.
    static std::string ToJson(const TrapCountersSnapshot& snapshot);

    // The exposition text: HELP and TYPE lines, then the samples, each line ended by LF. Every
    // label value goes through LabelValue.
    static std::string ToPrometheus(const TrapCountersSnapshot& snapshot);

    // A label value as the exposition file holds it: shown on one line as
    // platform::EscapeUntrustedText shows text from the network, then with the format's escapes
    // of backslash, double quote and line feed, so that the file stays valid and printable
    // whatever the value holds.
    static std::string LabelValue(std::string_view value);

    // The console line of the stop about what it left unread in the listening sockets:
    // "The stop left unread in the listening sockets: IPv4 364 datagrams (332800 bytes queued),
    // lost as the socket closes; IPv6 1536 bytes queued, kept in the socket for the next run."
    static std::string UnreadAtStopLine(const UnreadBacklog& unread);

    // A UTC time as "2026-12-09T01:02:03Z".
    static std::string UtcText(std::chrono::system_clock::time_point time);
};
