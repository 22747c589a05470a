#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Crypt.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "settings/OptionLine.h"
#include "settings/SnmpV3Settings.h"
#include "settings/UsmEntry.h"
#include "tests/support/ApplicationLog.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"

namespace {

// Test cipher: "ENC(x)" deciphers to x, anything else to nothing.
std::wstring FakeDecipher(const std::wstring& text) {
    if (text.starts_with(L"ENC(") && text.ends_with(L")")) {
        return text.substr(4, text.size() - 5);
    }
    return {};
}

const std::wstring kEngine = L"0x80001F8880";  // 12 characters

TEST(UsmEntryTest, ChecksInOrder) {
    struct Case {
        std::wstring line;
        bool valid;
    };
    const std::wstring id = L"-e:" + kEngine + L" ";
    const Case cases[] = {
        {id + L"-u:user", true},
        {L"-u:user", false},  // the engine ID is required here
        {L"-e:123456789 -u:user", false},
        {L"-e:1234567890 -u:user", true},
        {L"-e:" + std::wstring(32, L'f') + L" -u:user", true},
        {L"-e:" + std::wstring(33, L'f') + L" -u:user", false},
        {id, false},  // no user
        {id + L"-u:" + std::wstring(31, L'u'), true},
        {id + L"-u:" + std::wstring(32, L'u'), false},
        {id + L"-u:\"us er\"", false},
        {id + L"-u:us%er", false},
        {id + L"-u:", true},  // present, even if empty
        {id + L"-u:user -a:md5 -AP:12345678", false},
        {id + L"-u:user -a:MD5 -AP:1234567", false},
        {id + L"-u:user -a:MD5 -AP:12345678", true},
        {id + L"-u:user -a:SHA -AP:" + std::wstring(64, L'p'), true},
        {id + L"-u:user -a:SHA -AP:" + std::wstring(65, L'p'), false},
        {id + L"-u:user -a:SHA -AP:\"pass word\"", false},  // quoting does not help
        {id + L"-u:user -a:SHA -AP:pass%word", false},
        {id + L"-u:user -a:SHA -AP:pass&word", false},
        {id + L"-u:user -a:SHA", false},                  // no pass phrase at all
        {id + L"-u:user -AP:x", true},                    // no protocol: not checked
        {id + L"-u:user -a:SHA -A:ENC(12345678)", true},  // deciphered length
        {id + L"-u:user -a:SHA -A:ENC(1234567)", false},
        {id + L"-u:user -a:SHA -A:garbage", false},             // does not decipher: empty
        {id + L"-u:user -a:SHA -AP:12345678 -A:ENC(1)", true},  // AP wins
        {id + L"-u:user -a:SHA -AP:1234567 -A:ENC(12345678)", false},
        {id + L"-u:user -a:SHA -AP:12345678 -x:aes -XP:12345678", false},
        {id + L"-u:user -a:SHA -AP:12345678 -x:AES -XP:1234567", false},
        {id + L"-u:user -a:SHA -AP:12345678 -x:AES -XP:12345678", true},
        {id + L"-u:user -a:SHA -AP:12345678 -x:DES -X:ENC(abcdefgh)", true},
        {id + L"-u:user -a:SHA -AP:12345678 -x:DES -X:ENC(ab cdefgh)", false},
        {id + L"-u:user -x:DES", false},              // privacy pass phrase missing
        {id + L"-u:user -x:DES -XP:12345678", true},  // privacy without authentication
        {L"/e:" + kEngine + L" --u:user", true},
        {id + L"-U:user", false},
        {L"---e:" + kEngine + L" -u:user", false},
    };
    for (const auto& c : cases) {
        UsmEntry entry;
        EXPECT_EQ(ValidateUsmEntry(SplitOptionLine(c.line), UsmEntryRules{}, entry, FakeDecipher),
                  c.valid)
            << platform::WideToUtf8(c.line);
    }
}

TEST(UsmEntryTest, FillsTheEntry) {
    UsmEntry entry;
    ASSERT_TRUE(ValidateUsmEntry(SplitOptionLine(L"-x:AES -X:ENC(privpass) -u:monitor -e:" +
                                                 kEngine + L" -a:SHA -AP:authpass -A:ENC(other)"),
                                 UsmEntryRules{}, entry, FakeDecipher));
    EXPECT_EQ(entry.engineId, kEngine);
    EXPECT_EQ(entry.userName, L"monitor");
    EXPECT_EQ(entry.authProtocol, L"SHA");
    EXPECT_EQ(entry.authPassword, L"authpass");
    EXPECT_EQ(entry.privProtocol, L"AES");
    EXPECT_EQ(entry.privPassword, L"privpass");
}

TEST(UsmEntryTest, PlainPassPhraseIsNotDeciphered) {
    int calls = 0;
    auto counting = [&calls](const std::wstring& text) {
        ++calls;
        return FakeDecipher(text);
    };
    UsmEntry entry;
    ASSERT_TRUE(ValidateUsmEntry(
        SplitOptionLine(L"-e:" + kEngine +
                        L" -u:u -a:MD5 -AP:12345678 -A:ENC(x) -x:DES -XP:abcdefgh -X:ENC(y)"),
        UsmEntryRules{}, entry, counting));
    EXPECT_EQ(calls, 0);
}

TEST(UsmEntryTest, RealCipherLengthsCountAfterDeciphering) {
    std::wstring seven;
    std::wstring eight;
    ASSERT_TRUE(EncipherPassword(L"pass567", seven));
    ASSERT_TRUE(EncipherPassword(L"パスワード123", eight));  // 8 characters, 13 bytes in 932
    UsmEntry entry;
    EXPECT_FALSE(ValidateUsmEntry(SplitOptionLine(L"-e:" + kEngine + L" -u:u -a:MD5 -A:" + seven),
                                  true, entry));
    ASSERT_TRUE(ValidateUsmEntry(
        SplitOptionLine(L"-e:" + kEngine + L" -u:u -a:MD5 -A:\"+ " + eight + L"\""), true, entry));
    EXPECT_EQ(entry.authPassword, L"パスワード123");
}

TEST(UsmEntryTest, WithoutLimitsOnlyTheStructureIsChecked) {
    struct Case {
        std::wstring line;
        bool required;
        bool valid;
    };
    const Case cases[] = {
        {L"-e:12345 -u:\"a b\" -a:SHA -AP:short", true, true},
        {L"-u:user -a:SHA", false, true},
        {L"-u:user", true, false},
        {L"-e:1 -a:SHA -AP:x", true, false},
        {L"-e:1 -u:x -a:sha", true, false},
        {L"-e:1 -u:x -x:aes", true, false},
    };
    for (const auto& c : cases) {
        UsmEntryRules rules;
        rules.engineIdRequired = c.required;
        rules.checkLimits = false;
        UsmEntry entry;
        EXPECT_EQ(ValidateUsmEntry(SplitOptionLine(c.line), rules, entry, FakeDecipher), c.valid)
            << platform::WideToUtf8(c.line);
    }
}

class SnmpV3SettingsTest : public ::testing::Test {
  protected:
    SnmpV3SettingsTest() : m_locale("C.UTF-8") {}

    std::wstring Write(const std::wstring& text) {
        std::filesystem::path file = m_root.path() / "SnmpV3Setting.txt";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << platform::WideToLocale(text);
        return platform::WidePath(file);
    }

    test::ScopedLocale m_locale;
    test::TempSysRoot m_root;
};

TEST_F(SnmpV3SettingsTest, LoadsValidLinesAndReportsOthersWithoutPlainPassPhrases) {
    std::wstring enciphered;
    ASSERT_TRUE(EncipherPassword(L"EncPass99", enciphered));
    const std::wstring good =
        L"-e:" + kEngine + L" -u:monitor -a:SHA -A:" + enciphered + L" -x:AES -XP:PrivPass77";
    const std::wstring noEngine = L"-u:someone -a:MD5 -AP:Plain\"Secret1\" -XP:Plain2ndSecret";
    const std::wstring shortAuth = L"-e:" + kEngine + L" -u:x -a:SHA -AP:\"Sh rt\" -A:" +
                                   enciphered + L" -x:DES -XP:AnotherOne";
    std::vector<UsmEntry> entries = LoadSnmpV3Settings(
        Write(good + L"\r\n" + noEngine + L"\r\n\r\n" + shortAuth + L"\r\n" + good));

    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].userName, L"monitor");
    EXPECT_EQ(entries[0].authPassword, L"EncPass99");
    EXPECT_EQ(entries[0].privPassword, L"PrivPass77");

    auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), 2u);
    const std::wstring prefix =
        L"設定ファイルの読込みでエラーが発生しました。\r\nSNMPv3認証情報指定が不正です。\r\n";
    EXPECT_EQ(events[0].eventIdentifier, 0xC00017DBu);
    EXPECT_EQ(events[0].eventType, 1);
    ASSERT_EQ(events[0].strings.size(), 1u);
    EXPECT_EQ(events[0].strings[0], prefix + L"-u:someone -a:MD5 -AP:******** -XP:********");
    ASSERT_EQ(events[1].strings.size(), 1u);
    EXPECT_EQ(events[1].strings[0], prefix + L"-e:" + kEngine + L" -u:x -a:SHA -AP:******** -A:" +
                                        enciphered + L" -x:DES -XP:********");

    std::string log = test::ReadApplicationLogText();
    for (const char* secret : {"Secret1", "Plain2ndSecret", "Sh rt", "AnotherOne"}) {
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
    }
}

TEST_F(SnmpV3SettingsTest, EmptyOrMissingFileGivesNoUsersAndNoEvent) {
    EXPECT_TRUE(LoadSnmpV3Settings(Write(L"")).empty());
    EXPECT_TRUE(LoadSnmpV3Settings(Write(L"\n\r\n\n")).empty());
    EXPECT_TRUE(LoadSnmpV3Settings(L"/nonexistent-vorma/SnmpV3Setting.txt").empty());
    EXPECT_TRUE(test::ReadApplicationLog().empty());
}

}  // namespace
