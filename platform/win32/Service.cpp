#include "platform/Service.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Text.h"

#include "platform/Win32Error.h"
#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

SC_HANDLE AsScHandle(std::uintptr_t handle) {
    return reinterpret_cast<SC_HANDLE>(handle);
}

// The one service of this process: the dispatcher and the handler registration take plain
// function pointers of the system's signature, which forward to these.
struct DispatcherState {
    std::mutex mutex;
    ServiceMainFunction serviceMain = nullptr;
    ServiceControlHandler handler = nullptr;
};

DispatcherState& Dispatcher() {
    static DispatcherState state;
    return state;
}

void WINAPI ServiceMainEntry(DWORD, LPWSTR*) {
    ServiceMainFunction serviceMain;
    {
        std::lock_guard<std::mutex> lock(Dispatcher().mutex);
        serviceMain = Dispatcher().serviceMain;
    }
    if (serviceMain != nullptr) {
        serviceMain();
    }
}

DWORD WINAPI HandlerEntry(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    ServiceControlHandler handler;
    {
        std::lock_guard<std::mutex> lock(Dispatcher().mutex);
        handler = Dispatcher().handler;
    }
    return handler != nullptr ? handler(control, eventType, eventData, context) : NO_ERROR;
}

// The local system account is the default: the system wants no name for it.
const wchar_t* AccountName(const std::wstring& account) {
    if (account.empty() || _wcsicmp(account.c_str(), L"LocalSystem") == 0) {
        return nullptr;
    }
    return account.c_str();
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
    if (m_handle != 0) {
        ::CloseServiceHandle(AsScHandle(m_handle));
        m_handle = 0;
    }
}

std::uint32_t ServiceHandle::SetDescription(const std::wstring& description) {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    std::wstring text = description;
    SERVICE_DESCRIPTIONW info{text.data()};
    if (!::ChangeServiceConfig2W(AsScHandle(m_handle), SERVICE_CONFIG_DESCRIPTION, &info)) {
        return ::GetLastError();
    }
    return kErrorSuccess;
}

std::uint32_t ServiceHandle::SendStop() {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    SERVICE_STATUS status{};
    if (!::ControlService(AsScHandle(m_handle), SERVICE_CONTROL_STOP, &status)) {
        return ::GetLastError();
    }
    return kErrorSuccess;
}

std::uint32_t ServiceHandle::Delete() {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    if (!::DeleteService(AsScHandle(m_handle))) {
        return ::GetLastError();
    }
    return kErrorSuccess;
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
    if (m_handle != 0) {
        ::CloseServiceHandle(AsScHandle(m_handle));
        m_handle = 0;
    }
}

std::uint32_t ServiceControlManager::Open(ServiceControlManager* manager) {
    SC_HANDLE handle = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (handle == nullptr) {
        return ::GetLastError();
    }
    manager->Close();
    manager->m_handle = reinterpret_cast<std::uintptr_t>(handle);
    return kErrorSuccess;
}

std::uint32_t ServiceControlManager::CreateService(const ServiceConfig& config,
                                                   ServiceHandle* service) {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    // The right to change the configuration only: the installer sets the description next.
    SC_HANDLE handle = ::CreateServiceW(
        AsScHandle(m_handle), config.name.c_str(), config.displayName.c_str(),
        SERVICE_CHANGE_CONFIG, SERVICE_WIN32_OWN_PROCESS, config.startType, config.errorControl,
        config.binaryPath.c_str(), nullptr, nullptr, nullptr, AccountName(config.account), nullptr);
    if (handle == nullptr) {
        return ::GetLastError();
    }
    service->Close();
    service->m_handle = reinterpret_cast<std::uintptr_t>(handle);
    return kErrorSuccess;
}

std::uint32_t ServiceControlManager::OpenService(std::wstring_view name, ServiceHandle* service) {
    if (m_handle == 0) {
        return kErrorInvalidHandle;
    }
    std::wstring serviceName(name);
    SC_HANDLE handle =
        ::OpenServiceW(AsScHandle(m_handle), serviceName.c_str(), DELETE | SERVICE_STOP);
    if (handle == nullptr) {
        return ::GetLastError();
    }
    service->Close();
    service->m_handle = reinterpret_cast<std::uintptr_t>(handle);
    return kErrorSuccess;
}

void HoldServiceControlSignals() {}

void ReleaseServiceControlSignals() {}

bool ServiceRunsInForeground() {
    return false;
}

std::uint32_t RunServiceDispatcher(std::wstring_view serviceName, ServiceMainFunction serviceMain) {
    std::wstring name(serviceName);
    {
        std::lock_guard<std::mutex> lock(Dispatcher().mutex);
        Dispatcher().serviceMain = serviceMain;
        Dispatcher().handler = nullptr;
    }
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), &ServiceMainEntry}, {nullptr, nullptr}};
    std::uint32_t rc = ::StartServiceCtrlDispatcherW(table) ? kErrorSuccess : ::GetLastError();
    {
        std::lock_guard<std::mutex> lock(Dispatcher().mutex);
        Dispatcher().serviceMain = nullptr;
        Dispatcher().handler = nullptr;
    }
    return rc;
}

ServiceStatusHandle RegisterServiceControlHandler(std::wstring_view serviceName,
                                                  ServiceControlHandler handler, void* context) {
    std::wstring name(serviceName);
    {
        std::lock_guard<std::mutex> lock(Dispatcher().mutex);
        Dispatcher().handler = handler;
    }
    SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerExW(name.c_str(), &HandlerEntry, context);
    return reinterpret_cast<ServiceStatusHandle>(handle);
}

bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
    if (handle == 0) {
        return false;
    }
    SERVICE_STATUS record{};
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = status.currentState;
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &record) != FALSE;
}

namespace {

// A text value of the service's key "Parameters"; empty when it is missing.
std::wstring ParametersText(HKEY parameters, const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(parameters, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t)) {
        return {};
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (::RegQueryValueExW(parameters, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                           &size) != ERROR_SUCCESS) {
        return {};
    }
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::filesystem::path ServiceStatusFile(std::wstring_view /*serviceName*/) {
    return {};  // the service control manager keeps the status
}

bool PublishServiceCounters(std::wstring_view serviceName, const std::string& countersJson,
                            const std::string& metricsText) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    const std::wstring keyPath =
        L"SYSTEM\\CurrentControlSet\\Services\\" + std::wstring(serviceName) + L"\\Parameters";
    HKEY parameters = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &parameters,
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring counters = Utf8ToWide(countersJson);
    const bool written =
        ::RegSetValueExW(
            parameters, L"Counters", 0, REG_SZ, reinterpret_cast<const BYTE*>(counters.c_str()),
            static_cast<DWORD>((counters.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    const std::wstring folder = ParametersText(parameters, kMetricsDirectoryValue);
    ::RegCloseKey(parameters);
    if (!folder.empty()) {
        // Written beside it and moved into place: a reader sees a whole file.
        const std::wstring path = folder + L"\\" + std::wstring(serviceName) + L".prom";
        const std::wstring partial = path + L".tmp";
        {
            std::ofstream out(std::filesystem::path(partial), std::ios::binary | std::ios::trunc);
            out << metricsText;
        }
        ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    return written;
}

}  // namespace platform
