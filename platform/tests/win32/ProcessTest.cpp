#include "platform/Process.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Text.h"
#include "platform/Win32Error.h"
#include "platform/tests/win32/TestChild.h"
#include "platform/win32/WindowsHeaders.h"

namespace {

using platform::ChildProcess;
using platform::Pipe;

struct RunResult {
    std::uint32_t startError = 0;
    std::uint32_t exitCode = 0;
    std::string output;
    int timeouts = 0;
};

// Runs a command the way the snmpget runner does: wait in 100 ms steps and drain the pipe before
// each look at the wait result, so that one read follows the end of the process. (The pipe is not
// read until it breaks: under Wine it may report 0 bytes rather than a broken pipe after the
// child has ended, so the end of the process is what ends the loop.)
RunResult RunCommand(const std::wstring& commandLine) {
    RunResult result;
    Pipe pipe;
    EXPECT_EQ(Pipe::Create(&pipe), 0u);
    ChildProcess process;
    result.startError = ChildProcess::Start(commandLine, pipe, &process);
    if (result.startError != 0) {
        return result;
    }
    std::uint32_t error = 0;
    ChildProcess::WaitStatus status = process.Wait(100, &error);
    while (true) {
        std::uint32_t available = 0;
        if (pipe.BytesAvailable(&available) == 0 && available > 0) {
            std::string buffer(4096, '\0');
            std::uint32_t read = 0;
            EXPECT_EQ(pipe.Read(buffer.data(), 4096, &read), 0u);
            result.output.append(buffer.data(), read);
        }
        if (status == ChildProcess::WaitStatus::kTimeout) {
            ++result.timeouts;
            status = process.Wait(100, &error);
            continue;
        }
        break;
    }
    EXPECT_EQ(status, ChildProcess::WaitStatus::kExited);
    EXPECT_EQ(process.ExitCode(&result.exitCode), 0u);
    return result;
}

TEST(ProcessTest, CapturesStdoutAndStderrAndTheExitCode) {
    const struct {
        const wchar_t* code;
        std::uint32_t expected;
    } cases[] = {{L"3", 3u}, {L"0", 0u}, {L"0x800700B7", 0x800700B7u}};
    for (const auto& c : cases) {
        RunResult r =
            RunCommand(test::TestChildCommand({L"print-and-exit", L"out", L"err", c.code}));
        EXPECT_EQ(r.startError, 0u);
        EXPECT_EQ(r.exitCode, c.expected) << c.code;
        EXPECT_EQ(r.output, "outerr");
    }
}

TEST(ProcessTest, ArgumentsFollowTheCommandLineRules) {
    // The child reads its arguments with ProgramArguments: what the portable splitter and the
    // system's own parsing see must be the same.
    std::wstring line = test::TestChildCommand({L"echo-args"}) + L" \"a b\" c\\\"d \"\" 日本";
    RunResult r = RunCommand(line);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(platform::Utf8ToWide(r.output), L"[a b][c\"d][][日本]");
}

TEST(ProcessTest, WaitsAcrossSeveralRoundsForASlowProgram) {
    RunResult r = RunCommand(test::TestChildCommand({L"sleep-then-print", L"350", L"done"}));
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "done");
    EXPECT_GE(r.timeouts, 1);
}

TEST(ProcessTest, MissingProgramFailsToStartWithFileNotFound) {
    Pipe pipe;
    ASSERT_EQ(Pipe::Create(&pipe), 0u);
    ChildProcess process;
    EXPECT_EQ(ChildProcess::Start(L"C:\\nonexistent\\bin\\snmpget.exe -v 2c", pipe, &process),
              platform::kErrorFileNotFound);
    EXPECT_NE(ChildProcess::Start(L"", pipe, &process), 0u);
    std::uint32_t code = 0;
    EXPECT_NE(process.ExitCode(&code), 0u);
}

// Handles this process made inheritable (a socket is inheritable by default) stay out of the
// child: it gets only the pipe's write end, which its output shows it has.
TEST(ProcessTest, TheChildInheritsOnlyThePipe) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE event = ::CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    HANDLE file = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inheritable,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    auto value = [](HANDLE h) { return std::to_wstring(reinterpret_cast<std::uintptr_t>(h)); };
    RunResult r = RunCommand(test::TestChildCommand({L"probe-handles", value(event), value(file)}));
    EXPECT_EQ(r.startError, 0u);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "absent\nabsent\n");
    ::CloseHandle(file);
    ::CloseHandle(event);
}

TEST(ProcessTest, ConsoleTextIsWrittenInTheLocaleCodePage) {
    // The child sets the system locale as the programs do; a pipe gets that locale's bytes.
    RunResult r = RunCommand(test::TestChildCommand({L"print-locale-text"}));
    EXPECT_EQ(r.exitCode, 0u);
    unsigned codePage = ::GetACP();
    if (codePage == platform::kCodePage932) {
        EXPECT_EQ(r.output, "\x93\xfa\x96\x7b\x8c\xea");
    } else {
        EXPECT_EQ(r.output, platform::WideToCodePage(codePage, L"日本語"))
            << "code page " << codePage;
    }
}

}  // namespace
