#include "service/VormaSNMPManageService.h"

#include "platform/Path.h"
#include "platform/Registry.h"
#include "platform/Service.h"
#include "platform/Text.h"
#include "platform/Win32Error.h"
#include "product/Registry.h"
#include "reporter/EventLogReporter.h"
#include "reporter/ServiceNames.h"

namespace {

// The description as the service control manager stores it on the target systems: only the
// characters that code page 932 can represent.
std::wstring RepresentableIn932(const std::wstring& text) {
    std::wstring kept;
    for (wchar_t c : text) {
        bool usedDefault = false;
        std::string bytes = platform::WideToCodePage(platform::kCodePage932,
                                                     std::wstring_view(&c, 1), &usedDefault);
        if (!usedDefault && platform::CodePageToWide(platform::kCodePage932, bytes).size() == 1) {
            kept.push_back(c);
        }
    }
    return kept;
}

}  // namespace

void CVormaSNMPManageService::RecordError(std::uint32_t error) {
    m_lastError = error;
    m_lastErrorText = FormatSystemError(error);
}

bool CVormaSNMPManageService::Install(const std::wstring& serviceName,
                                      const std::wstring& parameters) {
    platform::ServiceControlManager manager;
    if (std::uint32_t rc = platform::ServiceControlManager::Open(&manager); rc != 0) {
        RecordError(rc);
        return false;
    }
    const std::wstring programPath = platform::ModuleFilePath();
    if (programPath.empty() || platform::Utf16Length(programPath) > 260) {
        RecordError(platform::kErrorFileNotFound);
        return false;
    }
    platform::ServiceConfig config;
    config.name = serviceName;
    config.displayName = serviceName;
    config.binaryPath = L"\"" + programPath + L"\"" + parameters;
    platform::ServiceHandle service;
    if (std::uint32_t rc = manager.CreateService(config, &service); rc != 0) {
        RecordError(rc);
        return false;
    }
    service.SetDescription(RepresentableIn932(LoadResourceString(IDS_SERVICE_DESCRIPTION)));
    service.Close();
    manager.Close();

    // The event source; a failure here does not undo the installation.
    CRegistry source;
    std::uint32_t created = source.Create(platform::kHkeyLocalMachine, kEventSourceKey);
    if (created == 0 || created == 1) {
        source.SetExpandStringValue(L"EventMessageFile", programPath);
        source.SetDWORDValue(L"TypesSupported", 7);
    }
    source.Close();

    ReportToEventLog(MSG_SERVICE_INSTALLED, kEventInformation);
    return true;
}

bool CVormaSNMPManageService::Uninstall(const std::wstring& serviceName) {
    platform::ServiceControlManager manager;
    if (std::uint32_t rc = platform::ServiceControlManager::Open(&manager); rc != 0) {
        RecordError(rc);
        return false;
    }
    platform::ServiceHandle service;
    if (std::uint32_t rc = manager.OpenService(serviceName, &service); rc != 0) {
        RecordError(rc);
        return false;
    }
    service.SendStop();  // the outcome does not matter, and the stop is not waited for
    if (std::uint32_t rc = service.Delete(); rc != 0) {
        RecordError(rc);
        return false;
    }
    service.Close();
    manager.Close();

    // Written while the source is still registered.
    ReportToEventLog(MSG_SERVICE_UNINSTALLED, kEventInformation);
    CRegistry::DeleteKey(platform::kHkeyLocalMachine, kEventSourceKey);
    return true;
}
