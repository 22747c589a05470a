#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "platform/TextFile.h"
#include "settings/FilterList.h"
#include "settings/SettingLines.h"
#include "tests/support/ApplicationLog.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"

namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kReadError = L"設定ファイルの読込みでエラーが発生しました。\r\n";
const std::wstring kTooLong = L"正規表現が最大長をオーバーしています。\r\n";

class FilterListTest : public ::testing::Test {
  protected:
    FilterListTest() : m_locale("C.UTF-8") {}

    std::wstring Write(const std::string& bytes) {
        std::filesystem::path file = m_root.path() / "FilterWhite.txt";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        return platform::WidePath(file);
    }
    std::wstring WriteWide(const std::wstring& text) { return Write(platform::WideToLocale(text)); }

    test::ScopedLocale m_locale;
    test::TempSysRoot m_root;
};

TEST_F(FilterListTest, MissingFileGivesNoPatternsAndNoEvent) {
    EXPECT_TRUE(LoadFilterList(platform::WidePath(m_root.path() / "none.txt")).empty());
    EXPECT_TRUE(test::ReadApplicationLog().empty());
}

TEST_F(FilterListTest, EveryNonEmptyLineIsAPatternAsWritten) {
    struct Case {
        std::string bytes;
        Lines patterns;
    };
    const Case cases[] = {
        {"linkDown\nlinkUp\n", {L"linkDown", L"linkUp"}},
        {"linkDown\r\nlinkUp\r\n", {L"linkDown", L"linkUp"}},  // CR LF as LF
        {"linkDown\r\nlinkUp", {L"linkDown", L"linkUp"}},      // no LF after the last line
        {"\n\n  \n\t\n", {L"  ", L"\t"}},                      // blanks are a pattern
        {" a.*b , c \\d+\n", {L" a.*b , c \\d+"}},             // no trimming, no escapes
        {"# not a comment\n", {L"# not a comment"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadFilterList(Write(c.bytes)), c.patterns) << c.bytes;
    }
    EXPECT_TRUE(test::ReadApplicationLog().empty());
}

TEST_F(FilterListTest, LinesOverTheLimitAreReportedAndSkipped) {
    // The limit counts UTF-16 units: a character beyond U+FFFF counts two.
    const std::wstring kept1024(1024, L'a');
    const std::wstring keptJapanese(1024, L'字');
    std::wstring astral512;
    for (int i = 0; i < 512; ++i) {
        astral512 += L"\U0001F600";  // a string: two UTF-16 units where wchar_t has 16 bits
    }
    const std::wstring long1025(1025, L'b');
    const std::wstring longAstral = astral512 + L"c";  // 1,025 units in 513 characters

    Lines patterns = LoadFilterList(WriteWide(kept1024 + L"\n" + long1025 + L"\r\n" + keptJapanese +
                                              L"\n" + longAstral + L"\n" + astral512 + L"\nafter"));
    EXPECT_EQ(patterns, (Lines{kept1024, keptJapanese, astral512, L"after"}));

    auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), 2u);
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].eventIdentifier, 0xC00017DBu);
        EXPECT_EQ(events[i].eventType, 1);
        ASSERT_EQ(events[i].strings.size(), 1u);
    }
    EXPECT_EQ(events[0].strings[0], test::AsLoggedString(kReadError + kTooLong + long1025));
    EXPECT_EQ(events[1].strings[0], test::AsLoggedString(kReadError + kTooLong + longAstral));
}

TEST_F(FilterListTest, WithoutTheLimitLongLinesAreKept) {
    const std::wstring longLine(5000, L'x');
    EXPECT_EQ(ReadSettingLines(WriteWide(L"\n" + longLine + L"\n"), false), (Lines{longLine}));
    EXPECT_TRUE(test::ReadApplicationLog().empty());
}

TEST_F(FilterListTest, ShiftJisFileUnderAShiftJisLocale) {
    std::optional<test::ScopedLocale> locale;
    try {
        locale.emplace("ja_JP.SJIS");
    } catch (const std::exception&) {
        GTEST_SKIP() << "no ja_JP.SJIS locale on this machine";
    }
    const std::wstring pattern = L"表示\\s+ソフト";
    std::string bytes = platform::WideToCodePage(platform::kCodePage932, pattern);
    EXPECT_EQ(LoadFilterList(Write(bytes + "\r\n\r\n" + bytes)), (Lines{pattern, pattern}));
}

}  // namespace
