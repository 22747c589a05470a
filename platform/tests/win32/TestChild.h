// The child program of the Windows platform tests (child/TestChild.cpp), which the build puts
// beside the test program.
#pragma once

#include <string>

#include "platform/CommandLine.h"
#include "platform/Path.h"

namespace test {

inline std::wstring TestChildPath() {
    std::wstring self = platform::ModuleFilePath();
    return self.substr(0, self.find_last_of(L"\\/") + 1) + L"platform_test_child.exe";
}

// The command line that starts the child with `args`, each quoted as it needs.
inline std::wstring TestChildCommand(std::initializer_list<std::wstring> args) {
    std::wstring line = platform::QuoteCommandLineArgument(TestChildPath());
    for (const std::wstring& arg : args) {
        line += L" " + platform::QuoteCommandLineArgument(arg);
    }
    return line;
}

}  // namespace test
