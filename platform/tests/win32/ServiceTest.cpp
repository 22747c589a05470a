#include "platform/Service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

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

}  // namespace
