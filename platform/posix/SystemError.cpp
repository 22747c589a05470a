#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/Text.h"

namespace platform {

std::uint32_t LastSystemError() {
    return static_cast<std::uint32_t>(errno);
}

std::wstring SystemErrorText(std::uint32_t code) {
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
