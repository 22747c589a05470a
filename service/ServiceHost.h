// The service main and its control handler: they own the manager scheduler for the life of the
// service and report the service's states.
#pragma once

#include <cstdint>

#include "traps/VormaSNMPManageScheduler.h"

// Started by the service control dispatcher. Returns when the scheduler has stopped.
void ServiceMain();

// After the service main has returned: why the run ended by a start-up failure (the product
// server's settings, the installation folder or UDP port 162 on both families), or kNone when it
// ended by a stop.
CVormaSNMPManageScheduler::StartUpFailure ServiceRunStartUpFailure();

// Runs on the dispatcher's thread: stop and shutdown request the stop, interrogate re-reports
// the current status. Always 0.
std::uint32_t ServiceControlHandler(std::uint32_t control, std::uint32_t eventType, void* eventData,
                                    void* context);
