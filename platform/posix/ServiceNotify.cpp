#include "platform/ServiceNotify.h"

#include <systemd/sd-daemon.h>

namespace platform {

void NotifyServiceReady() {
    // $NOTIFY_SOCKET stays set, for the stop notice; a unit takes notices from its main process
    // only (NotifyAccess=main), so the children that inherit it cannot speak for the service.
    (void)sd_notify(0, "READY=1");
}

void NotifyServiceStopping() {
    (void)sd_notify(0, "STOPPING=1");
}

}  // namespace platform
