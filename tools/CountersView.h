// The manager's counters as the viewer shows them (vorma-eventlog --counters): read from the
// service's status file and printed as a table.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tools {

// A counter's name as a table shows it: "DatagramsRead" becomes "Datagrams read", "IPv4" stays.
std::string CounterLabel(std::string_view key);

// The table of a status file's contents: the service, its state and process, then one row per
// counter (a group's counters under the group's name), then the rejected senders. A status
// without counters says so.
std::string FormatCountersTable(const nlohmann::ordered_json& status);

}  // namespace tools
