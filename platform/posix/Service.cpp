#include "platform/Service.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/Win32Error.h"
#include "platform/posix/ServiceStatusFile.h"
#include "platform/posix/SysRoot.h"
#include "platform/posix/UniqueFd.h"

namespace platform {

std::wstring posix::ServiceKeyPath(std::wstring_view name) {
    return L"SYSTEM\\CurrentControlSet\\Services\\" + std::wstring(name);
}

namespace {

using posix::ServiceKeyPath;

constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr std::uint32_t kErrorServiceNotActive = 1062;

std::uint32_t SetString(RegKey key, const wchar_t* name, std::uint32_t type,
                        const std::wstring& text) {
    std::vector<std::uint8_t> bytes = WideToUtf16Le(text);
    bytes.push_back(0);  // the terminator, as Windows stores it
    bytes.push_back(0);
    return SetRegistryValue(key, name, type, bytes.data(),
                            static_cast<std::uint32_t>(bytes.size()));
}

std::uint32_t SetDword(RegKey key, const wchar_t* name, std::uint32_t value) {
    std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return SetRegistryValue(key, name, kRegDword, bytes, 4);
}

// The run lock: held by the dispatcher for as long as it runs the service, so that its holder is
// the process that runs the service. It ends with the process, however the process ends.
// Service names ignore case, so the file's name is the lower-case one.
std::filesystem::path RunLockPath(std::wstring_view name, std::error_code& ec) {
    std::wstring lower(name);
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    }
    return posix::SystemFolder("services", ec) / (WideToUtf8(lower) + ".lock");
}

// The process that holds an flock on `path`, from /proc/locks; 0 when none does.
pid_t LockHolder(const std::filesystem::path& path) {
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0) {
        return 0;
    }
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", ::major(file.st_dev),
                  ::minor(file.st_dev), static_cast<unsigned long long>(file.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 4711 fd:01:1234 0 EOF"; a waiter's line has "->" after the
        // number and holds nothing.
        std::istringstream fields(line);
        std::string number, type, kind, access, pid, where;
        if (!(fields >> number >> type >> kind >> access >> pid >> where) || type != "FLOCK" ||
            where != device) {
            continue;
        }
        pid_t value = 0;
        const auto [end, ec] = std::from_chars(pid.data(), pid.data() + pid.size(), value);
        if (ec == std::errc() && end == pid.data() + pid.size() && value > 0) {
            return value;
        }
    }
    return 0;
}

// Sends `signal` to the process that runs the service `name`. The holder is looked up, a pidfd is
// opened on it, and the lock is looked up again: if it is still held by that number, the pidfd
// refers to the holder and not to a later process that reused the number.
std::uint32_t SignalRunningInstance(std::wstring_view name, int signal) {
    std::error_code ec;
    const std::filesystem::path lock = RunLockPath(name, ec);
    if (ec) {
        return kErrorServiceNotActive;
    }
    const pid_t holder = LockHolder(lock);
    if (holder == 0 || holder == ::getpid()) {
        return kErrorServiceNotActive;
    }
    const posix::UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, holder, 0)));
    if (!pidFd.IsValid()) {
        return errno == ESRCH ? kErrorServiceNotActive : static_cast<std::uint32_t>(errno);
    }
    std::uint32_t rc = kErrorServiceNotActive;
    if (LockHolder(lock) == holder) {
        rc = ::syscall(SYS_pidfd_send_signal, pidFd.Get(), signal, nullptr, 0) == 0
                 ? 0
                 : static_cast<std::uint32_t>(errno);
    }
    return rc;
}

// The signals that the dispatcher takes: the stop and shutdown controls, and those it ignores.
sigset_t ControlSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPWR, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, signal);
    }
    return signals;
}

// The control a signal stands for; 0 for one that asks for nothing.
std::uint32_t ControlOfSignal(std::uint32_t signal) {
    switch (signal) {
        case SIGPWR:
            return kServiceControlShutdown;
        case SIGTERM:
        case SIGINT:
        case SIGHUP:  // the settings are read once per run: a reload is a stop and a start
        case SIGQUIT:
            return kServiceControlStop;
        default:
            return 0;
    }
}

// State of the one service that this process runs.
struct DispatcherState {
    std::mutex mutex;
    std::wstring serviceName;
    ServiceControlHandler handler = nullptr;
    void* context = nullptr;
    int wakeFd = -1;  // wakes the dispatcher: the service main ended or a handler was registered
    bool serviceEnded = false;
    // A control that arrived before the service registered its handler. A signal cannot be
    // refused as Windows refuses a control that the service does not yet take, so it is kept and
    // given to the handler once there is one; otherwise a stop sent while the service starts would
    // be lost and the service would run on.
    std::uint32_t pendingControl = 0;
};

void WakeDispatcher(int wakeFd) {
    std::uint64_t one = 1;
    (void)!::write(wakeFd, &one, sizeof one);
}

DispatcherState& Dispatcher() {
    static DispatcherState state;
    return state;
}

}  // namespace

ServiceHandle::ServiceHandle(ServiceHandle&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = 0;
}

ServiceHandle& ServiceHandle::operator=(ServiceHandle&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = 0;
    }
    return *this;
}

ServiceHandle::~ServiceHandle() {
    Close();
}

void ServiceHandle::Close() {
    delete reinterpret_cast<std::wstring*>(m_handle);
    m_handle = 0;
}

std::uint32_t ServiceHandle::SetDescription(const std::wstring& description) {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    RegKey key = 0;
    std::wstring path = ServiceKeyPath(*reinterpret_cast<std::wstring*>(m_handle));
    if (std::uint32_t rc = OpenRegistryKey(kHkeyLocalMachine, path, kKeyAllAccess, &key); rc != 0) {
        return rc;
    }
    std::uint32_t rc = SetString(key, L"Description", kRegSz, description);
    CloseRegistryKey(key);
    return rc;
}

std::uint32_t ServiceHandle::SendStop() {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    return SignalRunningInstance(*reinterpret_cast<std::wstring*>(m_handle), SIGTERM);
}

std::uint32_t ServiceHandle::Delete() {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    std::uint32_t rc = DeleteRegistryTree(
        kHkeyLocalMachine, ServiceKeyPath(*reinterpret_cast<std::wstring*>(m_handle)));
    return rc == kErrorFileNotFound ? kErrorServiceDoesNotExist : rc;
}

ServiceControlManager::ServiceControlManager(ServiceControlManager&& other) noexcept
    : m_handle(other.m_handle) {
    other.m_handle = 0;
}

ServiceControlManager& ServiceControlManager::operator=(ServiceControlManager&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = 0;
    }
    return *this;
}

ServiceControlManager::~ServiceControlManager() {
    Close();
}

void ServiceControlManager::Close() {
    m_handle = 0;
}

std::uint32_t ServiceControlManager::Open(ServiceControlManager* manager) {
    // The manager is the emulated registry, which every operation opens for itself.
    manager->m_handle = 1;
    return 0;
}

std::uint32_t ServiceControlManager::CreateService(const ServiceConfig& config,
                                                   ServiceHandle* service) {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    if (config.name.empty() || config.name.find_first_of(L"\\/") != std::wstring::npos) {
        return 123;  // ERROR_INVALID_NAME
    }
    const std::wstring path = ServiceKeyPath(config.name);
    RegKey key = 0;
    if (OpenRegistryKey(kHkeyLocalMachine, path, kKeyRead, &key) == 0) {
        CloseRegistryKey(key);
        return kErrorServiceExists;
    }
    bool created = false;
    if (std::uint32_t rc =
            CreateRegistryKey(kHkeyLocalMachine, path, kKeyAllAccess, &key, &created);
        rc != 0) {
        return rc;
    }
    if (!created) {
        CloseRegistryKey(key);
        return kErrorServiceExists;
    }
    std::uint32_t rc = SetDword(key, L"Type", kServiceWin32OwnProcess);
    if (rc == 0)
        rc = SetDword(key, L"Start", config.startType);
    if (rc == 0)
        rc = SetDword(key, L"ErrorControl", config.errorControl);
    if (rc == 0)
        rc = SetString(key, L"ImagePath", kRegExpandSz, config.binaryPath);
    if (rc == 0)
        rc = SetString(key, L"DisplayName", kRegSz, config.displayName);
    if (rc == 0)
        rc = SetString(key, L"ObjectName", kRegSz, config.account);
    CloseRegistryKey(key);
    if (rc != 0) {
        DeleteRegistryTree(kHkeyLocalMachine, path);
        return rc;
    }
    service->Close();
    service->m_handle = reinterpret_cast<std::uintptr_t>(new std::wstring(config.name));
    return 0;
}

std::uint32_t ServiceControlManager::OpenService(std::wstring_view name, ServiceHandle* service) {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    RegKey key = 0;
    std::uint32_t rc = OpenRegistryKey(kHkeyLocalMachine, ServiceKeyPath(name), kKeyRead, &key);
    if (rc == kErrorFileNotFound || (rc == 0 && name.empty())) {
        if (rc == 0) {
            CloseRegistryKey(key);
        }
        return kErrorServiceDoesNotExist;
    }
    if (rc != 0) {
        return rc;
    }
    CloseRegistryKey(key);
    service->Close();
    service->m_handle = reinterpret_cast<std::uintptr_t>(new std::wstring(name));
    return 0;
}

void HoldServiceControlSignals() {
    sigset_t controls = ControlSignals();
    pthread_sigmask(SIG_BLOCK, &controls, nullptr);
}

void ReleaseServiceControlSignals() {
    sigset_t controls = ControlSignals();
    pthread_sigmask(SIG_UNBLOCK, &controls, nullptr);
}

bool ServiceRunsInForeground() {
    return true;
}

std::uint32_t RunServiceDispatcher(std::wstring_view serviceName, ServiceMainFunction serviceMain) {
    DispatcherState& state = Dispatcher();
    sigset_t controls = ControlSignals();
    sigset_t previous;
    // Block the control signals here (the program entry normally has already), before the service
    // thread exists, so that every thread of the service inherits the mask and only the dispatcher
    // takes them.
    if (int rc = pthread_sigmask(SIG_BLOCK, &controls, &previous); rc != 0) {
        return static_cast<std::uint32_t>(rc);
    }
    std::error_code lockError;
    std::filesystem::path runLockPath = RunLockPath(serviceName, lockError);
    posix::FileLock runLock;
    if (!lockError) {
        runLock = posix::FileLock::Acquire(runLockPath, posix::FileLock::Mode::kExclusive, true,
                                           false, lockError);
    }
    if (!runLock.IsLocked()) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return lockError.value() == EWOULDBLOCK ? kErrorServiceAlreadyRunning
                                                : static_cast<std::uint32_t>(lockError.value());
    }
    const posix::UniqueFd signals(::signalfd(-1, &controls, SFD_CLOEXEC));
    const posix::UniqueFd wake(::eventfd(0, EFD_CLOEXEC));
    if (!signals.IsValid() || !wake.IsValid()) {
        std::uint32_t error = static_cast<std::uint32_t>(errno);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return error;
    }
    const int sigFd = signals.Get();
    const int wakeFd = wake.Get();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.serviceName = serviceName;
        state.handler = nullptr;
        state.context = nullptr;
        state.wakeFd = wakeFd;
        state.serviceEnded = false;
        state.pendingControl = 0;
    }

    std::thread service([serviceMain, wakeFd, &state] {
        serviceMain();
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.serviceEnded = true;
        }
        WakeDispatcher(wakeFd);
    });

    // Controls go to the handler on this thread, one at a time, as the dispatcher calls a
    // service's handler on Windows.
    auto deliver = [&state](std::uint32_t control) {
        ServiceControlHandler handler;
        void* context;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (control == 0) {
                control = state.handler != nullptr ? std::exchange(state.pendingControl, 0) : 0;
            } else if (state.handler == nullptr) {
                state.pendingControl = control;
            }
            handler = state.handler;
            context = state.context;
        }
        if (handler != nullptr && control != 0) {
            handler(control, 0, nullptr, context);
        }
    };

    bool running = true;
    while (running) {
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(sigFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (std::uint32_t control = ControlOfSignal(info.ssi_signo); control != 0) {
                    deliver(control);
                }
            }
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            (void)!::read(wakeFd, &count, sizeof count);
            deliver(0);
            std::lock_guard<std::mutex> lock(state.mutex);
            running = !state.serviceEnded;
        }
    }
    service.join();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.handler = nullptr;
        state.context = nullptr;
        state.wakeFd = -1;
        state.pendingControl = 0;
    }
    // A control signal that came after the service had ended asks for nothing more; taken here, it
    // cannot end the process with the signal's status once the mask is restored.
    for (pollfd fd{sigFd, POLLIN, 0}; ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;) {
        signalfd_siginfo info{};
        if (::read(sigFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            break;
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return 0;
}

ServiceStatusHandle RegisterServiceControlHandler(std::wstring_view serviceName,
                                                  ServiceControlHandler handler, void* context) {
    DispatcherState& state = Dispatcher();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.wakeFd < 0 || state.serviceName != serviceName) {
        return 0;
    }
    state.handler = handler;
    state.context = context;
    if (state.pendingControl != 0) {
        WakeDispatcher(state.wakeFd);
    }
    return 1;
}

bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
    if (handle == 0) {
        return false;
    }
    std::wstring name;
    {
        std::lock_guard<std::mutex> lock(Dispatcher().mutex);
        name = Dispatcher().serviceName;
    }
    return posix::WriteServiceStatusReport(name, status);
}

}  // namespace platform
