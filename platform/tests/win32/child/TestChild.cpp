// The child program of the Windows platform tests: started by them as a process, a mutex holder,
// an event writer or a service. Its first argument picks what it does:
//   print-and-exit OUT ERR CODE    OUT to standard output, ERR to standard error, exit with CODE
//   echo-args ARGS...              each argument as [ARG] on standard output
//   sleep-then-print MS TEXT       wait MS milliseconds, then print TEXT
//   print-locale-text              "日本語" through the process locale (after InitProcessLocale)
//   hold-mutex NAME EVENT MODE     hold mutex NAME, print "held", wait for event EVENT, then
//                                  release it (MODE release) or exit still holding it (abandon)
//   report-event SOURCE ID TYPE TEXT...   one event; exit code 0 when it was written
//   service NAME                   run as the service NAME until it is stopped, with the events
//                                  1100 "running" and 1101 "stopped" from the source NAME
//   probe-handles VALUE...         for each handle value (decimal), "inherited" or "absent":
//                                  whether this process has an inheritable handle of that value
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/EventLog.h"
#include "platform/NamedMutex.h"
#include "platform/Program.h"
#include "platform/Service.h"
#include "platform/Text.h"
#include "platform/win32/WindowsHeaders.h"

namespace {

std::wstring g_serviceName;
platform::Event* g_stop = nullptr;
platform::ServiceStatusHandle g_status = 0;

std::uint32_t Handler(std::uint32_t control, std::uint32_t, void*, void*) {
    if (control == platform::kServiceControlStop || control == platform::kServiceControlShutdown) {
        platform::ServiceStatus status;
        status.currentState = platform::kServiceStopPending;
        platform::ReportServiceStatus(g_status, status);
        g_stop->Set();
    }
    return 0;
}

// One information event under the service's name as its source.
void ReportState(std::uint32_t eventId, const wchar_t* text) {
    platform::EventLogSource source = platform::EventLogSource::Register(g_serviceName);
    source.Report(platform::kEventTypeInformation, 0, eventId, {text});
}

void ServiceMain() {
    g_status = platform::RegisterServiceControlHandler(g_serviceName, &Handler, nullptr);
    platform::ServiceStatus status;
    status.currentState = platform::kServiceRunning;
    status.controlsAccepted = platform::kServiceAcceptStop | platform::kServiceAcceptShutdown;
    platform::ReportServiceStatus(g_status, status);
    ReportState(1100, L"running");
    g_stop->Wait();
    ReportState(1101, L"stopped");
    status.currentState = platform::kServiceStopped;
    status.controlsAccepted = 0;
    platform::ReportServiceStatus(g_status, status);
}

void WriteBytes(DWORD which, const std::string& bytes) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                nullptr);
}

int Run(const std::vector<std::wstring>& args) {
    if (args.size() < 2) {
        return 100;
    }
    const std::wstring& mode = args[1];
    if (mode == L"print-and-exit" && args.size() == 5) {
        WriteBytes(STD_OUTPUT_HANDLE, platform::WideToUtf8(args[2]));
        WriteBytes(STD_ERROR_HANDLE, platform::WideToUtf8(args[3]));
        return static_cast<int>(std::wcstoul(args[4].c_str(), nullptr, 0));
    }
    if (mode == L"echo-args") {
        std::wstring out;
        for (std::size_t i = 2; i < args.size(); ++i) {
            out += L"[" + args[i] + L"]";
        }
        WriteBytes(STD_OUTPUT_HANDLE, platform::WideToUtf8(out));
        return 0;
    }
    if (mode == L"sleep-then-print" && args.size() == 4) {
        ::Sleep(std::wcstoul(args[2].c_str(), nullptr, 10));
        WriteBytes(STD_OUTPUT_HANDLE, platform::WideToUtf8(args[3]));
        return 0;
    }
    if (mode == L"probe-handles") {
        std::string out;
        for (std::size_t i = 2; i < args.size(); ++i) {
            HANDLE handle = reinterpret_cast<HANDLE>(
                static_cast<std::uintptr_t>(std::wcstoull(args[i].c_str(), nullptr, 10)));
            DWORD flags = 0;
            const bool inherited = ::GetHandleInformation(handle, &flags) != 0 &&
                                   (flags & HANDLE_FLAG_INHERIT) != 0;
            out += inherited ? "inherited\n" : "absent\n";
        }
        WriteBytes(STD_OUTPUT_HANDLE, out);
        return 0;
    }
    if (mode == L"print-locale-text") {
        platform::InitProcessLocale();
        platform::PrintToConsole(L"日本語");
        return 0;
    }
    if (mode == L"hold-mutex" && args.size() == 5) {
        platform::NamedMutex mutex = platform::NamedMutex::OpenOrCreate(args[2]);
        if (mutex.TryAcquire() != platform::NamedMutex::WaitResult::kAcquired) {
            WriteBytes(STD_OUTPUT_HANDLE, "refused");
            return 1;
        }
        HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, args[3].c_str());
        WriteBytes(STD_OUTPUT_HANDLE, "held");
        if (go == nullptr || ::WaitForSingleObject(go, INFINITE) != WAIT_OBJECT_0) {
            return 2;
        }
        ::CloseHandle(go);
        if (args[4] == L"abandon") {
            ::ExitProcess(0);  // the mutex is still held: the system abandons it
        }
        return 0;
    }
    if (mode == L"report-event" && args.size() >= 5) {
        platform::EventLogSource source = platform::EventLogSource::Register(args[2]);
        if (!source.IsOpen()) {
            return 1;
        }
        std::vector<std::wstring> strings(args.begin() + 5, args.end());
        bool written =
            source.Report(static_cast<std::uint16_t>(std::wcstoul(args[4].c_str(), nullptr, 0)), 0,
                          std::wcstoul(args[3].c_str(), nullptr, 0), strings);
        return written ? 0 : 1;
    }
    if (mode == L"service" && args.size() == 3) {
        g_serviceName = args[2];
        platform::Event stop(platform::Event::Reset::kManual);
        g_stop = &stop;
        return static_cast<int>(platform::RunServiceDispatcher(g_serviceName, &ServiceMain));
    }
    return 100;
}

}  // namespace

int main(int argc, char** argv) {
    return Run(platform::ProgramArguments(argc, argv));
}
