// Notices to the system's service manager beyond the status reports of Service.h.
// Linux: systemd's notification socket (sd_notify); nothing happens where the process was not
// started with one ($NOTIFY_SOCKET unset), so a run from a shell or another supervisor is
// unaffected. Windows: nothing; the service control manager learns everything from the status
// reports.
#pragma once

namespace platform {

// The service takes its work now: a unit of Type=notify counts as started from here.
void NotifyServiceReady();

// The service has begun to stop; the stop itself may take a while (it writes out what it holds).
void NotifyServiceStopping();

}  // namespace platform
