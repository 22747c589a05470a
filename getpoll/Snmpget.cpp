#include "getpoll/Snmpget.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "platform/CommandLine.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Text.h"

namespace {

constexpr wchar_t kNoArguments[] = L"パラメーターが指定されていません。";
constexpr wchar_t kPipeFailed[] = L"パイプの作成に失敗しました。";
constexpr wchar_t kStartFailed[] = L"プロセスの生成に失敗しました。";
constexpr wchar_t kWaitFailed[] = L"エラーが発生しました。";
constexpr wchar_t kExitCodeFailed[] = L"プロセスの終了コード取得に失敗しました。";
constexpr wchar_t kToolFailed[] = L"snmpgetの実行に失敗しました。";

constexpr wchar_t kToolFolder[] = L"bin";
constexpr wchar_t kToolName[] = L"snmpget";
constexpr wchar_t kMibFolder[] = L"Common\\snmp\\mibs";

constexpr std::uint32_t kWaitStepMilliseconds = 100;
constexpr std::uint32_t kReadSize = 4096;

// "[%d]" of a code as the system gives it.
std::wstring Decimal(std::uint32_t code) {
    return L"[" + std::to_wstring(static_cast<std::int32_t>(code)) + L"]";
}

// "[0x%08lx]".
std::wstring Hexadecimal(std::uint32_t code) {
    wchar_t text[16];
    std::swprintf(text, sizeof text / sizeof text[0], L"[0x%08lx]",
                  static_cast<unsigned long>(code));
    return text;
}

void AppendQuoted(std::wstring& arguments, std::wstring_view option, const std::wstring& value) {
    arguments += option;
    arguments += L'"';
    arguments += value;
    arguments += L'"';
}

// Appends whatever waits in the pipe to `captured`, 4096 bytes at a time, without ever blocking.
void Drain(platform::Pipe& pipe, std::string& captured) {
    char buffer[kReadSize];
    std::uint32_t available = 0;
    while (pipe.BytesAvailable(&available) == 0 && available > 0) {
        std::uint32_t read = 0;
        if (pipe.Read(buffer, kReadSize, &read) != 0 || read == 0) {
            return;
        }
        captured.append(buffer, read);
    }
}

}  // namespace

std::wstring BuildSnmpgetArguments(const GetOidEntry& entry) {
    std::wstring arguments;
    if (entry.version == L"3") {
        const UsmEntry& usm = entry.usm;
        if (!usm.engineId.empty()) {
            arguments += L" -e " + usm.engineId;
        }
        arguments += L" -u " + usm.userName;
        if (usm.authProtocol.empty()) {
            // A privacy protocol without authentication cannot be used: the request goes out
            // without either.
            arguments += L" -l noAuthNoPriv";
        } else {
            arguments += L" -a " + usm.authProtocol;
            AppendQuoted(arguments, L" -A ", usm.authPassword);
            if (usm.privProtocol.empty()) {
                arguments += L" -l authNoPriv";
            } else {
                arguments += L" -x " + usm.privProtocol;
                AppendQuoted(arguments, L" -X ", usm.privPassword);
                arguments += L" -l authPriv";
            }
        }
    } else {
        arguments += L" -v " + entry.version;
        AppendQuoted(arguments, L" -c ", entry.community);
    }
    arguments += L' ';
    arguments += entry.agent;
    arguments += L' ';
    arguments += entry.oid;
    return arguments;
}

std::wstring BuildSnmpgetCommandLine(const std::wstring& installDir,
                                     const std::wstring& arguments) {
    const std::wstring tool = platform::AppendPath(platform::AppendPath(installDir, kToolFolder),
                                                   platform::ExecutableFileName(kToolName));
    const std::wstring mibs =
        platform::AppendPath(installDir, platform::NativeRelativePath(kMibFolder));
    std::wstring commandLine = platform::QuoteCommandLineArgument(tool);
    AppendQuoted(commandLine, L" -M ", mibs);
    commandLine += L' ';
    commandLine += arguments;
    return commandLine;
}

bool RunSnmpget(const std::wstring& installDir, const std::wstring& arguments,
                std::wstring& output) {
    output.clear();
    if (arguments.empty()) {
        output = kNoArguments;
        return false;
    }

    platform::Pipe pipe;
    if (std::uint32_t error = platform::Pipe::Create(&pipe); error != 0) {
        output = kPipeFailed + Decimal(error);
        return false;
    }
    platform::ChildProcess process;
    if (std::uint32_t error = platform::ChildProcess::Start(
            BuildSnmpgetCommandLine(installDir, arguments), pipe, &process);
        error != 0) {
        output = kStartFailed + Hexadecimal(error);
        return false;
    }

    // The pipe is read before each look at the process, so what the tool writes as it ends is
    // read after it has ended. Nothing of an answer that takes several reads is dropped.
    std::string captured;
    std::uint32_t error = 0;
    platform::ChildProcess::WaitStatus status = process.Wait(kWaitStepMilliseconds, &error);
    while (status != platform::ChildProcess::WaitStatus::kFailed) {
        Drain(pipe, captured);
        if (status == platform::ChildProcess::WaitStatus::kExited) {
            break;
        }
        status = process.Wait(kWaitStepMilliseconds, &error);
    }
    if (status == platform::ChildProcess::WaitStatus::kFailed) {
        output = kWaitFailed + Decimal(error);
        return false;
    }

    std::uint32_t exitCode = 0;
    if (std::uint32_t codeError = process.ExitCode(&exitCode); codeError != 0) {
        output = kExitCodeFailed + Decimal(codeError);
        return false;
    }
    // The tool's text ends at its first NUL byte, if it writes one.
    output = platform::CodePageToWide(platform::kCodePage932,
                                      std::string_view(captured).substr(0, captured.find('\0')));
    if (exitCode != 0) {
        output = kToolFailed + Decimal(exitCode) + L"\r\n" + output;
        return false;
    }
    return true;
}
