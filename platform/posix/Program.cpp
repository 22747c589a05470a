#include "platform/Program.h"

#include <unistd.h>

#include "platform/Text.h"

namespace platform {

std::vector<std::wstring> ProgramArguments(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 0; i < argc; ++i) {
        args.push_back(LocaleToWide(argv[i]));
    }
    return args;
}

int ExitStatus(unsigned long result) {
    return static_cast<int>(result & 0xFFu);
}

namespace {

void WriteAll(int fd, const std::wstring& text) {
    std::string bytes = WideToLocale(text);
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0) {
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace

void PrintToConsole(const std::wstring& text) {
    WriteAll(STDOUT_FILENO, text);
}

void PrintErrorToConsole(const std::wstring& text) {
    WriteAll(STDERR_FILENO, text);
}

}  // namespace platform
