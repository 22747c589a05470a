#include "getpoll/GetCycle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "tests/support/ApplicationLog.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"
#include "traps/ListEvaluation.h"

namespace {

namespace fs = std::filesystem;

// Shows what the decorator was given: "<line>", or nothing without "=".
std::string MarkLine(std::string_view line) {
    return line.find('=') == std::string_view::npos ? std::string() : "<" + std::string(line) + ">";
}

// Passes with a shell script for the tool, no agent: an installation folder in a fresh system
// root, whose event log the test reads.
class GetPassTest : public ::testing::Test {
  protected:
    GetPassTest() : m_locale("C.UTF-8") {
        m_install = m_root.path() / "install";
        fs::create_directories(m_install / "bin");
        fs::create_directories(SnmpDir() / "Config");
        fs::create_directories(SnmpDir() / "logs");
    }

    fs::path SnmpDir() const { return m_install / "Common" / "snmp"; }

    void WriteTool(const std::string& script) {
        const fs::path tool = m_install / "bin" / "snmpget";
        std::ofstream(tool, std::ios::binary | std::ios::trunc) << "#!/bin/sh\n" << script << "\n";
        fs::permissions(tool, fs::perms::owner_all);
    }

    void WriteList(const std::string& text) {
        std::ofstream(SnmpDir() / "Config" / "GetOIDList.txt", std::ios::binary | std::ios::trunc)
            << text;
    }

    void RunPass(const fs::path& filterLogBase) {
        CGetCycle cycle(
            platform::Utf8ToWide(m_install.string()), platform::Utf8ToWide(SnmpDir().string()),
            {[this](const std::wstring& text) { return IsExcluded(text, m_white, m_black); },
             [this](const std::wstring& text) { return GetEventType(text, m_levels); }},
            platform::Utf8ToWide(filterLogBase.string()), m_writeMutex, [] { return false; },
            MarkLine);
        cycle.Run();
    }

    test::ScopedLocale m_locale;
    test::TempSysRoot m_root;
    fs::path m_install;
    std::vector<std::wstring> m_white;
    std::vector<std::wstring> m_black;
    EventLevelList m_levels;
    std::mutex m_writeMutex;
};

TEST_F(GetPassTest, FilterLogThatCannotBeWrittenIsReported) {
    WriteTool("echo 'SNMPv2-MIB::sysName.0 = STRING: x'");
    WriteList("-v:2c -c:public -agent:a -oid:o\n");
    m_black = {L"sysName"};
    RunPass(m_root.path() / "no-such-folder" / "FilterLog");
    const auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].eventIdentifier, 0xC00017DBu);
    EXPECT_EQ(events[0].eventType, 1);
    ASSERT_EQ(events[0].strings.size(), 1u);
    EXPECT_TRUE(events[0].strings[0].starts_with(L"フィルターログの出力に失敗しました。\r\n"))
        << platform::WideToUtf8(events[0].strings[0]);
}

}  // namespace
