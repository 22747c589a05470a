#include "platform/Program.h"

#include <algorithm>
#include <string>

#include "platform/Text.h"
#include "platform/win32/WindowsHeaders.h"

namespace platform {

std::vector<std::wstring> ProgramArguments(int argc, char** argv) {
    // The arguments as the system passed them, in UTF-16, not as the C run time converted them
    // to the ANSI code page.
    std::vector<std::wstring> args;
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (words != nullptr) {
        args.assign(words, words + count);
        ::LocalFree(words);
        return args;
    }
    for (int i = 0; i < argc; ++i) {
        args.push_back(LocaleToWide(argv[i]));
    }
    return args;
}

int ExitStatus(unsigned long result) {
    return static_cast<int>(result);
}

namespace {

void PrintToStandardHandle(DWORD which, const std::wstring& text) {
    HANDLE out = ::GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    if (::GetConsoleMode(out, &mode)) {
        // A console takes UTF-16 directly.
        const wchar_t* p = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            DWORD written = 0;
            DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 8192));
            if (!::WriteConsoleW(out, p, chunk, &written, nullptr) || written == 0) {
                return;
            }
            p += written;
            left -= written;
        }
        return;
    }
    // Redirected to a file or a pipe: bytes in the locale's code page.
    std::string bytes = WideToLocale(text);
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 20));
        if (!::WriteFile(out, p, chunk, &written, nullptr) || written == 0) {
            return;
        }
        p += written;
        left -= written;
    }
}

}  // namespace

void PrintToConsole(const std::wstring& text) {
    PrintToStandardHandle(STD_OUTPUT_HANDLE, text);
}

void PrintErrorToConsole(const std::wstring& text) {
    PrintToStandardHandle(STD_ERROR_HANDLE, text);
}

}  // namespace platform
