#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/EventLogWriter.h"
#include "reporter/EventLogReporter.h"
#include "tests/support/EventLogFile.h"
#include "tests/support/TempSysRoot.h"
#include "traps/ListEvaluation.h"

namespace {

using Patterns = std::vector<std::wstring>;

const std::wstring kTrap =
    L"Router1 : 192.0.2.1\t  public\t  V2c\n\tsysUpTime.0 = Timeticks: (100) 0:00:01.00\n"
    L"\tsnmpTrapOID.0 = OID: linkDown\n";

TEST(ListEvaluationTest, WhiteAndBlackListsDecide) {
    test::TempSysRoot root;
    struct Case {
        const char* what;
        Patterns white;
        Patterns black;
        bool excluded;
    };
    const Case cases[] = {
        {"empty lists pass everything", {}, {}, false},
        {"a white match passes", {L"nomatch", L"linkDown"}, {}, false},
        {"no white match excludes", {L"linkUp", L"^V2c"}, {}, true},
        {"black excludes what white admitted", {L"V2c"}, {L"Router1"}, true},
        {"black alone excludes", {}, {L"nomatch", L"sysUpTime\\.0"}, true},
        {"black that matches nothing passes", {}, {L"linkUp"}, false},
        {"patterns search, they need not match the whole text", {L"public"}, {}, false},
        {"case-sensitive", {L"LINKDOWN"}, {}, true},
        {"multi-line text: ^ is the start of the text only", {L"^\tsysUpTime"}, {}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsExcluded(kTrap, c.white, c.black), c.excluded) << c.what;
        EXPECT_EQ(CCompiledLists(c.white, c.black, {}).IsExcluded(kTrap), c.excluded) << c.what;
    }
    EXPECT_TRUE(test::ReadEventLog().empty());
}

TEST(ListEvaluationTest, BlackPatternsAreNotTestedForTextsTheWhiteListRefused) {
    test::TempSysRoot root;
    EXPECT_TRUE(IsExcluded(kTrap, {L"linkUp"}, {L"("}));
    EXPECT_TRUE(CCompiledLists({L"linkUp"}, {L"("}, {}).IsExcluded(kTrap));
    EXPECT_TRUE(test::ReadEventLog().empty());  // the broken black pattern was never searched
}

TEST(ListEvaluationTest, AnInvalidPatternIsReportedForEveryTextAndNeverMatches) {
    test::TempSysRoot root;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(IsExcluded(kTrap, {L"(", L"V2c"}, {}));
    }
    // Compiled once, still reported for every text.
    const CCompiledLists compiled({L"(", L"V2c"}, {}, {{1, L"[z-a]"}});
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(compiled.IsExcluded(kTrap));
        EXPECT_EQ(compiled.GetEventType(kTrap), 2);
    }
    auto events = test::ReadEventLog();
    ASSERT_EQ(test::EventIds(events), (std::vector<int>{6107, 6107, 6107, 6107, 6108, 6107, 6108}));
    const std::string text = events[0]["Strings"][0];
    EXPECT_EQ(text.rfind("フィルタリングでエラーが発生しました。\r\n", 0), 0u) << text;
    EXPECT_GT(text.size(), std::string("フィルタリングでエラーが発生しました。\r\n").size());
    EXPECT_EQ(events[0]["EventType"], 1);
    EXPECT_EQ(events[0]["EventIdentifier"], 0xC00017DBu);
}

TEST(ListEvaluationTest, LevelListGivesTheTypeOfTheFirstMatch) {
    test::TempSysRoot root;
    struct Case {
        const char* what;
        EventLevelList levels;
        std::uint16_t type;
    };
    const Case cases[] = {
        {"empty list: warning", {}, 2},
        {"no match: warning", {{1, L"linkUp"}, {4, L"coldStart"}}, 2},
        {"first match decides", {{4, L"linkUp"}, {1, L"linkDown"}, {4, L"V2c"}}, 1},
        {"success type", {{0, L"public"}}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetEventType(kTrap, c.levels), c.type) << c.what;
        EXPECT_EQ(CCompiledLists({}, {}, c.levels).GetEventType(kTrap), c.type) << c.what;
    }
    EXPECT_TRUE(test::ReadEventLog().empty());

    EXPECT_EQ(GetEventType(kTrap, {{1, L"[z-a]"}, {4, L"V2c"}}), 4);
    auto events = test::ReadEventLog();
    ASSERT_EQ(test::EventIds(events), std::vector<int>{6108});
    const std::string text = events[0]["Strings"][0];
    EXPECT_EQ(text.rfind("イベントレベル指定でエラーが発生しました。\r\n", 0), 0u) << text;
}

TEST(ListEvaluationTest, TheTextEndsAtItsFirstNul) {
    test::TempSysRoot root;
    const std::wstring text = std::wstring(L"before", 6) + L'\0' + L"after";
    EXPECT_FALSE(IsExcluded(text, {L"before"}, {}));
    EXPECT_TRUE(IsExcluded(text, {L"after"}, {}));
    EXPECT_EQ(GetEventType(text, {{1, L"after"}}), 2);
    EXPECT_FALSE(CCompiledLists({L"before"}, {}, {}).IsExcluded(text));
    EXPECT_TRUE(CCompiledLists({L"after"}, {}, {}).IsExcluded(text));
    EXPECT_EQ(CCompiledLists({}, {}, {{1, L"after"}}).GetEventType(text), 2);
    EXPECT_EQ(CCompiledLists({}, {}, {{1, L"before"}}).GetEventType(text), 1);
}

}  // namespace

// Given the dispatch's writer, a pattern error goes through it: after the trap events the writer
// collected before it and before those reported after it, told to the writer's observer as an
// event of its own identifier.
TEST(ListEvaluationTest, PatternErrorsGoThroughTheGivenWriterInTheOrderReported) {
    test::TempSysRoot root;
    std::vector<std::pair<std::uint32_t, std::size_t>> told;  // identifier, events written
    {
        platform::EventLogWriter events(kEventSourceName, MSG_TRAP_RECEIVED,
                                        [&](std::uint32_t eventId, std::size_t written,
                                            std::size_t) { told.emplace_back(eventId, written); });
        const CCompiledLists compiled({L"(", L"V2c"}, {}, {{1, L"[z-a]"}});
        for (int i = 0; i < 2; ++i) {
            events.Report(kEventInformation, 0, MSG_TRAP_RECEIVED, {L"trap before"});
            EXPECT_FALSE(compiled.IsExcluded(kTrap, &events));
            EXPECT_EQ(compiled.GetEventType(kTrap, &events), 2);
        }
        events.Report(kEventInformation, 0, MSG_TRAP_RECEIVED, {L"trap after"});
    }
    EXPECT_EQ(test::EventIds(test::ReadEventLog()),
              (std::vector<int>{2000, 6107, 6108, 2000, 6107, 6108, 2000}));
    const std::vector<std::pair<std::uint32_t, std::size_t>> expected{
        {MSG_TRAP_RECEIVED, 1}, {MSG_SETTINGS_ERROR, 1}, {MSG_EVENT_LEVEL_ERROR, 1},
        {MSG_TRAP_RECEIVED, 1}, {MSG_SETTINGS_ERROR, 1}, {MSG_EVENT_LEVEL_ERROR, 1},
        {MSG_TRAP_RECEIVED, 1}};
    EXPECT_EQ(told, expected);
}
