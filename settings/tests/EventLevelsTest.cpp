#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "platform/TextFile.h"
#include "settings/EventLevels.h"
#include "tests/support/ApplicationLog.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"

namespace {

const std::wstring kReadError = L"設定ファイルの読込みでエラーが発生しました。\r\n";

TEST(EventLevelsTest, LevelTextGivesTheEventType) {
    struct Case {
        const wchar_t* level;
        std::uint16_t type;
    };
    const Case cases[] = {
        {L"0", 0},  {L"1", 4},  {L"2", 2},  {L"3", 1},       {L"4", 2},
        {L"01", 2}, {L" 1", 2}, {L"1 ", 2}, {L"warning", 2}, {L"", 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LevelToEventType(c.level), c.type) << c.level;
    }
}

TEST(EventLevelsTest, ParsesLevelAndPattern) {
    struct Case {
        const wchar_t* line;
        EventLevelLineError error;
        std::uint16_t type;
        const wchar_t* pattern;
    };
    const Case cases[] = {
        {L"3,linkDown", EventLevelLineError::kNone, 1, L"linkDown"},
        {L"1,a,b", EventLevelLineError::kNone, 4, L"a,b"},  // further commas: pattern
        {L"4,x", EventLevelLineError::kNone, 2, L"x"},
        {L"warning,x", EventLevelLineError::kNone, 2, L"x"},
        {L",x,y", EventLevelLineError::kNone, 2, L"y"},  // level ",x"
        {L",,x", EventLevelLineError::kNone, 2, L"x"},   // level ","
        {L"0, \t\vlink Down \t\v", EventLevelLineError::kNone, 0, L"link Down"},
        {L"2,   ", EventLevelLineError::kNone, 2, L""},  // trims to the empty pattern
        {L"3 ,x", EventLevelLineError::kNone, 2, L"x"},  // level "3 " is anything else
        {L"no comma", EventLevelLineError::kInvalid, 0, L""},
        {L",x", EventLevelLineError::kInvalid, 0, L""},
        {L"2,", EventLevelLineError::kInvalid, 0, L""},
        {L",", EventLevelLineError::kInvalid, 0, L""},
        {L"1,a\rb", EventLevelLineError::kInvalid, 0, L""},  // "." takes no CR
        {L"1\r,a", EventLevelLineError::kInvalid, 0, L""},
    };
    for (const auto& c : cases) {
        EventLevelEntry entry;
        EXPECT_EQ(ParseEventLevelLine(c.line, entry), c.error) << c.line;
        if (c.error == EventLevelLineError::kNone) {
            EXPECT_EQ(entry.eventType, c.type) << c.line;
            EXPECT_EQ(entry.pattern, c.pattern) << c.line;
        }
    }
}

TEST(EventLevelsTest, PatternLimitCountsAfterTrimming) {
    EventLevelEntry entry;
    EXPECT_EQ(ParseEventLevelLine(L"1,  " + std::wstring(1024, L'p') + L"\t ", entry),
              EventLevelLineError::kNone);
    EXPECT_EQ(entry.pattern.size(), 1024u);
    EXPECT_EQ(ParseEventLevelLine(L"1," + std::wstring(1025, L'p'), entry),
              EventLevelLineError::kPatternTooLong);
    EXPECT_EQ(entry.pattern, std::wstring(1025, L'p'));
    // UTF-16 units: 512 characters beyond U+FFFF are 1,024 units, one more is too long.
    std::wstring astral;
    for (int i = 0; i < 512; ++i) {
        astral += L"\U0001F600";  // a string: two UTF-16 units where wchar_t has 16 bits
    }
    EXPECT_EQ(ParseEventLevelLine(L"1," + astral, entry), EventLevelLineError::kNone);
    EXPECT_EQ(ParseEventLevelLine(L"1," + astral + L"x", entry),
              EventLevelLineError::kPatternTooLong);
}

TEST(EventLevelsTest, AgreesWithTheLevelExpressionOnEveryShortLine) {
    // Every line of up to six characters over an alphabet that holds the interesting ones.
    const std::wregex expression(L"^(.+?),(.+)$");
    const wchar_t alphabet[] = {L'1', L',', L' ', L'\r', L'x'};
    std::vector<std::wstring> lines = {L""};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].size() < 6) {
            for (wchar_t c : alphabet) {
                lines.push_back(lines[i] + c);
            }
        }
    }
    for (const std::wstring& line : lines) {
        std::wsmatch match;
        bool matches = std::regex_match(line, match, expression);
        EventLevelEntry entry;
        EventLevelLineError error = ParseEventLevelLine(line, entry);
        ASSERT_EQ(error != EventLevelLineError::kInvalid, matches) << platform::WideToUtf8(line);
        if (matches) {
            EXPECT_EQ(entry.eventType, LevelToEventType(match[1].str()));
            std::wstring pattern = match[2].str();
            pattern.erase(0, pattern.find_first_not_of(L" \t\v\r\n"));
            pattern.erase(pattern.find_last_not_of(L" \t\v\r\n") + 1);
            EXPECT_EQ(entry.pattern, pattern) << platform::WideToUtf8(line);
        }
    }
}

class EventLevelFileTest : public ::testing::Test {
  protected:
    EventLevelFileTest() : m_locale("C.UTF-8") {}

    std::wstring Write(const std::wstring& text) {
        std::filesystem::path file = m_root.path() / "EventLevel.txt";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << platform::WideToLocale(text);
        return platform::WidePath(file);
    }

    test::ScopedLocale m_locale;
    test::TempSysRoot m_root;
};

TEST_F(EventLevelFileTest, LoadsEntriesAndReportsBadLines) {
    const std::wstring longPattern(1025, L'q');
    EventLevelList levels = LoadEventLevels(
        Write(L"3,linkDown\r\nbad line\r\n\r\n1,  " + longPattern + L"  \r\n2,\r\n0,coldStart"));
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_EQ(levels[0].eventType, 1);
    EXPECT_EQ(levels[0].pattern, L"linkDown");
    EXPECT_EQ(levels[1].eventType, 0);
    EXPECT_EQ(levels[1].pattern, L"coldStart");

    auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), 3u);
    for (const auto& event : events) {
        EXPECT_EQ(event.eventIdentifier, 0xC00017DBu);
        EXPECT_EQ(event.eventType, 1);
        ASSERT_EQ(event.strings.size(), 1u);
    }
    EXPECT_EQ(events[0].strings[0],
              kReadError + L"イベントレベル指定の正規表現が不正です。\r\nbad line");
    // The trimmed pattern, not the line.
    EXPECT_EQ(events[1].strings[0],
              test::AsLoggedString(
                  kReadError + L"イベントレベル指定の正規表現が最大長をオーバーしています。\r\n" +
                  longPattern));
    EXPECT_EQ(events[2].strings[0], kReadError + L"イベントレベル指定の正規表現が不正です。\r\n2,");
}

TEST_F(EventLevelFileTest, MissingOrEmptyFileGivesNoLevelsAndNoEvent) {
    EXPECT_TRUE(LoadEventLevels(L"/nonexistent-vorma/EventLevel.txt").empty());
    EXPECT_TRUE(LoadEventLevels(Write(L"\n\r\n\n")).empty());
    EXPECT_TRUE(test::ReadApplicationLog().empty());
}

TEST_F(EventLevelFileTest, VeryLongLineIsReadWithoutHarm) {
    // Such a line would exhaust the stack of a backtracking matcher.
    const std::wstring line = L"1," + std::wstring(200000, L'z');
    EventLevelList levels =
        LoadEventLevels(Write(line + L"\n" + L"2," + std::wstring(300000, L',')));
    EXPECT_TRUE(levels.empty());
    EXPECT_EQ(test::ReadApplicationLog().size(), 2u);  // both patterns are too long
}

}  // namespace
