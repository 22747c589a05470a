#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/Text.h"

namespace platform {

std::uint32_t LastSystemError() {
    return static_cast<std::uint32_t>(errno);
}

namespace {

// The emulated registry and service control manager answer with Win32 error numbers. Those above
// the errno range get the Windows text; below it, an errno and a Win32 number cannot be told
// apart and the errno text is given.
struct Win32Text {
    std::uint32_t code;
    const wchar_t* text;
};

constexpr Win32Text kWin32Texts[] = {
    {183, L"Cannot create a file when that file already exists."},
    {234, L"More data is available."},
    {258, L"The wait operation timed out."},
    {259, L"No more data is available."},
    {1015, L"The registry is corrupted."},
    {1018, L"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1060, L"The specified service does not exist as an installed service."},
    {1062, L"The service has not been started."},
    {1063, L"The service process could not connect to the service controller."},
    {1073, L"The specified service already exists."},
};

}  // namespace

std::wstring SystemErrorText(std::uint32_t code) {
    for (const Win32Text& entry : kWin32Texts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    if (code == 0 || code > 4095) {
        return {};
    }
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not be in `buffer`.
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) {
        return {};
    }
    return LocaleToWide(text);
}

}  // namespace platform
