#include "service/ProgramEntry.h"

#include "platform/Service.h"
#include "platform/Win32Error.h"
#include "reporter/ServiceNames.h"
#include "service/ServiceHost.h"
#include "service/VormaSNMPManageService.h"

namespace {

constexpr unsigned long kWaitTimeoutResult = platform::HResultFromWin32(platform::kWaitTimeout);
constexpr unsigned long kWaitAbandonedResult = platform::HResultFromWin32(0x80);  // WAIT_ABANDONED
constexpr unsigned long kAlreadyRunningResult =
    platform::HResultFromWin32(platform::kErrorAlreadyExists);
// The exit status of a run in the foreground that ended by a start-up failure, from the codes
// that systemd names ("Process exit codes" in systemd.exec(5)), so that `systemctl status` reads
// right: the unit's restart policy acts on all but 4 (see the unit).
unsigned long StartUpFailureResult(CVormaSNMPManageScheduler::StartUpFailure failure) {
    using Failure = CVormaSNMPManageScheduler::StartUpFailure;
    switch (failure) {
        case Failure::kNone:
            break;
        case Failure::kSettingsUnreadable:
            return 6;  // NOTCONFIGURED
        case Failure::kTrapPortForbidden:
            return 4;  // NOPERMISSION
        case Failure::kProductServerUnreachable:
        case Failure::kTrapPortUnavailable:
            return 69;  // UNAVAILABLE
    }
    return 0;
}

bool IsSwitchLead(wchar_t c) {
    return c == L'-' || c == L'/';
}

}  // namespace

int FindSwitch(const std::vector<std::wstring>& args, std::wstring_view name) {
    if (name.empty()) {
        return -1;
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::wstring_view arg = args[i];
        if (arg.empty() || !IsSwitchLead(arg.front())) {
            continue;
        }
        std::size_t skip = 0;
        while (skip < 2 && skip < arg.size() && IsSwitchLead(arg[skip])) {
            ++skip;
        }
        std::wstring_view rest = arg.substr(skip);
        std::size_t begin = rest.find_first_not_of(L':');
        if (begin == std::wstring_view::npos) {
            continue;
        }
        rest.remove_prefix(begin);
        std::wstring_view token = rest.substr(0, rest.find(L':'));
        if (token == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

CSingleInstanceGuard::CSingleInstanceGuard(std::wstring_view serviceName)
    : m_name(L"Global\\MUTEX_QUILLON_VORMA6_" + std::wstring(serviceName)) {}

bool CSingleInstanceGuard::Open() {
    std::uint32_t error = 0;
    m_mutex = platform::NamedMutex::OpenOrCreate(m_name, &error);
    if (!m_mutex.IsOpen()) {
        m_error = platform::HResultFromWin32(error);
        return false;
    }
    m_error = 0;
    return true;
}

unsigned long CSingleInstanceGuard::Acquire() {
    if (!m_mutex.IsOpen()) {
        return m_error;
    }
    std::uint32_t error = 0;
    switch (m_mutex.TryAcquire(&error)) {
        case platform::NamedMutex::WaitResult::kAcquired:
            return 0;
        case platform::NamedMutex::WaitResult::kTimeout:
            return kWaitTimeoutResult;
        case platform::NamedMutex::WaitResult::kAbandoned:
            return kWaitAbandonedResult;
        case platform::NamedMutex::WaitResult::kFailed:
            break;
    }
    return platform::HResultFromWin32(error);
}

unsigned long ProgramMain(const std::vector<std::wstring>& args) {
    if (FindSwitch(args, L"install") >= 0) {
        platform::ReleaseServiceControlSignals();
        CVormaSNMPManageService installer;
        return installer.Install(kServiceName, L"") ? 0 : 1;
    }
    if (FindSwitch(args, L"uninstall") >= 0) {
        platform::ReleaseServiceControlSignals();
        CVormaSNMPManageService installer;
        return installer.Uninstall(kServiceName) ? 0 : 1;
    }

    // The service. When the guard is open but cannot be taken, another instance holds it (or the
    // wait failed): either way this process must not run a second manager beside the first.
    CSingleInstanceGuard guard(kServiceName);
    if (guard.Open() && guard.Acquire() != 0) {
        return kAlreadyRunningResult;
    }
    std::uint32_t rc = platform::RunServiceDispatcher(kServiceName, &ServiceMain);
    if (rc != 0) {
        return platform::HResultFromWin32(rc);
    }
    // In the foreground the exit status is all that the system's service manager learns of the
    // run: a start-up failure must not look like a stop, or no restart policy could act on it.
    return platform::ServiceRunsInForeground() ? StartUpFailureResult(ServiceRunStartUpFailure())
                                               : 0;
}
