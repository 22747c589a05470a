#include <gtest/gtest.h>

#include <string>

#include "platform/Process.h"
#include "platform/Win32Error.h"

namespace {

using platform::ChildProcess;
using platform::Pipe;

struct RunResult {
    std::uint32_t startError = 0;
    std::uint32_t exitCode = 0;
    std::string output;
    int timeouts = 0;
};

// Runs a command the way the snmpget runner does: wait in 100 ms steps, draining the pipe.
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
    RunResult r = RunCommand(L"/bin/sh -c \"printf out; printf err >&2; exit 3\"");
    EXPECT_EQ(r.startError, 0u);
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_EQ(r.output, "outerr");
}

TEST(ProcessTest, ArgumentsFollowTheCommandLineRules) {
    RunResult r = RunCommand(L"/usr/bin/printf \"[%s]\" \"a b\" c\\\"d \"\"");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "[a b][c\"d][]");
}

TEST(ProcessTest, WaitsAcrossSeveralRoundsForASlowProgram) {
    RunResult r = RunCommand(L"/bin/sh -c \"sleep 0.35; echo done\"");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "done\n");
    EXPECT_GE(r.timeouts, 1);
}

TEST(ProcessTest, MissingProgramFailsToStartWithFileNotFound) {
    Pipe pipe;
    ASSERT_EQ(Pipe::Create(&pipe), 0u);
    ChildProcess process;
    EXPECT_EQ(ChildProcess::Start(L"/nonexistent/bin/snmpget -v 2c", pipe, &process),
              platform::kErrorFileNotFound);
    EXPECT_NE(ChildProcess::Start(L"", pipe, &process), 0u);
}

TEST(ProcessTest, ProgramKilledBySignalReportsAFailingExitCode) {
    RunResult r = RunCommand(L"/bin/sh -c \"kill -9 $$\"");
    EXPECT_EQ(r.exitCode, 128u + 9u);
}

}  // namespace
