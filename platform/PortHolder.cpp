#include "platform/PortHolder.h"

namespace platform {

std::wstring DescribeUdpPortHolders(std::uint16_t port) {
    std::wstring text;
    for (const UdpPortHolder& holder : FindUdpPortHolders(port)) {
        if (!text.empty()) {
            text += L", ";
        }
        text += (holder.name.empty() ? L"?" : holder.name) + L" (process " +
                std::to_wstring(holder.processId) + L")";
    }
    return text;
}

}  // namespace platform
