// Text from the network through every view of the viewer: the event views (text, short, json)
// and the counters table, which --follow prints again each second.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/UntrustedText.h"
#include "tools/CountersView.h"
#include "tools/EventLogView.h"

namespace {

using ordered = nlohmann::ordered_json;

// True when no line of `output` holds anything that a terminal acts on or that breaks a line or
// a column: each line is left as it is by the one-line escaping (TABs allowed where `tabs`).
bool Inert(const std::string& output, bool tabs) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (tabs) {
            std::replace(line.begin(), line.end(), '\t', ' ');
        }
        if (platform::EscapeUntrustedText(line, platform::TextEscaping::kOneLine) != line) {
            return false;
        }
    }
    return true;
}

struct Hostile {
    const char* name;
    std::string text;
    std::string shown;  // how the one-line views show it
};

const std::vector<Hostile> kHostile = {
    {"clear, recolour, TAB", "\x1b[2J\x1b[31m EVIL\tX", "\\x1B[2J\\x1B[31m EVIL\\x09X"},
    {"window title and bell", "\x1b]0;owned\x07", "\\x1B]0;owned\\x07"},
    {"carriage return over the line", "public\rroot", "public\\x0Droot"},
    {"C1 CSI",
     "\xc2\x9b"
     "2J",
     "\\u009B2J"},
    {"right-to-left override",
     "\xe2\x80\xae"
     "cilbup",
     "\\u202Ecilbup"},
    {"DEL and backspace", "ab\x08\x7f", "ab\\x08\\x7F"},
    {"not UTF-8",
     "\xff\xfe"
     "x",
     "\\xFF\\xFEx"},
};

// A trap event as the manager writes it, with the hostile text as its community.
tools::EventRecord TrapEvent(const std::string& community) {
    tools::EventRecord record;
    record.timeGenerated = "2026-12-09T01:02:03+09:00";
    record.sourceName = "VORMASNMPManagerService";
    record.eventId = 2000;
    record.eventIdentifier = 2000;
    record.eventType = 2;
    const std::string text = "192.0.2.7\t  " + community + "\t  V2c\n\t  sysUpTime.0 = 1\n";
    record.strings = {text};
    record.message = text + "\r\n";
    return record;
}

TEST(UntrustedTextViewsTest, EveryViewShowsHostileTextEscaped) {
    for (const Hostile& h : kHostile) {
        SCOPED_TRACE(h.name);
        const tools::EventRecord record = TrapEvent(h.text);

        // The description keeps the text's TABs and lines; the community's CR is no line end.
        const std::string text = tools::FormatEventText(record, 0, "host");
        EXPECT_TRUE(Inert(text, true)) << text;
        const std::string lines =
            platform::EscapeUntrustedText(h.text, platform::TextEscaping::kLines);
        EXPECT_NE(text.find("192.0.2.7\t  " + lines + "\t  V2c\n"), std::string::npos) << text;

        const std::string line = tools::FormatEventShort(record);
        EXPECT_TRUE(Inert(line, false)) << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;

        // --json: the log's line, still JSON with the same strings where they are UTF-8.
        ordered event = {{"TimeGenerated", record.timeGenerated},
                         {"SourceName", record.sourceName},
                         {"EventID", 2000},
                         {"EventIdentifier", 2000},
                         {"EventType", 2},
                         {"Category", 0},
                         {"Strings", record.strings},
                         {"Message", record.message}};
        const std::string written = event.dump(-1, ' ', false, ordered::error_handler_t::replace);
        const std::string json = tools::FormatEventJson(written);
        EXPECT_TRUE(Inert(json, false)) << json;
        EXPECT_EQ(nlohmann::json::parse(json), nlohmann::json::parse(written));

        // The counters table: the sender's address and community, each in its column.
        const ordered status = {{"ServiceName", "VORMASNMPManageService"},
                                {"State", "RUNNING"},
                                {"ProcessId", 7},
                                {"Counters",
                                 {{"Since", "2026-12-09T00:00:00Z"},
                                  {"DatagramsRead", 3},
                                  {"RejectedSenders",
                                   {{{"Address", h.text},
                                     {"CommunityOrUser", h.text},
                                     {"Reason", "community"},
                                     {"Count", 2},
                                     {"LastTime", "2026-12-09T01:02:03Z"}},
                                    {{"Address", "192.0.2.1"},
                                     {"CommunityOrUser", "public"},
                                     {"Reason", "line_feed_in_name"},
                                     {"Count", 1},
                                     {"LastTime", "2026-12-09T01:02:04Z"}}}}}}};
        const std::string table = tools::FormatCountersTable(status);
        EXPECT_TRUE(Inert(table, false)) << table;
        const std::string heading = "  Address";
        const std::size_t headingAt = table.find(heading);
        ASSERT_NE(headingAt, std::string::npos) << table;
        std::vector<std::string> rows;
        std::istringstream in(table.substr(headingAt));
        for (std::string row; std::getline(in, row);) {
            rows.push_back(row);
        }
        ASSERT_EQ(rows.size(), 3u) << table;
        EXPECT_EQ(rows[1].rfind("  " + h.shown + "  ", 0), 0u) << rows[1];
        EXPECT_NE(rows[1].find("  " + h.shown + "  "), rows[1].rfind("  " + h.shown + "  "))
            << "the community is not in its column: " << rows[1];
        // Every row's Reason column starts where its heading does.
        const std::size_t reasonAt = rows[0].find("Reason");
        EXPECT_EQ(rows[1].find("community"), reasonAt) << table;
        EXPECT_EQ(rows[2].find("line_feed_in_name"), reasonAt) << table;
    }
}

// A status file that anyone may have written: a counter's name and the header's fields are text
// too, and a list of rejected senders of the wrong form shows as none rather than failing.
TEST(UntrustedTextViewsTest, TheCountersTableEscapesNamesAndToleratesOddForms) {
    const ordered status = {
        {"ServiceName", "\x1b[31mX"},
        {"State", "RUN\nNING"},
        {"ProcessId", "\xc2\x9b"},
        {"Counters",
         {{"Since", "\x07"}, {"Odd\x1b[2J", {{"Inner\t", 1}}}, {"RejectedSenders", "not a list"}}}};
    const std::string table = tools::FormatCountersTable(status);
    EXPECT_TRUE(Inert(table, false)) << table;
    EXPECT_NE(table.find("\\x1B[31mX  RUN\\x0ANING  process \\u009B\n"), std::string::npos)
        << table;
    EXPECT_NE(table.find("counting since \\x07\n"), std::string::npos) << table;
    EXPECT_NE(table.find("  Odd\\x1B[2J: Inner\\x09"), std::string::npos) << table;
    EXPECT_NE(table.find("Rejected senders (the last 0)\n  none\n"), std::string::npos) << table;
}

}  // namespace
