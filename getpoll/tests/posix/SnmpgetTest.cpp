#include "getpoll/Snmpget.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "getpoll/GetOidEntry.h"
#include "platform/CommandLine.h"
#include "platform/Text.h"
#include "settings/OptionLine.h"

namespace {

namespace fs = std::filesystem;

GetOidEntry Entry(const std::wstring& line) {
    GetOidEntry entry;
    EXPECT_EQ(ParseGetOidLine(SplitOptionLine(line), entry), GetOidLineError::kNone) << line;
    return entry;
}

TEST(SnmpgetTest, ArgumentsOfEachKindOfRequest) {
    struct Case {
        std::wstring line;
        std::wstring arguments;
    };
    const Case cases[] = {
        {L"-v:2c -c:public -agent:192.168.0.10 -oid:1.3.6.1.2.1.1.3.0",
         L" -v 2c -c \"public\" 192.168.0.10 1.3.6.1.2.1.1.3.0"},
        {L"-v:1 -c:public -agent:10.0.0.1 -oid:sysDescr.0",
         L" -v 1 -c \"public\" 10.0.0.1 sysDescr.0"},
        // The community is always written, empty or absent.
        {L"-v:2c -c: -agent:a -oid:o", L" -v 2c -c \"\" a o"},
        {L"-v:1 -agent:a -oid:o", L" -v 1 -c \"\" a o"},
        // Agent and OID pass unquoted: a blank in either makes two arguments of the tool.
        {L"-v:2c -c:x \"-agent:udp:10.0.0.1:1161 -t 9\" \"-oid:sysName.0 sysDescr.0\"",
         L" -v 2c -c \"x\" udp:10.0.0.1:1161 -t 9 sysName.0 sysDescr.0"},
        {L"-v:3 -e:0x80001F8880 -u:monitor -a:SHA -AP:authpass1 -x:AES -XP:privpass1 "
         L"-agent:udp6:[fe80::1]:161 -oid:sysUpTime.0",
         L" -e 0x80001F8880 -u monitor -a SHA -A \"authpass1\" -x AES -X \"privpass1\" "
         L"-l authPriv udp6:[fe80::1]:161 sysUpTime.0"},
        {L"-v:3 -u:monitor -a:MD5 -AP:authpass1 -agent:a -oid:o",
         L" -u monitor -a MD5 -A \"authpass1\" -l authNoPriv a o"},
        {L"-v:3 -u:monitor -agent:a -oid:o", L" -u monitor -l noAuthNoPriv a o"},
        // Privacy without authentication is dropped; no -v and no community for version 3.
        {L"-v:3 -c:public -u:monitor -x:DES -XP:privpass1 -agent:a -oid:o",
         L" -u monitor -l noAuthNoPriv a o"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildSnmpgetArguments(Entry(c.line)), c.arguments) << c.line;
    }
}

TEST(SnmpgetTest, CommandLineJoinsTheInstallationFolderWithOneSeparator) {
    const std::wstring arguments = L" -v 2c -c \"public\" 192.168.0.10 1.3.6.1.2.1.1.3.0";
    const std::wstring expected =
        L"/opt/vorma/bin/snmpget -M \"/opt/vorma/Common/snmp/mibs\"  -v 2c -c \"public\" "
        L"192.168.0.10 1.3.6.1.2.1.1.3.0";
    EXPECT_EQ(BuildSnmpgetCommandLine(L"/opt/vorma", arguments), expected);
    EXPECT_EQ(BuildSnmpgetCommandLine(L"/opt/vorma/", arguments), expected);

    // A blank in the installation folder stays inside the tool's path.
    const std::vector<std::wstring> words =
        platform::SplitCommandLine(BuildSnmpgetCommandLine(L"/opt/Vorma W6", L" -v 1 a o"));
    const std::vector<std::wstring> wanted = {L"/opt/Vorma W6/bin/snmpget",
                                              L"-M",
                                              L"/opt/Vorma W6/Common/snmp/mibs",
                                              L"-v",
                                              L"1",
                                              L"a",
                                              L"o"};
    EXPECT_EQ(words, wanted);
}

// An installation folder whose bin/snmpget is a shell script.
class FakeToolTest : public ::testing::Test {
  protected:
    FakeToolTest() {
        std::string pattern = (fs::temp_directory_path() / "vorma-snmpget-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        m_root = made != nullptr ? fs::path(made) : fs::path();
    }
    ~FakeToolTest() override {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    // `folder` is the installation folder as it is handed over (with or without a separator).
    std::wstring Install(const std::string& script, const std::string& folder = "Vorma W6") {
        const fs::path install = m_root / folder;
        fs::create_directories(install / "bin");
        const fs::path tool = install / "bin" / "snmpget";
        std::ofstream(tool, std::ios::binary | std::ios::trunc) << "#!/bin/sh\n" << script << "\n";
        fs::permissions(tool, fs::perms::owner_all);
        return platform::Utf8ToWide(install.string());
    }

    fs::path m_root;
};

TEST_F(FakeToolTest, ToolGetsItsArgumentsAsTheCommandLineSplitsThem) {
    const std::wstring install = Install("printf '[%s]' \"$@\"");
    std::wstring output;
    ASSERT_TRUE(
        RunSnmpget(install + L"/",
                   BuildSnmpgetArguments(
                       Entry(L"-v:2c -c: -agent:udp:127.0.0.1:1161 \"-oid:sysName.0 sysDescr.0\"")),
                   output))
        << platform::WideToUtf8(output);
    EXPECT_EQ(output, L"[-M][" + install +
                          L"/Common/snmp/mibs][-v][2c][-c][][udp:127.0.0.1:1161][sysName.0]["
                          L"sysDescr.0]");
}

TEST_F(FakeToolTest, OutcomesOfARun) {
    struct Case {
        const char* script;
        bool succeeds;
        std::wstring output;
    };
    const Case cases[] = {
        {"echo 'SNMPv2-MIB::sysName.0 = STRING: host'", true,
         L"SNMPv2-MIB::sysName.0 = STRING: host\n"},
        // Standard error shares the pipe; the exit code decides.
        {"echo 'Timeout: No Response from 127.0.0.1.' >&2; exit 1", false,
         L"snmpgetの実行に失敗しました。[1]\r\nTimeout: No Response from 127.0.0.1.\n"},
        {"printf 'Error in packet\\nReason: (noSuchName)\\n'; exit 2", false,
         L"snmpgetの実行に失敗しました。[2]\r\nError in packet\nReason: (noSuchName)\n"},
        {"exit 0", true, L""},
        // Code page 932 text (日本).
        {"printf 'STRING: \\223\\372\\226\\173\\n'", true, L"STRING: 日本\n"},
        // An answer that takes several reads, with pauses between them, is kept whole and in
        // order.
        {"head -c 5000 /dev/zero | tr '\\0' a; sleep 0.3; head -c 3000 /dev/zero | tr '\\0' b; "
         "sleep 0.3; printf 'c\\n'",
         true, std::wstring(5000, L'a') + std::wstring(3000, L'b') + L"c\n"},
        // The text ends at a NUL byte.
        {"printf 'x\\0hidden'", true, L"x"},
        {"head -c 70000 /dev/zero | tr '\\0' x; exit 3", false,
         L"snmpgetの実行に失敗しました。[3]\r\n" + std::wstring(70000, L'x')},
    };
    for (const Case& c : cases) {
        const std::wstring install = Install(c.script);
        std::wstring output = L"stale";
        EXPECT_EQ(RunSnmpget(install, L" -v 1 -c \"\" a o", output), c.succeeds) << c.script;
        EXPECT_EQ(output, c.output) << c.script;
    }
}

TEST_F(FakeToolTest, FailuresBeforeTheToolRuns) {
    const std::wstring install = Install("echo never");
    std::wstring output;
    EXPECT_FALSE(RunSnmpget(install, L"", output));
    EXPECT_EQ(output, L"パラメーターが指定されていません。");

    // No tool in the installation: file not found.
    EXPECT_FALSE(
        RunSnmpget(platform::Utf8ToWide((m_root / "empty").string()), L" -v 1 a o", output));
    EXPECT_EQ(output, L"プロセスの生成に失敗しました。[0x00000002]");
}

}  // namespace
