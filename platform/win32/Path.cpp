#include "platform/Path.h"

#include <string>

#include "platform/win32/WindowsHeaders.h"

namespace platform {

wchar_t PathSeparator() {
    return L'\\';
}

std::wstring ExecutableFileName(std::wstring_view baseName) {
    return std::wstring(baseName) + L".exe";
}

std::wstring ModuleFilePath() {
    // The path may be longer than MAX_PATH (a \\?\ path): grow the buffer until it fits.
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
