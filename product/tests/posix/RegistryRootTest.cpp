#include "product/RegistryRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Text.h"
#include "tests/support/TempSysRoot.h"

namespace {

using platform::kHkeyLocalMachine;

void WriteStore(const test::TempSysRoot& root, const std::string& body) {
    std::filesystem::create_directories(root.path() / "registry");
    std::ofstream(root.path() / "registry" / "HKLM.reg", std::ios::binary)
        << "Windows Registry Editor Version 5.00\n\n"
        << body;
}

// Stores InstallDir in the product key, as the product's installer does.
void SetInstallDir(const std::wstring& dir) {
    CRegistry reg;
    ASSERT_EQ(reg.Create(kHkeyLocalMachine, CRegistryRoot::kProductKey) & 0x80000000u, 0u);
    ASSERT_EQ(reg.SetExpandStringValue(L"InstallDir", dir), 0u);
}

TEST(CRegistryRootTest, TheReadingPassFillsEverySettingFromItsKey) {
    test::TempSysRoot root;
    WriteStore(root,
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon]\n"
               "\"VORMAROOT\"=\"/opt\"\n"
               "\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n"
               "\"LCID\"=dword:00000411\n"
               "\"InstallDir\"=\"/opt/vorma\"\n"
               "\"BinDir\"=\"/opt/vorma/bin\"\n"
               "\"HelpFile\"=\"help.chm\"\n"
               "\"AgentWaitTime\"=\"30\"\n"
               "\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\LinuxOption]\n"
               "\"InstallDir\"=\"/opt/vorma/linux\"\n"
               "\"OptionDir\"=\"opt\"\n"
               "\"LocalMonitorletDir\"=\"local\"\n"
               "\"RemoteMonitorletDir\"=\"remote\"\n"
               "\"TraceDir\"=\"trace\"\n"
               "\"TraceEnabled\"=dword:00000001\n"
               "\"TraceRotateManager\"=dword:0000000d\n"
               "\"TraceRotateShell\"=dword:0000000e\n"
               "\"TraceSizeManager\"=dword:0000000f\n"
               "\"TraceSizeShell\"=dword:00000010\n"
               "\"WaitManagerDestroyInterval\"=dword:00000011\n"
               "\"WaitManagerDestroyL1\"=dword:00000013\n"
               "\"WaitManagerDestroyL2\"=dword:00000014\n"
               "\"WaitShellSubThreadDone\"=dword:00000015\n"
               "\"WaitReadPipeInterval\"=dword:00000016\n"
               "\"WaitReadPipeCount\"=dword:00000017\n"
               "\"WaitCommandDone\"=dword:00000018\n"
               "\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\Action]\n"
               "\"TimeOut\"=dword:00000019\n"
               "\"CancelTimeOut\"=dword:0000001a\n"
               "\"ForciblyKill\"=dword:0000001b\n"
               "\n");
    CRegistryRoot reg;
    EXPECT_EQ(reg.Load(), 0u);
    EXPECT_FALSE(reg.IsOpen());

    const std::pair<int, const wchar_t*> texts[] = {
        {CRegistryRoot::kVormaRoot, L"/opt"},
        {CRegistryRoot::kInstallDir, L"/opt/vorma"},
        {CRegistryRoot::kBinDir, L"/opt/vorma/bin"},
        {CRegistryRoot::kHelpFile, L"help.chm"},
        {CRegistryRoot::kAgentWaitTime, L"30"},
        {CRegistryRoot::kLinuxInstallDir, L"/opt/vorma/linux"},
        {CRegistryRoot::kLinuxOptionDir, L"opt"},
        {CRegistryRoot::kLinuxLocalMonitorletDir, L"local"},
        {CRegistryRoot::kLinuxRemoteMonitorletDir, L"remote"},
        {CRegistryRoot::kLinuxTraceDir, L"trace"},
    };
    for (const auto& [number, text] : texts) {
        EXPECT_EQ(reg.FindText(number), std::optional<std::wstring>(text)) << number;
        EXPECT_FALSE(reg.FindNumber(number)) << number;
    }
    // The DWORD settings were stored with their own setting number as value (LCID aside).
    EXPECT_EQ(reg.FindNumber(CRegistryRoot::kLcid), 0x411u);
    EXPECT_EQ(reg.FindNumber(CRegistryRoot::kLinuxTraceEnabled), 1u);
    for (int number : {13, 14, 15, 16, 17, 19, 20, 21, 22, 23, 24, 25, 26, 27}) {
        EXPECT_EQ(reg.FindNumber(number), std::optional<std::uint32_t>(number)) << number;
        EXPECT_FALSE(reg.FindText(number)) << number;
    }
    for (int unused : {6, 18, 28}) {
        EXPECT_FALSE(reg.FindText(unused));
        EXPECT_FALSE(reg.FindNumber(unused));
    }

    std::wstring dir;
    EXPECT_EQ(reg.GetInstallDir(dir), 0u);
    EXPECT_EQ(dir, L"/opt/vorma");
    EXPECT_EQ(reg.GetSnmpDir(), L"/opt/vorma/Common/snmp");
    EXPECT_EQ(reg.GetConfigDir(), L"/opt/vorma/Environment/Config");
    EXPECT_EQ(reg.GetHelperIniPath(), L"/opt/vorma/Environment/Config/MxHelper.ini");
}

TEST(CRegistryRootTest, ValuesOfTheWrongShapeAreSkippedAndOthersTakenLiterally) {
    test::TempSysRoot root;
    // LCID as a string longer than 4 bytes; InstallDir as an expandable string.
    WriteStore(root,
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n"
               "\"LCID\"=\"1041\"\n"
               "\"InstallDir\"=hex(2):24,00,48,00,4f,00,4d,00,45,00,2f,00,25,00,56,00,25,00,\\\n"
               "  00,00\n"
               "\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\Action]\n"
               "\"TimeOut\"=hex:01,02\n"
               "\n");
    CRegistryRoot reg;
    std::wstring dir;
    EXPECT_EQ(reg.GetInstallDir(dir), 0u);
    EXPECT_EQ(dir, L"$HOME/%V%");
    EXPECT_EQ(reg.GetSnmpDir(), L"$HOME/%V%/Common/snmp");
    EXPECT_FALSE(reg.FindNumber(CRegistryRoot::kLcid));
    EXPECT_FALSE(reg.FindNumber(CRegistryRoot::kActionTimeOut));
}

TEST(CRegistryRootTest, OneSeparatorBetweenTheInstallationFolderAndItsFolders) {
    struct Case {
        const wchar_t* install;
        const wchar_t* snmp;
        const wchar_t* config;
    };
    const Case cases[] = {
        {L"/opt/vorma", L"/opt/vorma/Common/snmp", L"/opt/vorma/Environment/Config"},
        {L"/opt/vorma/", L"/opt/vorma/Common/snmp", L"/opt/vorma/Environment/Config"},
        {L"/opt/vorma//", L"/opt/vorma/Common/snmp", L"/opt/vorma/Environment/Config"},
        {L"/", L"/Common/snmp", L"/Environment/Config"},
        {L"/opt/\u65E5\u672C", L"/opt/\u65E5\u672C/Common/snmp",
         L"/opt/\u65E5\u672C/Environment/Config"},
    };
    for (const Case& c : cases) {
        test::TempSysRoot root;
        SetInstallDir(c.install);
        CRegistryRoot reg;
        EXPECT_EQ(reg.GetSnmpDir(), c.snmp) << platform::WideToUtf8(c.install);
        EXPECT_EQ(reg.GetConfigDir(), c.config) << platform::WideToUtf8(c.install);
        EXPECT_EQ(reg.GetHelperIniPath(), std::wstring(c.config) + L"/MxHelper.ini");
    }
}

TEST(CRegistryRootTest, PathsThatDoNotFitInMaxPathAreEmpty) {
    // "/Common/snmp" is 12 units, "/Environment/Config/MxHelper.ini" 32.
    const std::wstring base = L"/" + std::wstring(200, L'v');
    struct Case {
        std::wstring install;
        bool snmp;
        bool helper;
    };
    const Case cases[] = {
        {base + std::wstring(259 - 12 - 201, L'x'), true, false},  // 259 units: fits
        {base + std::wstring(260 - 12 - 201, L'x'), false, false},
        {base + std::wstring(259 - 32 - 201, L'x'), true, true},
        {base + std::wstring(260 - 32 - 201, L'x'), true, false},
        // A character beyond the BMP counts two units.
        {base + std::wstring(258 - 12 - 201 - 1, L'x') + L"\U0001F600", true, false},
        {base + std::wstring(259 - 12 - 201 - 1, L'x') + L"\U0001F600", false, false},
        {std::wstring(300, L'x'), false, false},
    };
    for (const Case& c : cases) {
        test::TempSysRoot root;
        SetInstallDir(c.install);
        CRegistryRoot reg;
        std::wstring dir;
        EXPECT_EQ(reg.GetInstallDir(dir), 0u);
        EXPECT_EQ(dir, c.install);  // the value itself is given as it is
        EXPECT_EQ(reg.GetSnmpDir().empty(), !c.snmp) << c.install.size();
        EXPECT_EQ(reg.GetHelperIniPath().empty(), !c.helper) << c.install.size();
    }
}

TEST(CRegistryRootTest, WithoutTheProductKeyEveryGetterRepeatsTheReadingPass) {
    test::TempSysRoot root;
    CRegistryRoot reg;
    std::wstring dir = L"unchanged";
    EXPECT_EQ(reg.GetInstallDir(dir), 2u);
    EXPECT_EQ(dir, L"unchanged");
    EXPECT_EQ(reg.GetSnmpDir(), L"");
    EXPECT_EQ(reg.GetConfigDir(), L"");
    EXPECT_EQ(reg.GetHelperIniPath(), L"");

    // Nothing was found, so the next call reads the registry again and sees the new value.
    SetInstallDir(L"/opt/vorma");
    EXPECT_EQ(reg.GetSnmpDir(), L"/opt/vorma/Common/snmp");

    // Once something was found the tables are kept as they are.
    SetInstallDir(L"/elsewhere");
    EXPECT_EQ(reg.GetInstallDir(dir), 0u);
    EXPECT_EQ(dir, L"/opt/vorma");
}

TEST(CRegistryRootTest, AnInstallDirWithoutTextGivesNoFolders) {
    test::TempSysRoot root;
    SetInstallDir(L"");
    CRegistryRoot reg;
    std::wstring dir = L"unchanged";
    EXPECT_EQ(reg.GetInstallDir(dir), 0u);
    EXPECT_EQ(dir, L"");
    // Not "Common/snmp" relative to whatever the current folder is.
    EXPECT_EQ(reg.GetSnmpDir(), L"");
    EXPECT_EQ(reg.GetConfigDir(), L"");
    EXPECT_EQ(reg.GetHelperIniPath(), L"");
}

TEST(CRegistryRootTest, AKeyOpenedBeforeIsClosedByTheReadingPass) {
    test::TempSysRoot root;
    SetInstallDir(L"/opt/vorma");
    CRegistryRoot reg;
    ASSERT_EQ(reg.Open(kHkeyLocalMachine, CRegistryRoot::kProductKey), 0u);
    platform::RegKey before = reg.Handle();
    EXPECT_EQ(reg.Load(), 0u);
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_EQ(platform::CloseRegistryKey(before), 6u);  // no longer open
}

}  // namespace
