#include "platform/Program.h"

#include <unistd.h>

#include "platform/Text.h"
#include "platform/posix/WriteAll.h"

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

void WriteText(int fd, const std::wstring& text) {
    // What the console cannot take is lost: there is no one else to tell.
    (void)posix::WriteAll(fd, WideToLocale(text));
}

}  // namespace

void PrintToConsole(const std::wstring& text) {
    WriteText(STDOUT_FILENO, text);
}

void PrintErrorToConsole(const std::wstring& text) {
    WriteText(STDERR_FILENO, text);
}

}  // namespace platform
