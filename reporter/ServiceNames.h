// The names under which the manager meets the service control manager and the event log.
#pragma once

// The service, and the single-instance guard that is named after it.
inline constexpr wchar_t kServiceName[] = L"VORMASNMPManageService";

// The event-log source: note the "r" after "Manage", unlike the service name.
inline constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VORMASNMPManagerService";
