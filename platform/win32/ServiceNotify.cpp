#include "platform/ServiceNotify.h"

namespace platform {

void NotifyServiceReady() {}

void NotifyServiceStopping() {}

}  // namespace platform
