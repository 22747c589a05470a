// The files in which a service shows how it runs: the status file
// $VORMA_SYSROOT/services/<name>.json (the last status report and the last counters), the history
// of its status reports beside it (<name>.history.jsonl, one line each), and the metrics file
// <name>.prom in the service's MetricsDirectory (see README, "Linux layout"). The dispatcher of
// platform/posix/Service.cpp reports through it; the public functions are those of
// platform/Service.h.
#pragma once

#include <string>
#include <string_view>

#include "platform/Service.h"

namespace platform::posix {

// The service's key below HKEY_LOCAL_MACHINE: SYSTEM\CurrentControlSet\Services\<name>.
std::wstring ServiceKeyPath(std::wstring_view name);

// Appends the report to the history and rewrites the status file with it (the counters kept).
// False when the status file cannot be written.
bool WriteServiceStatusReport(std::wstring_view name, const ServiceStatus& status);

}  // namespace platform::posix
