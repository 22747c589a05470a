#include "platform/Service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Text.h"
#include "platform/Win32Error.h"
#include "platform/tests/win32/TestChild.h"
#include "platform/win32/WindowsHeaders.h"

namespace {

using namespace std::chrono_literals;

std::wstring TestServiceName() {
    return L"VormaPlatformTest" + std::to_wstring(::GetCurrentProcessId());
}

TEST(ServiceTest, CreateOnceDescribeStopAndDelete) {
    platform::ServiceControlManager manager;
    ASSERT_EQ(platform::ServiceControlManager::Open(&manager), 0u);
    const std::wstring name = TestServiceName();

    platform::ServiceHandle missing;
    EXPECT_EQ(manager.OpenService(name, &missing), platform::kErrorServiceDoesNotExist);

    platform::ServiceConfig config;
    config.name = name;
    config.displayName = name;
    config.binaryPath = L"\"" + test::TestChildPath() + L"\" service " + name;
    platform::ServiceHandle service;
    ASSERT_EQ(manager.CreateService(config, &service), 0u);
    EXPECT_EQ(service.SetDescription(L"説明"), 0u);
    platform::ServiceHandle again;
    EXPECT_EQ(manager.CreateService(config, &again), platform::kErrorServiceExists);
    service.Close();

    platform::ServiceHandle opened;
    ASSERT_EQ(manager.OpenService(name, &opened), 0u);
    EXPECT_NE(opened.SendStop(), 0u);  // nothing runs
    EXPECT_EQ(opened.Delete(), 0u);
    opened.Close();
    EXPECT_EQ(manager.OpenService(name, &missing), platform::kErrorServiceDoesNotExist);
}

// Waits (bounded) for the service to reach `state`; returns the last state seen.
DWORD WaitForState(SC_HANDLE service, DWORD state) {
    SERVICE_STATUS status{};
    for (int i = 0; i < 600; ++i) {
        if (!::QueryServiceStatus(service, &status)) {
            return 0;
        }
        if (status.dwCurrentState == state) {
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    return status.dwCurrentState;
}

TEST(ServiceTest, DispatcherRunsTheServiceUntilTheStopControl) {
    platform::ServiceControlManager manager;
    ASSERT_EQ(platform::ServiceControlManager::Open(&manager), 0u);
    const std::wstring name = TestServiceName() + L"Run";
    platform::ServiceConfig config;
    config.name = name;
    config.displayName = name;
    config.startType = SERVICE_DEMAND_START;
    config.binaryPath = L"\"" + test::TestChildPath() + L"\" service " + name;
    platform::ServiceHandle created;
    ASSERT_EQ(manager.CreateService(config, &created), 0u);
    created.Close();

    SC_HANDLE scm = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(scm, nullptr);
    SC_HANDLE service = ::OpenServiceW(scm, name.c_str(), SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(::StartServiceW(service, 0, nullptr));
    EXPECT_EQ(WaitForState(service, SERVICE_RUNNING), static_cast<DWORD>(SERVICE_RUNNING));
    SERVICE_STATUS status{};
    EXPECT_TRUE(::QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    EXPECT_TRUE(::ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(WaitForState(service, SERVICE_STOPPED), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(::DeleteService(service));
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(scm);
}

TEST(ServiceTest, StatusReportsNeedARegisteredHandler) {
    // (A dispatcher started outside the service manager is tried by
    // tests/wine/service_events_test.sh, alone: while it waits for a control pipe it may take the
    // one of a service that is starting at the same moment.)
    EXPECT_FALSE(platform::ReportServiceStatus(0, platform::ServiceStatus{}));
}

// The counters are the REG_SZ value "Counters" of the service's key Parameters, rewritten by
// each publishing; the metrics text goes to the folder of MetricsDirectory only where that value
// is set.
TEST(ServiceTest, CountersGoToTheParametersKeyAndTheMetricsFolderWhereOneIsSet) {
    const std::wstring name = TestServiceName() + L"Counters";
    const std::wstring keyPath = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    wchar_t temp[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
    const std::filesystem::path folder = std::filesystem::path(temp) / (name + L"-metrics");
    std::filesystem::create_directories(folder);
    const std::filesystem::path metrics = folder / (name + L".prom");

    auto counters = [&] {
        wchar_t text[256] = {};
        DWORD size = sizeof text;
        const LSTATUS rc = ::RegGetValueW(HKEY_LOCAL_MACHINE, (keyPath + L"\\Parameters").c_str(),
                                          L"Counters", RRF_RT_REG_SZ, nullptr, text, &size);
        return rc == ERROR_SUCCESS ? std::wstring(text) : L"<missing>";
    };
    auto metricsText = [&] {
        std::ifstream in(metrics, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };

    struct Step {
        const char* name;
        bool setFolder;
        std::string json;
        std::string text;
        std::string expectedMetrics;
    };
    const Step steps[] = {
        {"no metrics folder", false, R"({"A":1,"B":"ü"})", "a 1\n", ""},
        {"a metrics folder", true, R"({"A":2})", "a 2\n", "a 2\n"},
        {"rewritten", true, R"({"A":3})", "a 3\n", "a 3\n"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.setFolder) {
            const std::wstring value = folder.wstring();
            ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (keyPath + L"\\Parameters").c_str(),
                                        platform::kMetricsDirectoryValue, REG_SZ, value.c_str(),
                                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                      ERROR_SUCCESS);
        }
        EXPECT_TRUE(platform::PublishServiceCounters(name, step.json, step.text));
        EXPECT_EQ(counters(), platform::Utf8ToWide(step.json));
        EXPECT_EQ(metricsText(), step.expectedMetrics);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1)
        << "nothing left beside the file";
    EXPECT_TRUE(platform::ServiceStatusFile(name).empty());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath.c_str());
    std::filesystem::remove_all(folder);
}

}  // namespace
