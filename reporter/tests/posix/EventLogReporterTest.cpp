#include "reporter/EventLogReporter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/EventLog.h"
#include "platform/Resources.h"
#include "platform/Text.h"
#include "tests/support/TempSysRoot.h"

namespace {

using Json = nlohmann::json;

std::vector<Json> ReadEvents() {
    std::vector<Json> events;
    std::ifstream in(platform::ApplicationLogFile(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        Json event = Json::parse(line, nullptr, false);
        EXPECT_FALSE(event.is_discarded()) << line.substr(0, 200);
        events.push_back(std::move(event));
    }
    return events;
}

// The message table of the program, typed from the product's documentation: any change to the
// resource source shows here.
struct MessageText {
    std::uint32_t id;
    const wchar_t* english;
    const wchar_t* japanese;
};

const MessageText kMessages[] = {
    {0x3E8, L"VORMA SNMP Manager Service Install is Success\r\n",
     L"VORMA SNMP マネージャーサービス インストール 成功\r\n"},
    {0x3E9, L"VORMA SNMP Manager Service UnInstall is Success\r\n",
     L"VORMA SNMP マネージャーサービス アンインストール 成功\r\n"},
    {0x44C, L"VORMA SNMP Manager Service is Started\r\n",
     L"VORMA SNMP マネージャーサービス 開始しました\r\n"},
    {0x44D, L"VORMA SNMP Manager Service is Stopped\r\n",
     L"VORMA SNMP マネージャーサービス 停止しました\r\n"},
    {0x7D0, L"%1\r\n", L"%1\r\n"},
    {0x7D1, L"%1\r\n", L"%1\r\n"},
    {0xC00017D4, L"VORMA SNMP Manager Service Init is Failed\r\n",
     L"VORMA SNMP マネージャーサービス の初期化に失敗しました\r\n"},
    {0xC00017D5, L"VORMA SNMP Manager Service Analysis MIB Folder Definition is Not Found\r\n",
     L"VORMA SNMP マネージャーサービス 解析するMIB定義フォルダーの定義がみつかりません\r\n"},
    {0xC00017D6, L"%1\r\n", L"%1\r\n"},
    {0xC00017D8, L"%1\r\n", L"%1\r\n"},
    {0xC00017D9, L"%1\r\n",
     L"前回起動時に実施したMIB解析結果の出力ファイルの削除に失敗しました。%1\r\n"},
    {0xC00017DA, L"%1\r\n", L"%1\r\n"},
    {0xC00017DB, L"%1\r\n", L"%1\r\n"},
    {0xC00017DC, L"%1\r\n", L"%1\r\n"},
};

struct StringText {
    std::uint32_t id;
    const wchar_t* text;
};

const StringText kStrings[] = {
    {104, L"MIB解析結果の出力ファイルにアクセスできません。\r\n以下の環境設定を確認してください。"},
    {105,
     L"MIB解析にてエラーを検出しました。\r\n詳細は以下のMIB解析結果の出力ファイルを確認してくだ"
     L"さい。"},
    {106, L"{ %1!s! }\r\nエラーコード[%2!d!]\r\nエラーメッセージ :\r\n%3!s!"},
    {107,
     L"VORMA SNMPマネージャーサービスは、VORMA SNMP "
     L"設定ウィザードで設定された受信設定を元に、受信したSNMPトラップの情報をイベントログに記録"
     L"するサービスプログラムです。"},
    {108, L"フィルタリングでエラーが発生しました。\r\n%1!s!"},
    {109, L"設定ファイルの読込みでエラーが発生しました。\r\n%1!s!"},
    {110, L"フィルターログの出力に失敗しました。\r\n%1!s!"},
    {114, L"イベントレベル指定でエラーが発生しました。\r\n%1!s!"},
};

TEST(EventLogReporterTest, MessageTableIsExactInBothLanguages) {
    for (const MessageText& m : kMessages) {
        EXPECT_EQ(platform::LoadMessageResource(m.id, platform::kLangEnglish), m.english)
            << std::hex << m.id;
        EXPECT_EQ(platform::LoadMessageResource(m.id, platform::kLangJapanese), m.japanese)
            << std::hex << m.id;
    }
    // The identifiers around them are not messages (6103 has none; the severity bits count).
    for (std::uint32_t id : {0x3E7u, 0x3EAu, 0x7D2u, 0xC00017D3u, 0xC00017D7u, 0xC00017DDu, 0x17DBu,
                             0x800017DBu, 0x000007D0u + 0x10000u}) {
        EXPECT_FALSE(platform::LoadMessageResource(id, platform::kLangEnglish)) << std::hex << id;
    }
}

TEST(EventLogReporterTest, StringResourcesAreExact) {
    for (const StringText& s : kStrings) {
        EXPECT_EQ(LoadResourceString(s.id), s.text) << s.id;
    }
    for (std::uint32_t id : {0u, 103u, 111u, 112u, 113u, 115u}) {
        EXPECT_EQ(LoadResourceString(id), L"") << id;
    }
}

TEST(EventLogReporterTest, FormatResourceMessageFillsTheInserts) {
    EXPECT_EQ(
        FormatResourceMessage(IDS_MIB_REPORT_DELETE_ERROR,
                              {std::wstring(L"/opt/vorma/Common/snmp/logs/VormaSnmpManager.txt"),
                               std::int64_t{13}, std::wstring(L"Permission denied")}),
        L"{ /opt/vorma/Common/snmp/logs/VormaSnmpManager.txt }\r\nエラーコード[13]\r\n"
        L"エラーメッセージ :\r\nPermission denied");
    EXPECT_EQ(FormatResourceMessage(IDS_SETTINGS_READ_ERROR, {std::wstring(L"bad = 100% line")}),
              L"設定ファイルの読込みでエラーが発生しました。\r\nbad = 100% line");
    EXPECT_EQ(FormatResourceMessage(IDS_SERVICE_DESCRIPTION, {}), kStrings[3].text);
    // Where the system formatter fails, the text is empty.
    EXPECT_EQ(FormatResourceMessage(IDS_MIB_REPORT_DELETE_ERROR, {std::wstring(L"only one")}), L"");
    EXPECT_EQ(FormatResourceMessage(IDS_FILTER_ERROR, {std::int64_t{5}}), L"");
    EXPECT_EQ(FormatResourceMessage(111, {std::wstring(L"x")}), L"");
}

TEST(EventLogReporterTest, FormatSystemErrorGivesTheSystemText) {
    EXPECT_EQ(FormatSystemError(ENOENT), L"No such file or directory");
    EXPECT_EQ(FormatSystemError(EACCES), L"Permission denied");
    EXPECT_EQ(FormatSystemError(0x7FFFFFFFu), L"");
}

TEST(EventLogReporterTest, ReportsUnderTheOneSourceWithCategoryZero) {
    test::TempSysRoot root;
    const std::wstring line = L"bad = value\r\n設定";
    std::wstring strings[] = {line};
    ASSERT_TRUE(ReportToEventLog(MSG_SETTINGS_ERROR, kEventError, 1, strings));
    ASSERT_TRUE(ReportToEventLog(MSG_SERVICE_INSTALLED, kEventInformation));
    ASSERT_TRUE(ReportToEventLog(0xC00017DBu, kEventWarning, {L"one", L"two"}));
    EXPECT_FALSE(ReportToEventLog(MSG_SETTINGS_ERROR, kEventError, 1, nullptr));

    std::vector<Json> events = ReadEvents();
    ASSERT_EQ(events.size(), 3u);
    for (const Json& event : events) {
        EXPECT_EQ(event["SourceName"], "VORMASNMPManagerService");
        EXPECT_EQ(event["Category"], 0);
    }
    EXPECT_EQ(events[0]["EventID"], 6107);
    EXPECT_EQ(events[0]["EventType"], 1);
    EXPECT_EQ(events[0]["Strings"], Json::array({platform::WideToUtf8(line)}));
    // Event 0xC00017DB with one string shows that string followed by CR LF.
    EXPECT_EQ(events[0]["Message"], platform::WideToUtf8(line) + "\r\n");
    EXPECT_EQ(events[1]["EventID"], 1000);
    EXPECT_EQ(events[1]["Strings"], Json::array());
    EXPECT_EQ(events[2]["EventType"], 2);
    EXPECT_EQ(events[2]["Message"], "one\r\n");
}

TEST(EventLogReporterTest, ReportFailsWhenTheLogCannotBeOpened) {
    test::TempSysRoot root;
    std::ofstream(root.path() / "eventlog") << "a file where the log folder belongs";
    EXPECT_FALSE(ReportToEventLog(MSG_SERVICE_STARTED, kEventInformation));
}

TEST(EventLogReporterTest, TwoThreadsReportAtOnce) {
    test::TempSysRoot root;
    constexpr int kCount = 100;
    auto report = [](int thread) {
        for (int n = 0; n < kCount; ++n) {
            EXPECT_TRUE(ReportToEventLog(MSG_TRAP_RECEIVED, kEventInformation,
                                         {L"thread " + std::to_wstring(thread) + L" trap " +
                                          std::to_wstring(n) + L"\nsysUpTime.0 = 0\nメッセージ"}));
        }
    };
    std::thread first(report, 0);
    std::thread second(report, 1);
    first.join();
    second.join();
    std::vector<Json> events = ReadEvents();
    ASSERT_EQ(events.size(), 2u * kCount);
    std::set<std::string> texts;
    for (const Json& event : events) {
        texts.insert(event["Strings"][0].get<std::string>());
        EXPECT_EQ(event["Message"], event["Strings"][0].get<std::string>() + "\r\n");
    }
    EXPECT_EQ(texts.size(), 2u * kCount);
}

}  // namespace
