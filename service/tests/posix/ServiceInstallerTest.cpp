#include <gtest/gtest.h>

#include "platform/Path.h"
#include "platform/Registry.h"
#include "product/Registry.h"
#include "reporter/EventLogReporter.h"
#include "service/VormaSNMPManageService.h"
#include "tests/support/EventLogFile.h"
#include "tests/support/TempSysRoot.h"

namespace {

constexpr wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\VORMASNMPManageService";
constexpr wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VORMASNMPManagerService";

bool KeyExists(const wchar_t* path) {
    CRegistry key;
    return key.Open(platform::kHkeyLocalMachine, path) == 0;
}

TEST(ServiceInstallerTest, InstallRegistersServiceAndSourceOnce) {
    test::TempSysRoot root;
    CVormaSNMPManageService installer;
    ASSERT_TRUE(installer.Install(L"VORMASNMPManageService", L""));

    CRegistry service;
    ASSERT_EQ(service.Open(platform::kHkeyLocalMachine, kServiceKey), 0u);
    std::wstring text;
    EXPECT_EQ(service.QueryStringValue(L"ImagePath", text), 0u);
    EXPECT_EQ(text, L"\"" + platform::ModuleFilePath() + L"\"");
    EXPECT_EQ(service.QueryStringValue(L"ObjectName", text), 0u);
    EXPECT_EQ(text, L"LocalSystem");
    EXPECT_EQ(service.QueryStringValue(L"Description", text), 0u);
    EXPECT_EQ(text, LoadResourceString(IDS_SERVICE_DESCRIPTION));  // all of it fits code page 932
    std::uint32_t number = 0;
    EXPECT_EQ(service.QueryDWORDValue(L"Start", number), 0u);
    EXPECT_EQ(number, 2u);

    CRegistry source;
    ASSERT_EQ(source.Open(platform::kHkeyLocalMachine, kSourceKey), 0u);
    EXPECT_EQ(source.QueryStringValue(L"EventMessageFile", text), 0u);
    EXPECT_EQ(text, platform::ModuleFilePath());
    EXPECT_EQ(source.QueryDWORDValue(L"TypesSupported", number), 0u);
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(test::EventIds(test::ReadEventLog()), std::vector<int>{1000});

    // A second installation fails on the existing service and writes nothing.
    CVormaSNMPManageService again;
    EXPECT_FALSE(again.Install(L"VORMASNMPManageService", L""));
    EXPECT_EQ(again.LastError(), 1073u);
    EXPECT_FALSE(again.LastErrorText().empty());
    EXPECT_EQ(test::EventIds(test::ReadEventLog()), std::vector<int>{1000});
}

TEST(ServiceInstallerTest, UninstallRemovesBothKeysOnce) {
    test::TempSysRoot root;
    CVormaSNMPManageService installer;
    ASSERT_TRUE(installer.Install(L"VORMASNMPManageService", L" -extra"));
    CRegistry service;
    ASSERT_EQ(service.Open(platform::kHkeyLocalMachine, kServiceKey), 0u);
    std::wstring imagePath;
    service.QueryStringValue(L"ImagePath", imagePath);
    EXPECT_EQ(imagePath, L"\"" + platform::ModuleFilePath() + L"\" -extra");
    service.Close();

    ASSERT_TRUE(installer.Uninstall(L"VORMASNMPManageService"));
    EXPECT_FALSE(KeyExists(kServiceKey));
    EXPECT_FALSE(KeyExists(kSourceKey));
    auto events = test::ReadEventLog();
    ASSERT_EQ(test::EventIds(events), (std::vector<int>{1000, 1001}));
    EXPECT_EQ(events[1]["SourceName"], "VORMASNMPManagerService");

    CVormaSNMPManageService again;
    EXPECT_FALSE(again.Uninstall(L"VORMASNMPManageService"));
    EXPECT_EQ(again.LastError(), 1060u);
    EXPECT_EQ(test::EventIds(test::ReadEventLog()), (std::vector<int>{1000, 1001}));
}

}  // namespace
