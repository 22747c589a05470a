#include "platform/ComputerName.h"

#include <unistd.h>

#include <climits>
#include <string>

#include "platform/Text.h"

namespace platform {

std::wstring LocalComputerName() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        return {};
    }
    return Utf8ToWide(buffer);
}

}  // namespace platform
