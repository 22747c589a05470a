#include "platform/ComputerName.h"

#include "platform/win32/WindowsHeaders.h"

namespace platform {

std::wstring LocalComputerName() {
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(buffer, &size)) {
        return {};
    }
    return std::wstring(buffer, size);
}

}  // namespace platform
