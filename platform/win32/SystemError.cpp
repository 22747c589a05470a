#include "platform/SystemError.h"

#include <string>

#include "platform/win32/WindowsHeaders.h"

namespace platform {

std::uint32_t LastSystemError() {
    return ::GetLastError();
}

std::wstring SystemErrorText(std::uint32_t code) {
    if (code == 0) {
        return {};
    }
    wchar_t* buffer = nullptr;
    DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n == 0 || buffer == nullptr) {
        return {};
    }
    std::wstring text(buffer, n);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace platform
