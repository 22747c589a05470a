#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Crypt.h"
#include "getpoll/GetOidEntry.h"
#include "getpoll/GetOidList.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "settings/OptionLine.h"
#include "tests/support/ApplicationLog.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"

namespace {

using E = GetOidLineError;

std::wstring FakeDecipher(const std::wstring& text) {
    if (text.starts_with(L"ENC(") && text.ends_with(L")")) {
        return text.substr(4, text.size() - 5);
    }
    return {};
}

E Parse(const std::wstring& line, GetOidEntry& entry, bool checkLimits = true) {
    return ParseGetOidLine(SplitOptionLine(line), entry, checkLimits, FakeDecipher);
}

const std::wstring kTail = L" -agent:192.168.0.10 -oid:1.3.6.1.2.1.1.3.0";

TEST(GetOidEntryTest, ChecksInOrderFirstFailureWins) {
    struct Case {
        std::wstring line;
        E error;
    };
    const Case cases[] = {
        {L"-v:2c -c:public" + kTail, E::kNone},
        {L"-v:1" + kTail, E::kNone},
        {L"-c:public" + kTail, E::kVersion},
        {L"-v:2C" + kTail, E::kVersion},
        {L"-v 2c" + kTail, E::kVersion},  // the value follows a colon
        {L"-v:4 -c:" + std::wstring(256, L'c'), E::kVersion},
        {L"/v:2c" + kTail, E::kNone},
        {L"--v:2c" + kTail, E::kNone},
        {L"---v:2c" + kTail, E::kVersion},
        {L"-v:1 -v:3" + kTail, E::kNone},  // the first version counts: no user needed
        {L"-v:3 -v:1" + kTail, E::kCredentials},
        {L"-v:2c -c:" + std::wstring(255, L'c') + kTail, E::kNone},
        {L"-v:2c -c:" + std::wstring(256, L'c') + kTail, E::kCommunityTooLong},
        {L"-v:2c -c:" + std::wstring(256, L'%'), E::kCommunityTooLong},  // length first
        {L"-v:2c -c:\"pub lic\"" + kTail, E::kCommunityReserved},
        {L"-v:2c -c:pub%lic" + kTail, E::kCommunityReserved},
        {L"-v:3 -c:a^b -u:x" + kTail, E::kCommunityReserved},  // for every version
        {L"-v:2c -c:" + kTail, E::kNone},                      // empty community
        {L"-v:2c -c:x -oid:1.3", E::kAgent},
        {L"-v:2c -agent: -oid:1.3", E::kNone},  // the agent is not checked
        {L"-v:2c -agent:x", E::kOid},
        {L"-v:2c -agent:x -oid:" + std::wstring(2000, L'1'), E::kNone},
        {L"-v:2c -agent:x -oid:" + std::wstring(2001, L'1'), E::kOidTooLong},
        {L"word -v:2c" + kTail, E::kNone},
        {L"   ", E::kVersion},  // a line of blanks
        // Version 3: the SNMPv3 user options, engine ID optional.
        {L"-v:3" + kTail, E::kCredentials},
        {L"-v:3 -u:monitor" + kTail, E::kNone},
        {L"-v:3 -u:monitor -e:123456789" + kTail, E::kCredentials},
        {L"-v:3 -u:monitor -e:1234567890" + kTail, E::kNone},
        {L"-v:3 -u:monitor -a:sha -AP:12345678" + kTail, E::kCredentials},
        {L"-v:3 -u:monitor -a:SHA -AP:1234567" + kTail, E::kCredentials},
        {L"-v:3 -u:monitor -a:SHA -AP:12345678" + kTail, E::kNone},
        {L"-v:3 -u:monitor -a:SHA -A:ENC(1234567)" + kTail, E::kCredentials},
        {L"-v:3 -u:monitor -a:SHA -A:not-enciphered" + kTail, E::kCredentials},
        {L"-v:3 -u:monitor -x:AES -XP:12345678" + kTail, E::kNone},
        {L"-v:3 -u:monitor -a:MD5 -AP:12345678 -x:AES -X:ENC(1234567)" + kTail, E::kCredentials},
        // Versions 1 and 2c do not read the SNMPv3 options.
        {L"-v:2c -u:\"bad user\" -a:sha -e:1" + kTail, E::kNone},
    };
    for (const auto& c : cases) {
        GetOidEntry entry;
        EXPECT_EQ(Parse(c.line, entry), c.error) << platform::WideToUtf8(c.line.substr(0, 80));
    }
}

TEST(GetOidEntryTest, FillsTheEntry) {
    GetOidEntry entry;
    ASSERT_EQ(Parse(L"-v:2c -agent:\"udp:10.0.0.1:1161\" -oid:sysUpTime.0 -u:ignored", entry),
              E::kNone);
    EXPECT_EQ(entry.version, L"2c");
    EXPECT_EQ(entry.community, L"");
    EXPECT_EQ(entry.agent, L"udp:10.0.0.1:1161");
    EXPECT_EQ(entry.oid, L"sysUpTime.0");
    EXPECT_EQ(entry.usm.userName, L"");

    ASSERT_EQ(Parse(L"-v:3 -u:monitor -a:SHA -A:ENC(authpass) -x:AES -XP:privpass "
                    L"-agent:udp6:[fe80::1]:161 -oid:sysUpTime.0 -c:ignored:too",
                    entry),
              E::kNone);
    EXPECT_EQ(entry.version, L"3");
    EXPECT_EQ(entry.community, L"ignored:too");
    EXPECT_EQ(entry.agent, L"udp6:[fe80::1]:161");
    EXPECT_EQ(entry.usm.engineId, L"");
    EXPECT_EQ(entry.usm.userName, L"monitor");
    EXPECT_EQ(entry.usm.authProtocol, L"SHA");
    EXPECT_EQ(entry.usm.authPassword, L"authpass");
    EXPECT_EQ(entry.usm.privProtocol, L"AES");
    EXPECT_EQ(entry.usm.privPassword, L"privpass");
}

TEST(GetOidEntryTest, WithoutLimitsTheToolsChecksRemain) {
    struct Case {
        std::wstring line;
        E error;
    };
    const Case cases[] = {
        {L"-v:2c -c:\"a b\" -oid:" + std::wstring(3000, L'1') + L" -agent:x", E::kNone},
        {L"-v:3 -u:\"a b\" -e:12 -a:SHA -AP:short" + kTail, E::kNone},
        {L"-v:2C" + kTail, E::kVersion},
        {L"-v:3 -a:SHA" + kTail, E::kCredentials},
    };
    for (const auto& c : cases) {
        GetOidEntry entry;
        EXPECT_EQ(Parse(c.line, entry, false), c.error)
            << platform::WideToUtf8(c.line.substr(0, 60));
    }
}

TEST(GetOidEntryTest, EveryRejectionHasItsMessage) {
    for (E error : {E::kVersion, E::kCommunityTooLong, E::kCommunityReserved, E::kAgent, E::kOid,
                    E::kOidTooLong, E::kCredentials}) {
        std::wstring_view message = GetOidLineMessage(error);
        EXPECT_TRUE(message.starts_with(L"SNMP Get"));
        EXPECT_TRUE(message.ends_with(L"\r\n%s"));
    }
    EXPECT_TRUE(GetOidLineMessage(E::kNone).empty());
}

class GetOidListTest : public ::testing::Test {
  protected:
    GetOidListTest() : m_locale("C.UTF-8") {}

    std::wstring Write(const std::wstring& text) {
        std::filesystem::path file = m_root.path() / "GetOIDList.txt";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << platform::WideToLocale(text);
        return platform::WidePath(file);
    }

    test::ScopedLocale m_locale;
    test::TempSysRoot m_root;
};

TEST_F(GetOidListTest, LoadsGoodLinesAndReportsEachRejection) {
    std::wstring enciphered;
    ASSERT_TRUE(EncipherPassword(L"AuthPass1", enciphered));
    const std::vector<std::wstring> lines = {
        L"-v:2c -c:public" + kTail,
        L"-v:2C" + kTail,
        L"-v:2c -c:" + std::wstring(256, L'c') + kTail,
        L"-v:2c -c:\"pub lic\"" + kTail,
        L"-v:1 -oid:1.3",
        L"-v:1 -agent:x",
        L"-v:1 -agent:x -oid:" + std::wstring(2001, L'1'),
        L"-v:3 -u:m -a:SHA -A:" + enciphered + L" -x:AES -XP:Priv\"Se cret\"9" + kTail,
        L"-v:3 -u:m -a:SHA -A:" + enciphered + kTail,
    };
    std::wstring file;
    for (const auto& line : lines) {
        file += line + L"\r\n\r\n";
    }
    std::vector<GetOidEntry> entries = LoadGetOidList(Write(file));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].community, L"public");
    EXPECT_EQ(entries[1].usm.authPassword, L"AuthPass1");

    const std::wstring head = L"設定ファイルの読込みでエラーが発生しました。\r\n";
    const std::vector<std::wstring> expected = {
        head + L"SNMP Getのバージョン指定が不正です。\r\n" + lines[1],
        head + L"SNMP Getのコミュニティ指定が最大長をオーバーしています。\r\n" + lines[2],
        head + L"SNMP Getのコミュニティ名で使用できない文字が含まれています。\r\n" + lines[3],
        head + L"SNMP Getのエージェント指定が不正です。\r\n" + lines[4],
        head + L"SNMP GetのOID指定が不正です。\r\n" + lines[5],
        head + L"SNMP GetのOID指定が最大長をオーバーしています。\r\n" + lines[6],
        // Enciphered A stays, the plain XP is masked.
        head + L"SNMP Getの認証情報指定が不正です。\r\n-v:3 -u:m -a:SHA -A:" + enciphered +
            L" -x:AES -XP:********" + kTail,
    };
    auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(events[i].eventIdentifier, 0xC00017DBu);
        EXPECT_EQ(events[i].eventType, 1);
        ASSERT_EQ(events[i].strings.size(), 1u);
        EXPECT_EQ(events[i].strings[0], test::AsLoggedString(expected[i])) << i;
    }
}

TEST_F(GetOidListTest, PlainPassPhrasesNeverReachTheEventLog) {
    // Every line is rejected, for reasons before, at and after the credentials.
    const std::wstring file =
        L"-v:9 -AP:FirstSecret1 -XP:SecondSecret2\n"
        L"-v:2c -c:\"a b\" -u:x -AP:ThirdSecret3\n"
        L"-v:3 -u:m -a:SHA -AP:\"Fourth Secret4\" -x:DES -XP:Fifth\\\"Secret5" +
        kTail + L"\n-v:3 -u:m -a:SHA -AP:Short6 --AP:SixthSecret7 /XP:Seventh:Secret8" + kTail +
        L"\n-v:1 -agent:x \"-AP:Eighth Secret9\"";
    EXPECT_TRUE(LoadGetOidList(Write(file)).empty());
    ASSERT_EQ(test::ReadApplicationLog().size(), 5u);
    std::string log = test::ReadApplicationLogText();
    for (const char* secret : {"Secret1", "Secret2", "Secret3", "Secret4", "Secret5", "Short6",
                               "Secret7", "Secret8", "Secret9"}) {
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
    }
    EXPECT_NE(log.find("********"), std::string::npos);
}

TEST_F(GetOidListTest, MissingFileGivesNothingToDo) {
    EXPECT_TRUE(LoadGetOidList(L"/nonexistent-vorma/GetOIDList.txt").empty());
    EXPECT_TRUE(test::ReadApplicationLog().empty());
}

}  // namespace
