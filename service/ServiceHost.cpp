#include "service/ServiceHost.h"

#include <memory>
#include <mutex>

#include "platform/Event.h"
#include "platform/Service.h"
#include "reporter/ServiceNames.h"

namespace {

// State shared by the service main and the control handler.
struct HostState {
    std::mutex mutex;  // guards everything below
    platform::ServiceStatus status;
    platform::ServiceStatusHandle statusHandle = 0;
    std::shared_ptr<platform::Event> stopRequest;
    std::shared_ptr<platform::Event> stopped;
    // Set by the first stop or shutdown control and kept to the end: the service main starts no
    // run after it and no report says START_PENDING or RUNNING after STOP_PENDING.
    bool stopRequested = false;
    // Once STOPPED has been reported, nothing more is: a control that comes while the service
    // main returns must not write STOP_PENDING after it.
    bool stoppedReported = false;
    CVormaSNMPManageScheduler::StartUpFailure startUpFailure =
        CVormaSNMPManageScheduler::StartUpFailure::kNone;
};

HostState& Host() {
    static HostState state;
    return state;
}

// Called with host.mutex held.
void ReportStatusLocked(HostState& host, std::uint32_t state, std::uint32_t checkPoint,
                        std::uint32_t waitHint) {
    if (host.stoppedReported) {
        return;
    }
    if (host.stopRequested &&
        (state == platform::kServiceStartPending || state == platform::kServiceRunning)) {
        return;
    }
    host.status.serviceType = platform::kServiceWin32OwnProcess;
    host.status.currentState = state;
    host.status.controlsAccepted = platform::kServiceAcceptStop | platform::kServiceAcceptShutdown;
    host.status.win32ExitCode = 0;
    host.status.serviceSpecificExitCode = 0;
    host.status.checkPoint = checkPoint;
    host.status.waitHint = waitHint;
    platform::ReportServiceStatus(host.statusHandle, host.status);
    host.stoppedReported = state == platform::kServiceStopped;
}

void ReportStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint) {
    HostState& host = Host();
    std::lock_guard<std::mutex> lock(host.mutex);
    ReportStatusLocked(host, state, checkPoint, waitHint);
}

void OnSchedulerStopped() {
    std::shared_ptr<platform::Event> stopped;
    {
        std::lock_guard<std::mutex> lock(Host().mutex);
        stopped = Host().stopped;
    }
    if (stopped) {
        stopped->Set();
    }
}

}  // namespace

std::uint32_t ServiceControlHandler(std::uint32_t control, std::uint32_t /*eventType*/,
                                    void* /*eventData*/, void* /*context*/) {
    HostState& host = Host();
    switch (control) {
        case platform::kServiceControlStop:
        case platform::kServiceControlShutdown: {
            std::shared_ptr<platform::Event> stopRequest;
            {
                std::lock_guard<std::mutex> lock(host.mutex);
                if (host.stopRequested) {
                    break;  // the stop is under way; a repeated control asks for nothing more
                }
                ReportStatusLocked(host, platform::kServiceStopPending, 0, 0);
                host.stopRequested = true;
                stopRequest = host.stopRequest;
            }
            if (stopRequest) {
                stopRequest->Set();
            }
            break;
        }
        case platform::kServiceControlInterrogate: {
            std::lock_guard<std::mutex> lock(host.mutex);
            if (!host.stoppedReported) {
                platform::ReportServiceStatus(host.statusHandle, host.status);
            }
            break;
        }
        default:
            break;
    }
    return 0;
}

void ServiceMain() {
    HostState& host = Host();
    auto scheduler = std::make_unique<CVormaSNMPManageScheduler>();
    // The events exist before the handler is registered: a control that was waiting for the
    // handler is delivered as soon as it is, and must find them. The handler runs on the
    // dispatcher's thread and takes the host's lock, which is not held while it is called, so
    // holding the lock here across the registration cannot deadlock.
    auto stopped = std::make_shared<platform::Event>(platform::Event::Reset::kManual);
    auto stopRequest = std::make_shared<platform::Event>(platform::Event::Reset::kAuto);
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        host.stopped = stopped;
        host.stopRequest = stopRequest;
        host.stopRequested = false;
        host.stoppedReported = false;
        host.startUpFailure = CVormaSNMPManageScheduler::StartUpFailure::kNone;
        host.statusHandle =
            platform::RegisterServiceControlHandler(kServiceName, &ServiceControlHandler, nullptr);
        // Still under the lock: a waiting control, delivered once the handler is registered, is
        // handled after this first report, not before it.
        ReportStatusLocked(host, platform::kServiceStartPending, 1, 2000);
    }

    scheduler->m_stopCallback = &OnSchedulerStopped;
    // The service main keeps its own reference: the scheduler lets go of the event when its run
    // ends, and a stop request may still arrive after that.
    std::shared_ptr<platform::Event> schedulerStop =
        std::make_shared<platform::Event>(platform::Event::Reset::kAuto);
    scheduler->m_stopEvent = schedulerStop;

    bool stopBeforeStart = false;
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        stopBeforeStart = host.stopRequested;
    }
    // A stop that came before the run began ends the service without a run (and without events).
    if (!stopBeforeStart) {
        scheduler->Start();
        ReportStatus(platform::kServiceRunning, 0, 0);
        while (true) {
            std::size_t which = platform::Event::WaitAny({stopRequest.get(), stopped.get()});
            if (which == 0) {
                schedulerStop->Set();
                continue;
            }
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        host.stopped.reset();
        host.stopRequest.reset();
        if (!stopBeforeStart) {
            host.startUpFailure = scheduler->StartUpFailureOfRun();
        }
        ReportStatusLocked(host, platform::kServiceStopped, 0, 0);
    }
    scheduler.reset();
}

CVormaSNMPManageScheduler::StartUpFailure ServiceRunStartUpFailure() {
    std::lock_guard<std::mutex> lock(Host().mutex);
    return Host().startUpFailure;
}
