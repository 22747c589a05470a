// The service control manager and the service side of it.
// Windows: OpenSCManagerW, CreateServiceW, ChangeServiceConfig2W, ControlService, DeleteService,
// StartServiceCtrlDispatcherW, RegisterServiceCtrlHandlerExW, SetServiceStatus.
// POSIX: the service's configuration is the registry key
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<name> of the emulated registry; the
// dispatcher runs the service main in the foreground and turns SIGTERM, SIGINT, SIGHUP and SIGQUIT
// into the stop control and SIGPWR into the shutdown control (SIGUSR1 and SIGUSR2 are taken and
// ignored); it holds an exclusive flock on $VORMA_SYSROOT/services/<name>.lock while it runs, which
// tells the process that runs the service; every status report rewrites
// $VORMA_SYSROOT/services/<name>.json (see README, "Linux layout").
//
// Functions return a Win32 error number (0 success).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceAutoStart = 2;
inline constexpr std::uint32_t kServiceErrorIgnore = 0;

inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;

inline constexpr std::uint32_t kServiceAcceptStop = 1;
inline constexpr std::uint32_t kServiceAcceptShutdown = 4;

inline constexpr std::uint32_t kServiceControlStop = 1;
inline constexpr std::uint32_t kServiceControlInterrogate = 4;
inline constexpr std::uint32_t kServiceControlShutdown = 5;

struct ServiceStatus {
    std::uint32_t serviceType = kServiceWin32OwnProcess;
    std::uint32_t currentState = kServiceStopped;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

struct ServiceConfig {
    std::wstring name;
    std::wstring displayName;
    std::wstring binaryPath;  // the command line: quoted program path and parameters
    std::uint32_t startType = kServiceAutoStart;
    std::uint32_t errorControl = kServiceErrorIgnore;
    std::wstring account = L"LocalSystem";
};

// One service of the service control manager. Move-only; closes on destruction.
class ServiceHandle {
  public:
    ServiceHandle() = default;
    ServiceHandle(ServiceHandle&& other) noexcept;
    ServiceHandle& operator=(ServiceHandle&& other) noexcept;
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    ~ServiceHandle();

    bool IsOpen() const { return m_handle != 0; }
    std::uint32_t SetDescription(const std::wstring& description);
    // Sends the stop control to a running instance; does not wait for it to stop. 1062 when the
    // service is not running. POSIX: only the process that holds the service's run lock is
    // signalled, never one that a stale status file names.
    std::uint32_t SendStop();
    std::uint32_t Delete();
    void Close();

  private:
    friend class ServiceControlManager;
    std::uintptr_t m_handle = 0;
};

// The service control manager of the local computer. Move-only; closes on destruction.
class ServiceControlManager {
  public:
    ServiceControlManager() = default;
    ServiceControlManager(ServiceControlManager&& other) noexcept;
    ServiceControlManager& operator=(ServiceControlManager&& other) noexcept;
    ServiceControlManager(const ServiceControlManager&) = delete;
    ServiceControlManager& operator=(const ServiceControlManager&) = delete;
    ~ServiceControlManager();

    // Opens the manager with the right to create services.
    static std::uint32_t Open(ServiceControlManager* manager);

    // Creates an own-process service. 1073 when a service of that name exists.
    std::uint32_t CreateService(const ServiceConfig& config, ServiceHandle* service);
    // Opens a service for stopping and deleting. 1060 when there is none of that name.
    std::uint32_t OpenService(std::wstring_view name, ServiceHandle* service);
    void Close();

  private:
    std::uintptr_t m_handle = 0;
};

using ServiceMainFunction = void (*)();
using ServiceControlHandler = std::uint32_t (*)(std::uint32_t control, std::uint32_t eventType,
                                                void* eventData, void* context);
using ServiceStatusHandle = std::uintptr_t;

// POSIX: blocks the signals that the dispatcher takes as controls, so that none of them can end the
// process, or be lost, before the dispatcher runs: a signal that comes earlier stays pending and
// becomes a control once the service registers its handler. The program's first step, before any
// thread exists. Windows: does nothing.
void HoldServiceControlSignals();
// Undoes HoldServiceControlSignals, for a program that turns out not to run the service.
void ReleaseServiceControlSignals();

// True where the program itself runs the service in the foreground and its exit status is what the
// system's service manager sees (POSIX); false where the service control manager runs it (Windows).
bool ServiceRunsInForeground();

// Runs the service main of the one service of this process, and returns when it has ended.
// Windows: fails (1063) when the program was not started by the service control manager.
// POSIX: 1056 when another process runs the service (holds its run lock).
std::uint32_t RunServiceDispatcher(std::wstring_view serviceName, ServiceMainFunction serviceMain);

// Called by the service main: the handler runs on the dispatcher's thread. 0 on failure.
ServiceStatusHandle RegisterServiceControlHandler(std::wstring_view serviceName,
                                                  ServiceControlHandler handler, void* context);

bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

// The file that shows the service's status (and its counters) where the system keeps one as a
// file: POSIX $VORMA_SYSROOT/services/<name>.json; empty on Windows.
std::filesystem::path ServiceStatusFile(std::wstring_view serviceName);

// The value of the service's key "Parameters" that names the folder of the metrics file.
inline constexpr wchar_t kMetricsDirectoryValue[] = L"MetricsDirectory";

// Shows the counters of the running service, `countersJson` being one JSON object and
// `metricsText` the same figures in the Prometheus text exposition format. False when nothing
// could be written. Safe from any thread beside the status reports.
// POSIX: the status file gains (and keeps across later status reports) the object as "Counters",
// rewritten by a rename; the text goes to <folder>/<service name>.prom, written beside it and
// renamed into place, the folder being the registry value MetricsDirectory of
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<name>\Parameters (read once per
// process), by default $VORMA_SYSROOT/metrics.
// Windows: the object is the REG_SZ value "Counters" of the service's key "Parameters"; the text
// goes to <MetricsDirectory>\<service name>.prom only where that value is set.
bool PublishServiceCounters(std::wstring_view serviceName, const std::string& countersJson,
                            const std::string& metricsText);

}  // namespace platform
