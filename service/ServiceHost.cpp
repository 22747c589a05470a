#include "service/ServiceHost.h"

#include <memory>
#include <mutex>

#include "platform/Event.h"
#include "platform/Service.h"
#include "service/ServiceNames.h"
#include "traps/VormaSNMPManageScheduler.h"

namespace {

// State shared by the service main and the control handler.
struct HostState {
    std::mutex mutex;  // guards status
    platform::ServiceStatus status;
    platform::ServiceStatusHandle statusHandle = 0;
    std::shared_ptr<platform::Event> stopRequest;
    std::shared_ptr<platform::Event> stopped;
};

HostState& Host() {
    static HostState state;
    return state;
}

void ReportStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint) {
    HostState& host = Host();
    std::lock_guard<std::mutex> lock(host.mutex);
    host.status.serviceType = platform::kServiceWin32OwnProcess;
    host.status.currentState = state;
    host.status.controlsAccepted = platform::kServiceAcceptStop | platform::kServiceAcceptShutdown;
    host.status.win32ExitCode = 0;
    host.status.serviceSpecificExitCode = 0;
    host.status.checkPoint = checkPoint;
    host.status.waitHint = waitHint;
    platform::ReportServiceStatus(host.statusHandle, host.status);
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
            ReportStatus(platform::kServiceStopPending, 0, 0);
            std::shared_ptr<platform::Event> stopRequest;
            {
                std::lock_guard<std::mutex> lock(host.mutex);
                stopRequest = host.stopRequest;
            }
            if (stopRequest) {
                stopRequest->Set();
            }
            break;
        }
        case platform::kServiceControlInterrogate: {
            std::lock_guard<std::mutex> lock(host.mutex);
            platform::ReportServiceStatus(host.statusHandle, host.status);
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
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        host.statusHandle =
            platform::RegisterServiceControlHandler(kServiceName, &ServiceControlHandler, nullptr);
    }
    ReportStatus(platform::kServiceStartPending, 1, 2000);

    auto stopped = std::make_shared<platform::Event>(platform::Event::Reset::kManual);
    auto stopRequest = std::make_shared<platform::Event>(platform::Event::Reset::kAuto);
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        host.stopped = stopped;
        host.stopRequest = stopRequest;
    }
    scheduler->m_stopCallback = &OnSchedulerStopped;
    // The service main keeps its own reference: the scheduler lets go of the event when its run
    // ends, and a stop request may still arrive after that.
    std::shared_ptr<platform::Event> schedulerStop =
        std::make_shared<platform::Event>(platform::Event::Reset::kAuto);
    scheduler->m_stopEvent = schedulerStop;
    scheduler->Start();
    ReportStatus(platform::kServiceRunning, 0, 0);

    while (true) {
        std::size_t which = platform::Event::WaitAny({stopRequest.get(), stopped.get()});
        if (which == 0) {
            schedulerStop->Set();
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(host.mutex);
            host.stopped.reset();
            host.stopRequest.reset();
        }
        ReportStatus(platform::kServiceStopped, 0, 0);
        break;
    }
    scheduler.reset();
}
