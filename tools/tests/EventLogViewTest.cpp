#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ComputerName.h"
#include "platform/EventLog.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/posix/LogArchives.h"
#include "tests/support/TempSysRoot.h"
#include "tools/EventLogTail.h"
#include "tools/EventLogView.h"
#include "tools/TimeArgument.h"

namespace {

using tools::EventRecord;
using tools::ParseEventLine;

const char kLine2000[] =
    R"({"TimeGenerated":"2026-12-08T11:12:01+09:00","SourceName":"VORMASNMPManagerService",)"
    R"("EventID":2000,"EventIdentifier":2000,"EventType":4,"Category":0,)"
    R"("Strings":["192.0.2.1 : public\tV2c\nline"],"Message":"192.0.2.1 : public\tV2c\nline\r\n"})";
const char kLine6107[] =
    R"({"TimeGenerated":"2026-12-08T11:12:05+09:00","SourceName":"VORMASNMPManagerService",)"
    R"("EventID":6107,"EventIdentifier":3221231579,"EventType":1,"Category":0,)"
    R"("Strings":["設定ファイルの読込みでエラーが発生しました。\r\nx"],)"
    R"("Message":"設定ファイルの読込みでエラーが発生しました。\r\nx\r\n"})";
const char kLineOther[] =
    R"({"TimeGenerated":"2026-12-09T00:00:00+00:00","SourceName":"Other","EventID":1,)"
    R"("EventIdentifier":1,"EventType":2,"Category":0,"Strings":[],"Message":""})";

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Computer() {
    return platform::WideToUtf8(platform::LocalComputerName());
}

TEST(EventLogViewTest, PrintsARecordLikeWevtutil) {
    std::optional<EventRecord> record = ParseEventLine(kLine6107);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(tools::FormatEventText(*record, 3, "server01"),
              "Event[3]:\n"
              "  Log Name: Application\n"
              "  Source: VORMASNMPManagerService\n"
              "  Date: 2026-12-08T11:12:05.000\n"
              "  Event ID: 6107\n"
              "  Task: None\n"
              "  Level: Error\n"
              "  Opcode: Info\n"
              "  Keyword: Classic\n"
              "  User: N/A\n"
              "  User Name: N/A\n"
              "  Computer: server01\n"
              "  Description: \n"
              "設定ファイルの読込みでエラーが発生しました。\n"
              "x\n"
              "\n");
}

TEST(EventLogViewTest, DescriptionKeepsLinesAndDefusesControlCharacters) {
    EventRecord record;
    record.timeGenerated = "2026-12-08T11:12:01+09:00";
    record.sourceName = "S\x1b]0;x\x07";
    const struct {
        std::string message;
        std::string shown;
    } cases[] = {
        {"", ""},
        {"one", "one\n"},
        {"a\r\nb\nc\rd\r\n", "a\nb\nc\nd\n"},
        {"tab\there", "tab\there\n"},
        {"\x1b[2J\x7f", "\\x1B[2J\\x7F\n"},
        {"\xc2\x9b"
         "31m",
         "\\u009B31m\n"},
        {"é\xc2\xa0", "é\xc2\xa0\n"},  // not a control character
    };
    for (const auto& c : cases) {
        record.message = c.message;
        std::string text = tools::FormatEventText(record, 0, "h");
        EXPECT_NE(text.find("  Source: S\\x1B]0;x\\x07\n"), std::string::npos) << text;
        std::string description = "  Description: \n";
        std::string after = text.substr(text.find(description) + description.size());
        EXPECT_EQ(after, c.shown + "\n") << c.message;
    }
}

TEST(EventLogViewTest, ParsesTheWritersLines) {
    std::optional<EventRecord> record = ParseEventLine(kLine2000);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->sourceName, "VORMASNMPManagerService");
    EXPECT_EQ(record->eventId, 2000);
    EXPECT_EQ(record->eventType, 4);
    EXPECT_EQ(record->strings, std::vector<std::string>{"192.0.2.1 : public\tV2c\nline"});
    EXPECT_EQ(record->message, "192.0.2.1 : public\tV2c\nline\r\n");
    EXPECT_EQ(record->time, 1796695921);  // 2026-12-08T02:12:01Z

    record = ParseEventLine(kLine6107);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->eventId, 6107);
    EXPECT_EQ(record->eventIdentifier, 0xC00017DBu);
}

TEST(EventLogViewTest, RejectsLinesThatAreNotEvents) {
    const std::string good = kLine2000;
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string line = good;
        line.replace(line.find(from), from.size(), to);
        return line;
    };
    const std::string bad[] = {
        "",
        "not json",
        "[]",
        "42",
        good.substr(0, good.size() / 2),
        good + "x",
        replace(R"("EventID":2000,)", ""),
        replace(R"("EventID":2000)", R"("EventID":"2000")"),
        replace(R"("EventID":2000)", R"("EventID":-1)"),
        replace(R"("EventID":2000)", R"("EventID":70000)"),
        replace(R"("EventID":2000)", R"("EventID":2001)"),  // not the low half of the identifier
        replace(R"("EventIdentifier":2000)", R"("EventIdentifier":4294969296)"),
        replace(R"("EventType":4)", R"("EventType":4.5)"),
        replace(R"("Category":0)", R"("Category":null)"),
        replace(R"(["192.0.2.1 : public\tV2c\nline"])", R"("not a list")"),
        replace(R"(["192.0.2.1 : public\tV2c\nline"])", R"([1])"),
        replace(R"("Message":")", R"("Mess":")"),
        replace("2026-12-08T11:12:01+09:00", "yesterday"),
        replace("2026-12-08T11:12:01+09:00", "2026-02-30T11:12:01+09:00"),
        replace("2026-12-08T11:12:01+09:00", "2026-12-08"),
        replace("public", "\xff\xfe"),  // not UTF-8
        std::string(100000, '['),
    };
    for (const std::string& line : bad) {
        EXPECT_FALSE(ParseEventLine(line).has_value()) << line.substr(0, 120);
    }
}

TEST(EventLogViewTest, ParsesIsoTimes) {
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    const struct {
        const char* text;
        std::optional<std::int64_t> seconds;
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2026-12-08T11:12:01+09:00", 1796695921},
        {"2026-12-08T02:12:01Z", 1796695921},
        {"2026-12-08T02:12:01+00:00", 1796695921},
        {"2026-12-07T22:42:01-03:30", 1796695921},
        {"2026-12-08T11:12:01+0900", 1796695921},
        {"2026-12-08T11:12:01+09", 1796695921},
        {"2026-12-08T11:12:01.123+09:00", 1796695921},
        {"2026-12-08 11:12:01+09:00", 1796695921},
        {"2026-12-08T11:12+09:00", 1796695920},
        {"2026-12-08T11:12:01", 1796695921},  // local time, here +09:00
        {"2026-12-08", 1796655600},           // local midnight
        {"2024-02-29T00:00:00Z", 1709164800},
        {"2023-02-29T00:00:00Z", std::nullopt},
        {"2026-13-01", std::nullopt},
        {"2026-12-32", std::nullopt},
        {"2026-12-08T24:00:00Z", std::nullopt},
        {"2026-12-08T11:60:00Z", std::nullopt},
        {"2026-12-08T11:12:01+09:", std::nullopt},
        {"2026-12-08T11:12:01+9", std::nullopt},
        {"2026-12-08T11:12:01.+09:00", std::nullopt},
        {"2026-12-08T11:12:01 ", std::nullopt},
        {"2026-12-8", std::nullopt},
        {"26-12-08", std::nullopt},
        {"", std::nullopt},
        {"now", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tools::ParseIsoTime(c.text), c.seconds) << c.text;
    }
    ::unsetenv("TZ");
    ::tzset();
}

// 2026-12-08T12:00:00Z: the "now" of the parses below.
constexpr std::int64_t kNow = 1796731200;

std::optional<tools::ViewerOptions> Parse(std::vector<std::string_view> args,
                                          std::string* error = nullptr) {
    std::string message;
    std::optional<tools::ViewerOptions> options = tools::ParseViewerOptions(args, message, kNow);
    if (error != nullptr) {
        *error = message;
    }
    return options;
}

TEST(EventLogViewTest, ParsesTheCommandLine) {
    std::optional<tools::ViewerOptions> options = Parse({"--source",
                                                         "VORMASNMPManagerService",
                                                         "--id=2000",
                                                         "--since",
                                                         "2026-12-08T00:00:00Z",
                                                         "--follow",
                                                         "--json",
                                                         "--file",
                                                         "/tmp/x.jsonl",
                                                         "-s",
                                                         "Other",
                                                         "--id",
                                                         "6107",
                                                         "-l",
                                                         "error",
                                                         "--level=Warning",
                                                         "-g",
                                                         "linkDown",
                                                         "-n",
                                                         "5",
                                                         "--until",
                                                         "now",
                                                         "-a"});
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->sources, (std::vector<std::string>{"VORMASNMPManagerService", "Other"}));
    EXPECT_EQ(options->eventIds, (std::vector<std::uint16_t>{2000, 6107}));
    EXPECT_EQ(options->eventTypes, (std::vector<std::uint16_t>{1, 2}));
    EXPECT_EQ(options->since, 1796688000);
    EXPECT_EQ(options->until, kNow);
    EXPECT_EQ(options->grep, "linkDown");
    EXPECT_EQ(options->count, 5u);
    EXPECT_TRUE(options->follow);
    EXPECT_TRUE(options->all);
    EXPECT_EQ(options->format, tools::OutputFormat::kJson);
    EXPECT_EQ(options->file, "/tmp/x.jsonl");
    EXPECT_FALSE(options->help);
    EXPECT_FALSE(options->reverse);

    options = Parse({});
    ASSERT_TRUE(options.has_value());
    EXPECT_TRUE(options->sources.empty() && options->eventIds.empty() &&
                options->eventTypes.empty());
    EXPECT_FALSE(options->since || options->until || options->file || options->grep ||
                 options->count || options->follow || options->all || options->reverse);
    EXPECT_EQ(options->format, tools::OutputFormat::kText);

    // Options one at a time: (arguments, what must hold).
    struct Case {
        std::vector<std::string_view> args;
        std::function<bool(const tools::ViewerOptions&)> holds;
    };
    const std::vector<Case> cases{
        {{"--help"}, [](const auto& o) { return o.help; }},
        {{"-h"}, [](const auto& o) { return o.help; }},
        {{"-f"}, [](const auto& o) { return o.follow; }},
        {{"-r"}, [](const auto& o) { return o.reverse; }},
        {{"--reverse", "--count=3"}, [](const auto& o) { return o.reverse && o.count == 3u; }},
        {{"-n0"}, [](const auto& o) { return o.count == 0u; }},
        {{"-o", "short"}, [](const auto& o) { return o.format == tools::OutputFormat::kShort; }},
        {{"--output=text"}, [](const auto& o) { return o.format == tools::OutputFormat::kText; }},
        {{"-o", "json"}, [](const auto& o) { return o.format == tools::OutputFormat::kJson; }},
        {{"--level", "information"}, [](const auto& o) { return o.eventTypes.at(0) == 4; }},
        {{"--since", "-1h"}, [](const auto& o) { return o.since == kNow - 3600; }},
        {{"--since=-1h"}, [](const auto& o) { return o.since == kNow - 3600; }},
        {{"--since", "10 min ago"}, [](const auto& o) { return o.since == kNow - 600; }},
        {{"--until", "+2d"}, [](const auto& o) { return o.until == kNow + 2 * 86400; }},
        {{"--source=a", "--source", "b"},
         [](const auto& o) {
             return o.sources == std::vector<std::string>{"a", "b"};
         }},
    };
    for (const Case& c : cases) {
        std::string error;
        std::optional<tools::ViewerOptions> parsed = Parse(c.args, &error);
        ASSERT_TRUE(parsed.has_value()) << c.args[0] << ": " << error;
        EXPECT_TRUE(c.holds(*parsed)) << c.args[0];
    }

    const std::vector<std::vector<std::string_view>> wrong = {
        {"--id"},
        {"--id", "x"},
        {"--id", "65536"},
        {"--id", "-1"},
        {"--id", ""},
        {"--id", "12a"},
        {"--since", "soon"},
        {"--since", "-1 parsec"},
        {"--until", "x"},
        {"--source"},
        {"--file"},
        {"--file="},
        {"--json=yes"},
        {"--verbose"},
        {"Application"},
        {"-x"},
        {"-n", "-1"},
        {"-n", "x"},
        {"--count"},
        {"--level", "critical"},
        {"-o", "xml"},
        {"-g", ""},
        {"--follow", "--reverse"},
        {"-f", "extra"},
    };
    for (const auto& args : wrong) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error).has_value()) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(EventLogViewTest, ParsesRelativeTimes) {
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    // kNow is 2026-12-08T21:00:00+09:00: local midnight is 2026-12-08T00:00:00+09:00.
    const std::int64_t midnight = 1796655600;
    const struct {
        const char* text;
        std::optional<std::int64_t> seconds;
    } cases[] = {
        {"now", kNow},
        {"today", midnight},
        {"Today", midnight},
        {"yesterday", midnight - 86400},
        {"tomorrow", midnight + 86400},
        {"-1h", kNow - 3600},
        {"-90s", kNow - 90},
        {"-30min", kNow - 1800},
        {"-30m", kNow - 1800},
        {"-2d", kNow - 2 * 86400},
        {"-1w", kNow - 604800},
        {"+10 seconds", kNow + 10},
        {"-3 hours", kNow - 3 * 3600},
        {"10 min ago", kNow - 600},
        {"1 hour ago", kNow - 3600},
        {"2hours ago", kNow - 7200},
        {"5 days ago", kNow - 5 * 86400},
        {"2026-12-08T11:12:01+09:00", 1796695921},
        {"2026-12-08", midnight},
        {"-1", std::nullopt},
        {"-h", std::nullopt},
        {"10 parsecs ago", std::nullopt},
        {"ago", std::nullopt},
        {" ago", std::nullopt},
        {"-1h ago", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tools::ParseTimeArgument(c.text, kNow), c.seconds) << c.text;
    }
    ::unsetenv("TZ");
    ::tzset();
}

TEST(EventLogViewTest, FiltersEvents) {
    const EventRecord r2000 = *ParseEventLine(kLine2000);   // information, 2026-12-08T02:12:01Z
    const EventRecord r6107 = *ParseEventLine(kLine6107);   // error
    const EventRecord other = *ParseEventLine(kLineOther);  // warning, source Other
    struct Case {
        const char* name;
        std::function<void(tools::ViewerOptions&)> set;
        bool r2000, r6107, other;
    };
    const std::vector<Case> cases{
        {"none", [](auto&) {}, true, true, true},
        {"source", [](auto& o) { o.sources = {"vormasnmpmanagerservice"}; }, true, true, false},
        {"two sources",
         [](auto& o) {
             o.sources = {"x", "other"};
         },
         false, false, true},
        {"prefix of a source", [](auto& o) { o.sources = {"VORMASNMPManagerServic"}; }, false,
         false, false},
        {"id", [](auto& o) { o.eventIds = {2000}; }, true, false, false},
        {"two ids",
         [](auto& o) {
             o.eventIds = {6107, 1};
         },
         false, true, true},
        {"level", [](auto& o) { o.eventTypes = {1}; }, false, true, false},
        {"two levels",
         [](auto& o) {
             o.eventTypes = {2, 4};
         },
         true, false, true},
        {"since, inclusive", [&](auto& o) { o.since = r2000.time; }, true, true, true},
        {"since, after", [&](auto& o) { o.since = r2000.time + 1; }, false, true, true},
        {"until, inclusive", [&](auto& o) { o.until = r6107.time; }, true, true, false},
        {"until, before", [&](auto& o) { o.until = r2000.time - 1; }, false, false, false},
        {"grep in message", [](auto& o) { o.grep = "public"; }, true, false, false},
        {"grep Japanese", [](auto& o) { o.grep = "読込み"; }, false, true, false},
        {"grep source", [](auto& o) { o.grep = "Other"; }, false, false, true},
        {"grep counts case", [](auto& o) { o.grep = "PUBLIC"; }, false, false, false},
        {"all together",
         [&](auto& o) {
             o.sources = {"VORMASNMPManagerService"};
             o.eventIds = {6107};
             o.eventTypes = {1};
             o.grep = "x";
         },
         false, true, false},
    };
    for (const Case& c : cases) {
        tools::ViewerOptions options;
        c.set(options);
        EXPECT_EQ(tools::MatchesOptions(r2000, options), c.r2000) << c.name;
        EXPECT_EQ(tools::MatchesOptions(r6107, options), c.r6107) << c.name;
        EXPECT_EQ(tools::MatchesOptions(other, options), c.other) << c.name;
    }
}

TEST(EventLogViewTest, ShortFormatIsOneLine) {
    EXPECT_EQ(tools::FormatEventShort(*ParseEventLine(kLine2000)),
              "2026-12-08T11:12:01+09:00 Information VORMASNMPManagerService 2000: "
              "192.0.2.1 : public V2c line\n");
    EXPECT_EQ(tools::FormatEventShort(*ParseEventLine(kLine6107)),
              "2026-12-08T11:12:05+09:00 Error VORMASNMPManagerService 6107: "
              "設定ファイルの読込みでエラーが発生しました。 x\n");
    EXPECT_EQ(tools::FormatEventShort(*ParseEventLine(kLineOther)),
              "2026-12-09T00:00:00+00:00 Warning Other 1: \n");
}

// The lines a tail hands out, in order.
std::vector<tools::CEventLogTail::Line> ReadTail(tools::CEventLogTail& tail,
                                                 bool* opened = nullptr) {
    std::vector<tools::CEventLogTail::Line> lines;
    bool ok = tail.ReadNewLines([&](tools::CEventLogTail::Line&& line) { lines.push_back(line); });
    if (opened != nullptr) {
        *opened = ok;
    }
    return lines;
}

TEST(EventLogViewTest, TailReturnsOnlyCompleteLinesOnce) {
    test::TempSysRoot root;
    std::filesystem::path path = root.path() / "log.jsonl";
    tools::CEventLogTail tail(path);
    bool opened = true;
    EXPECT_TRUE(ReadTail(tail, &opened).empty());
    EXPECT_FALSE(opened);

    std::ofstream out(path, std::ios::binary);
    out << "one\ntw" << std::flush;
    std::vector<tools::CEventLogTail::Line> lines = ReadTail(tail, &opened);
    ASSERT_TRUE(opened);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "one");
    EXPECT_EQ(lines[0].number, 1u);

    out << "o\r\nthree\n" << std::flush;
    lines = ReadTail(tail);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "two");
    EXPECT_EQ(lines[1].text, "three");
    EXPECT_EQ(lines[1].number, 3u);
    EXPECT_TRUE(ReadTail(tail).empty());
    EXPECT_FALSE(tail.TakeUnfinishedLine().has_value());

    // A log that was cut is read again from its beginning.
    out.close();
    std::filesystem::resize_file(path, 0);
    std::ofstream(path, std::ios::binary | std::ios::app) << "new\nlast";
    lines = ReadTail(tail);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "new");
    EXPECT_EQ(lines[0].number, 1u);
    std::optional<tools::CEventLogTail::Line> last = tail.TakeUnfinishedLine();
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->text, "last");
    EXPECT_EQ(last->number, 2u);
}

TEST(EventLogViewTest, TailFollowsTheFileAcrossAMoveWithoutSkippingOrRepeating) {
    // (what happens between two reads, the lines the second read must give)
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&, const std::filesystem::path&)> between;
        std::vector<std::string> expected;
    };
    auto root_of = [](const std::filesystem::path& p) { return p.parent_path(); };
    auto append = [](const std::filesystem::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary | std::ios::app) << text;
    };
    const std::vector<Case> cases{
        // The new file grows past the old offset before the next read: its first lines must
        // not be lost (nor the old file's last ones).
        {"new file longer than the old",
         [&](const auto& log, const auto& moved) {
             append(log, "a3\n");
             std::filesystem::rename(log, moved);
             append(log, "b1-long-line-past-the-old-offset\nb2\nb3\n");
         },
         {"a3", "b1-long-line-past-the-old-offset", "b2", "b3"}},
        {"new file shorter than the old",
         [&](const auto& log, const auto& moved) {
             std::filesystem::rename(log, moved);
             append(log, "b\n");
         },
         {"b"}},
        {"old file's last line without a line end",
         [&](const auto& log, const auto& moved) {
             append(log, "a3");
             std::filesystem::rename(log, moved);
             append(log, "b1\n");
         },
         {"a3", "b1"}},
        {"moved and not yet followed by a new file",
         [&](const auto& log, const auto& moved) {
             append(log, "a3\n");
             std::filesystem::rename(log, moved);
             append(moved, "a4\n");  // a write that began before the move
         },
         {"a3", "a4"}},
        {"deleted and made again",
         [&](const auto& log, const auto&) {
             std::filesystem::remove(log);
             append(log, "b1\nb2\nb3\nb4\n");
         },
         {"b1", "b2", "b3", "b4"}},
        {"moved twice between two reads",
         [&](const auto& log, const auto& moved) {
             append(log, "a3\n");
             std::filesystem::rename(log, moved);
             append(log, "b1\n");
             std::filesystem::rename(log, root_of(moved) / "Application-2.jsonl");
             append(log, "c1\n");
         },
         // The archives are read in the order of their names.
         {"a3", "b1", "c1"}},
        {"moved elsewhere twice between two reads",
         [&](const auto& log, const auto& moved) {
             append(log, "a3\n");
             std::filesystem::rename(log, moved);
             append(log, "b1\n");
             std::filesystem::rename(log, moved.string() + ".elsewhere");
             append(log, "c1\n");
         },
         // The middle file went where the tail does not look: what was in it is not seen.
         {"a3", "c1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempSysRoot root;
        std::filesystem::path log = root.path() / "Application.jsonl";
        std::filesystem::path moved = root.path() / "Application-1.jsonl";
        append(log, "a1\na2\n");
        tools::CEventLogTail tail(log);
        std::vector<tools::CEventLogTail::Line> lines = ReadTail(tail);
        ASSERT_EQ(lines.size(), 2u);
        c.between(log, moved);
        std::vector<std::string> texts;
        for (auto& line : ReadTail(tail)) {
            texts.push_back(line.text);
        }
        EXPECT_EQ(texts, c.expected);
        // Later lines of the file at the path come once.
        append(log, "z\n");
        texts.clear();
        for (auto& line : ReadTail(tail)) {
            texts.push_back(line.text);
        }
        EXPECT_EQ(texts, std::vector<std::string>{"z"});
    }
}

TEST(EventLogViewTest, ReadsLinesBackward) {
    test::TempSysRoot root;
    std::filesystem::path path = root.path() / "log";
    std::string longLine(200000, 'x');  // longer than a block
    const struct {
        std::string content;
        std::vector<std::string> lines;  // newest first
    } cases[] = {
        {"", {}},
        {"a\n", {"a"}},
        {"a", {"a"}},
        {"a\nb\n", {"b", "a"}},
        {"a\r\nb", {"b", "a"}},
        {"a\n\nb\n", {"b", "", "a"}},
        {longLine + "\nb\n" + longLine + "y\n", {longLine + "y", "b", longLine}},
    };
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.content;
        std::vector<std::string> lines;
        ASSERT_TRUE(tools::ReadLinesBackward(path, [&](std::string_view line) {
            lines.emplace_back(line);
            return true;
        }));
        EXPECT_EQ(lines, c.lines) << c.content.substr(0, 20);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "a\nb\nc\n";
    std::vector<std::string> lines;
    tools::ReadLinesBackward(path, [&](std::string_view line) {
        lines.emplace_back(line);
        return lines.size() < 2;
    });
    EXPECT_EQ(lines, (std::vector<std::string>{"c", "b"}));
    EXPECT_FALSE(
        tools::ReadLinesBackward(root.path() / "missing", [](std::string_view) { return true; }));
}

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

RunResult RunViewer(const test::TempSysRoot& root, const std::string& args) {
    std::filesystem::path out = root.path() / "viewer.out";
    std::filesystem::path err = root.path() / "viewer.err";
    std::string command = std::string(VORMA_EVENTLOG_VIEWER) + " " + args + " >" + out.string() +
                          " 2>" + err.string();
    int status = std::system(command.c_str());
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

TEST(EventLogViewTest, ViewerPrintsTheLogAndSkipsBadLines) {
    test::TempSysRoot root;
    std::filesystem::path log = root.path() / "Application.jsonl";
    std::ofstream(log, std::ios::binary) << kLine2000 << "\n"
                                         << "{\"broken\n"
                                         << kLineOther << "\n"
                                         << kLine6107;  // no line end after the last event

    RunResult all = RunViewer(root, "--file " + log.string());
    EXPECT_EQ(all.exitCode, 0) << all.err;
    std::string expected = tools::FormatEventText(*ParseEventLine(kLine2000), 0, Computer()) +
                           tools::FormatEventText(*ParseEventLine(kLineOther), 1, Computer()) +
                           tools::FormatEventText(*ParseEventLine(kLine6107), 2, Computer());
    EXPECT_EQ(all.out, expected);
    EXPECT_EQ(all.err,
              "vorma-eventlog: " + log.string() + ":2: skipped a line that is not an event\n");
    EXPECT_NE(all.out.find("  Computer: " + Computer() + "\n"), std::string::npos);

    RunResult json =
        RunViewer(root, "--json --source VORMASNMPManagerService --file=" + log.string());
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out, std::string(kLine2000) + "\n" + kLine6107 + "\n");

    RunResult byId = RunViewer(root, "--id 6107 --file " + log.string());
    EXPECT_EQ(byId.out, tools::FormatEventText(*ParseEventLine(kLine6107), 0, Computer()));
    RunResult since = RunViewer(root, "--json --since 2026-12-08T02:12:02Z --file " + log.string());
    EXPECT_EQ(since.out, std::string(kLineOther) + "\n" + kLine6107 + "\n");

    // The default log is the one under the system root, written by the platform's event log.
    {
        platform::EventLogSource source =
            platform::EventLogSource::Register(L"VORMASNMPManagerService");
        ASSERT_TRUE(source.Report(platform::kEventTypeWarning, 0, 2000, {L"警告\nline 2"}));
    }
    RunResult fromRoot = RunViewer(root, "");
    EXPECT_EQ(fromRoot.exitCode, 0) << fromRoot.err;
    EXPECT_NE(fromRoot.out.find("  Level: Warning\n"), std::string::npos) << fromRoot.out;
    EXPECT_NE(fromRoot.out.find("  Description: \n警告\nline 2\n\n"), std::string::npos);

    EXPECT_EQ(RunViewer(root, "--file " + (root.path() / "missing").string()).exitCode, 1);
    RunResult wrong = RunViewer(root, "--id x");
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.err.find("Usage: vorma-eventlog"), std::string::npos);
    RunResult help = RunViewer(root, "--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--follow"), std::string::npos);
}

TEST(EventLogViewTest, FollowPrintsNewEventsUntilTerminated) {
    test::TempSysRoot root;
    std::filesystem::path log = root.path() / "Application.jsonl";
    std::filesystem::path out = root.path() / "follow.out";
    std::ofstream(log, std::ios::binary) << kLine2000 << "\n";

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::FILE* redirected = std::freopen(out.c_str(), "w", stdout);
        if (redirected == nullptr) {
            ::_exit(126);
        }
        ::execl(VORMA_EVENTLOG_VIEWER, VORMA_EVENTLOG_VIEWER, "--json", "--follow", "--file",
                log.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Waits (up to a generous limit, for a loaded machine) until the output holds `text`.
    auto waitFor = [&](const std::string& text) {
        for (int i = 0; i < 600; ++i) {
            if (ReadFile(out).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    EXPECT_TRUE(waitFor(kLine2000));
    std::ofstream(log, std::ios::binary | std::ios::app) << kLine6107 << "\n";
    EXPECT_TRUE(waitFor(kLine6107));
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(out), std::string(kLine2000) + "\n" + kLine6107 + "\n");
}

}  // namespace

namespace {

std::string Numbered(int n) {
    return R"({"TimeGenerated":"2026-12-08T11:12:)" + std::string(n < 10 ? "0" : "") +
           std::to_string(n) +
           R"(+09:00","SourceName":"S","EventID":2000,"EventIdentifier":2000,"EventType":4,)"
           R"("Category":0,"Strings":["event )" +
           std::to_string(n) + R"("],"Message":"event )" + std::to_string(n) + R"(\r\n"})";
}

TEST(EventLogViewTest, ViewerReadsArchivesCountsAndReverses) {
    test::TempSysRoot root;
    std::filesystem::path log = root.path() / "Application.jsonl";
    // Events 0-3 in the older archive, 4-6 in the newer, 7-9 in the log.
    const std::vector<std::pair<std::filesystem::path, std::pair<int, int>>> files{
        {root.path() / "Application-20261208T021201.000001Z.jsonl", {0, 4}},
        {root.path() / "Application-20261208T021205.000001Z.jsonl", {4, 7}},
        {log, {7, 10}},
    };
    for (const auto& [path, range] : files) {
        std::ofstream out(path, std::ios::binary);
        for (int n = range.first; n < range.second; ++n) {
            out << Numbered(n) << "\n";
        }
    }
    // The older archive was last written at the start of the year, the newer one now.
    std::filesystem::last_write_time(
        files[0].first,
        std::chrono::file_clock::from_sys(std::chrono::sys_seconds{
            std::chrono::sys_days{std::chrono::year{2026} / std::chrono::January / 1}}));

    auto events = [](std::initializer_list<int> numbers) {
        std::string out;
        for (int n : numbers) {
            out += Numbered(n) + "\n";
        }
        return out;
    };
    const std::string file = " --file " + log.string();
    const struct {
        std::string args;
        std::string out;
    } cases[] = {
        {"--json", events({7, 8, 9})},
        {"--json --all", events({0, 1, 2, 3, 4, 5, 6, 7, 8, 9})},
        {"--json -a -n 5", events({5, 6, 7, 8, 9})},
        {"--json -n 2", events({8, 9})},
        {"--json -n 0", ""},
        {"--json --reverse", events({9, 8, 7})},
        {"--json --reverse --all -n 4", events({9, 8, 7, 6})},
        {"--json -r -a", events({9, 8, 7, 6, 5, 4, 3, 2, 1, 0})},
        // --since reaches back into the newer archive only.
        {"--json --since 2026-12-08T02:12:00Z", events({4, 5, 6, 7, 8, 9})},
        {"--json --all --since 2026-12-08T02:12:03Z --until 2026-12-08T02:12:06Z",
         events({3, 4, 5, 6})},
        {"--json -a -g 'event 5'", events({5})},
        {"-o short -n 1", "2026-12-08T11:12:09+09:00 Information S 2000: event 9\n"},
    };
    for (const auto& c : cases) {
        RunResult result = RunViewer(root, c.args + file);
        EXPECT_EQ(result.exitCode, 0) << c.args << ": " << result.err;
        EXPECT_EQ(result.out, c.out) << c.args;
    }
}

TEST(EventLogViewTest, FollowSeesEveryEventOnceAcrossMovesOfTheLog) {
    test::TempSysRoot root;
    {  // logs of 64 kB, every archive kept
        platform::RegKey key = 0;
        bool created = false;
        ASSERT_EQ(platform::CreateRegistryKey(
                      platform::kHkeyLocalMachine,
                      L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
                      platform::kKeyAllAccess, &key, &created),
                  0u);
        const std::uint32_t maxSize = 65536;
        const std::uint32_t retention = 0xFFFFFFFFu;
        platform::SetRegistryValue(key, L"MaxSize", platform::kRegDword,
                                   reinterpret_cast<const std::uint8_t*>(&maxSize), 4);
        platform::SetRegistryValue(key, L"Retention", platform::kRegDword,
                                   reinterpret_cast<const std::uint8_t*>(&retention), 4);
        platform::CloseRegistryKey(key);
    }
    platform::EventLogSource source = platform::EventLogSource::Register(L"S");
    ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 2000, {L"before"}));
    std::filesystem::path out = root.path() / "follow.out";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (std::freopen(out.c_str(), "w", stdout) == nullptr) {
            ::_exit(126);
        }
        ::execl(VORMA_EVENTLOG_VIEWER, VORMA_EVENTLOG_VIEWER, "-o", "short", "--follow",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    constexpr int kCount = 3000;  // about 600 kB: some 9 moves, many while the viewer sleeps
    const std::wstring padding(100, L'p');
    for (int n = 0; n < kCount; ++n) {
        ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 2000,
                                  {L"event " + std::to_wstring(n) + L" " + padding}));
        if (n % 500 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    }
    const std::string lastLine = "event " + std::to_string(kCount - 1) + " ";
    for (int i = 0; i < 600 && ReadFile(out).find(lastLine) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_GE(tools::ArchivedLogFiles(platform::ApplicationLogFile()).size(), 5u);

    std::istringstream lines(ReadFile(out));
    std::string line;
    std::vector<std::string> seen;
    while (std::getline(lines, line)) {
        std::size_t at = line.find(": ");
        ASSERT_NE(at, std::string::npos) << line;
        seen.push_back(line.substr(at + 2, line.find(' ', line.find("event ") + 6) - at - 2));
    }
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kCount + 1));
    EXPECT_EQ(seen[0], "before");
    for (int n = 0; n < kCount; ++n) {
        ASSERT_EQ(seen[static_cast<std::size_t>(n) + 1], "event " + std::to_string(n));
    }
}

}  // namespace

namespace {

void Append(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

// A tail that falls behind by more than the archives kept: the file it has open is read to its
// end even once deleted, then the oldest archive moved after it that is still there, then the
// log; the archives deleted in between are told as a gap where it falls, by their numbers.
TEST(EventLogViewTest, TailBehindThePruningGoesOnWithTheOldestArchiveLeftAndTellsTheGap) {
    struct Case {
        const char* name;
        const char* first;   // the log moved aside before the first read to this name (an archive
                             // the tail begins with, as --all does), or nullptr: read at the path
        int moves;           // then between the reads: line fN in the log, moved aside, N times
        std::uint32_t keep;  // and the archives beyond this many deleted
        std::vector<std::string> expected;  // the lines and gaps of the second read
    };
    const char* numbered = "Application-0000000001.jsonl";
    const std::vector<Case> cases{
        {"the log read, moved and deleted, one after it deleted too",
         nullptr,
         4,
         2,
         {"f1", "gap 2-2", "f3", "f4", "live"}},
        {"the log read, moved and deleted, none lost",
         nullptr,
         4,
         3,
         {"f1", "f2", "f3", "f4", "live"}},
        {"every archive deleted", nullptr, 4, 0, {"f1", "gap 2-4", "live"}},
        {"nothing deleted", nullptr, 3, 10, {"f1", "f2", "f3", "live"}},
        // Archive 1 read, f1 to f4 in archives 2 to 5.
        {"an archive read, deleted with two after it",
         numbered,
         4,
         2,
         {"gap 2-3", "f3", "f4", "live"}},
        {"an archive read, deleted with two after it, fewer kept",
         numbered,
         4,
         1,
         {"gap 2-4", "f4", "live"}},
        // f1 to f3 in archives 1 to 3, after the one of the earlier scheme.
        {"a time-named archive read, deleted with those after it",
         "Application-20270101T000000.000000Z.jsonl",
         3,
         1,
         {"gap 1-2+", "f3", "live"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempSysRoot root;
        const std::filesystem::path log = root.path() / "Application.jsonl";
        const platform::posix::LogArchives archives(log);
        Append(log, "a1\na2\n");
        std::optional<platform::posix::ArchiveKey> from;
        if (c.first != nullptr) {
            std::filesystem::rename(log, root.path() / c.first);
            from = archives.KeyOf(c.first);
            ASSERT_TRUE(from.has_value());
        }
        tools::CEventLogTail tail(log, from);
        std::vector<std::string> seen;
        auto line = [&](tools::CEventLogTail::Line&& l) { seen.push_back(l.text); };
        auto gap = [&](const tools::CEventLogTail::Gap& g) {
            seen.push_back("gap " + std::to_string(g.first) + "-" + std::to_string(g.last) +
                           (g.more ? "+" : ""));
        };
        ASSERT_TRUE(tail.ReadNewLines(line, gap));
        EXPECT_EQ(seen, (std::vector<std::string>{"a1", "a2"}));
        for (int n = 1; n <= c.moves; ++n) {
            Append(log, "f" + std::to_string(n) + "\n");
            ASSERT_NE(archives.MoveAside(), 0u);
        }
        Append(log, "live\n");
        archives.Prune(c.keep, 0, 0);
        seen.clear();
        ASSERT_TRUE(tail.ReadNewLines(line, gap));
        EXPECT_EQ(seen, c.expected);
        // Then the log as it grows, once.
        Append(log, "z\n");
        seen.clear();
        ASSERT_TRUE(tail.ReadNewLines(line, gap));
        EXPECT_EQ(seen, std::vector<std::string>{"z"});
    }
}

TEST(EventLogViewTest, SaysWhichArchivesWereDeletedUnread) {
    const std::filesystem::path log = "/x/Application.jsonl";
    const struct {
        tools::CEventLogTail::Gap gap;
        const char* text;
    } cases[] = {
        {{13, 13, false},
         "events lost: 1 archived file, Application-0000000013.jsonl, was deleted "
         "(MaxArchiveFiles) before it could be read"},
        {{13, 17, false},
         "events lost: 5 archived files, Application-0000000013.jsonl to "
         "Application-0000000017.jsonl, were deleted (MaxArchiveFiles) before they could be "
         "read"},
        {{1, 1, true},
         "events lost: at least 1 archived file, Application-0000000001.jsonl, was deleted "
         "(MaxArchiveFiles) before it could be read"},
        {{1, 4, true},
         "events lost: at least 4 archived files, Application-0000000001.jsonl to "
         "Application-0000000004.jsonl, were deleted (MaxArchiveFiles) before they could be "
         "read"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tools::DescribeGap(c.gap, log), c.text);
    }
}

// The files a query reads: the archives in the order of the moves, whatever their names sort
// like; with --since, from the first changed at or after that time on, even where a clock set
// back stamped a later archive earlier.
TEST(EventLogViewTest, QueriesReadTheArchivesInTheOrderOfTheMoves) {
    test::TempSysRoot root;
    const std::filesystem::path log = root.path() / "Application.jsonl";
    constexpr std::int64_t kSince = 1'796'000'000;
    const std::vector<std::pair<const char*, std::int64_t>> files{
        {"Application-20270101T000000.000000Z.jsonl", kSince - 7200},
        {"Application-9.jsonl", kSince - 3600},
        {"Application-10.jsonl", kSince + 400'000'000},  // a clock that ran ahead
        {"Application-0000000011.jsonl", kSince - 60},   // and was set back
        {"Application-foo.jsonl", kSince},               // no archive
    };
    for (const auto& [name, mtime] : files) {
        Append(root.path() / name, kLine2000 + std::string("\n"));
        std::filesystem::last_write_time(
            root.path() / name, std::chrono::file_clock::from_sys(
                                    std::chrono::sys_seconds{std::chrono::seconds{mtime}}));
    }
    auto names = [](const std::vector<std::filesystem::path>& paths) {
        std::vector<std::string> out;
        for (const auto& path : paths) {
            out.push_back(path.filename().string());
        }
        return out;
    };
    tools::ViewerOptions all;
    all.all = true;
    EXPECT_EQ(names(tools::LogFilesToRead(log, all)),
              (std::vector<std::string>{"Application-20270101T000000.000000Z.jsonl",
                                        "Application-9.jsonl", "Application-10.jsonl",
                                        "Application-0000000011.jsonl", "Application.jsonl"}));
    tools::ViewerOptions since;
    since.since = kSince;
    EXPECT_EQ(names(tools::LogFilesToRead(log, since)),
              (std::vector<std::string>{"Application-10.jsonl", "Application-0000000011.jsonl",
                                        "Application.jsonl"}));
    tools::ViewerOptions none;
    EXPECT_EQ(names(tools::LogFilesToRead(log, none)),
              std::vector<std::string>{"Application.jsonl"});
}

// The viewer reads --all in the order of the moves, and -r the other way round.
TEST(EventLogViewTest, ViewerReadsArchivesInTheOrderOfTheMoves) {
    test::TempSysRoot root;
    const std::filesystem::path log = root.path() / "Application.jsonl";
    const std::vector<std::pair<std::string, int>> files{
        {"Application-0000000010.jsonl", 3},
        {"Application-9.jsonl", 2},
        {"Application-20270101T000000.000000Z.jsonl", 1},
        {"Application-20261208T000000.000000Z.jsonl", 0},
        {"Application.jsonl", 4},
    };
    for (const auto& [name, n] : files) {
        Append(root.path() / name, Numbered(n) + "\n");
    }
    RunResult forward = RunViewer(root, "--json --all --file " + log.string());
    EXPECT_EQ(forward.exitCode, 0) << forward.err;
    EXPECT_EQ(forward.out, Numbered(0) + "\n" + Numbered(1) + "\n" + Numbered(2) + "\n" +
                               Numbered(3) + "\n" + Numbered(4) + "\n");
    RunResult reverse = RunViewer(root, "--json -r -a --file " + log.string());
    EXPECT_EQ(reverse.out, Numbered(4) + "\n" + Numbered(3) + "\n" + Numbered(2) + "\n" +
                               Numbered(1) + "\n" + Numbered(0) + "\n");
    // Just after a move there is no log until the next event: the archives are read all the same.
    std::filesystem::remove(log);
    RunResult moved = RunViewer(root, "--json --all --file " + log.string());
    EXPECT_EQ(moved.exitCode, 0) << moved.err;
    EXPECT_EQ(moved.out,
              Numbered(0) + "\n" + Numbered(1) + "\n" + Numbered(2) + "\n" + Numbered(3) + "\n");
}

// --follow blocked behind a full pipe while the writer moves the log aside far more often than
// the archives kept: once it may write again, it prints every event still on disk, once and in
// order, and names the archives deleted before it could read them.
TEST(EventLogViewTest, FollowBehindThePruningPrintsEveryEventStillOnDisk) {
    test::TempSysRoot root;
    {  // logs of 64 kB, three archives kept
        platform::RegKey key = 0;
        bool created = false;
        ASSERT_EQ(platform::CreateRegistryKey(
                      platform::kHkeyLocalMachine,
                      L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
                      platform::kKeyAllAccess, &key, &created),
                  0u);
        const std::uint32_t maxSize = 65536;
        const std::uint32_t archives = 3;
        platform::SetRegistryValue(key, L"MaxSize", platform::kRegDword,
                                   reinterpret_cast<const std::uint8_t*>(&maxSize), 4);
        platform::SetRegistryValue(key, L"MaxArchiveFiles", platform::kRegDword,
                                   reinterpret_cast<const std::uint8_t*>(&archives), 4);
        platform::CloseRegistryKey(key);
    }
    platform::EventLogSource source = platform::EventLogSource::Register(L"S");
    ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 2000, {L"event 0"}));
    const std::filesystem::path err = root.path() / "follow.err";
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        if (std::freopen(err.c_str(), "w", stderr) == nullptr) {
            ::_exit(126);
        }
        ::execl(VORMA_EVENTLOG_VIEWER, VORMA_EVENTLOG_VIEWER, "-o", "short", "--follow",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    // Reads what the pipe holds into `out` until it holds `text` (or a generous limit for a
    // loaded machine).
    std::string out;
    auto drainUntil = [&](const std::string& text) {
        for (int i = 0; i < 1200 && out.find(text) == std::string::npos; ++i) {
            pollfd readable{pipeEnds[0], POLLIN, 0};
            if (::poll(&readable, 1, 50) > 0) {
                char buffer[65536];
                ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
                if (n <= 0) {
                    return;
                }
                out.append(buffer, static_cast<std::size_t>(n));
            }
        }
    };
    drainUntil(": event 0\n");
    ASSERT_NE(out.find(": event 0\n"), std::string::npos) << "the viewer did not start";
    // From here on nothing is read from the pipe until the writer is done: the viewer stops
    // once it is full.
    constexpr int kCount = 6000;  // about 2.4 MB: some 37 moves
    const std::wstring padding(300, L'p');
    for (int n = 1; n < kCount; ++n) {
        ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 2000,
                                  {L"event " + std::to_wstring(n) + L" " + padding}));
    }
    // What is on disk now.
    std::vector<int> onDisk;
    std::vector<std::filesystem::path> files =
        tools::ArchivedLogFiles(platform::ApplicationLogFile());
    ASSERT_EQ(files.size(), 3u);
    const std::uint64_t lastArchive = std::stoull(files.back().stem().string().substr(12));
    files.push_back(platform::ApplicationLogFile());
    for (const auto& file : files) {
        std::istringstream lines(ReadFile(file));
        std::string line;
        while (std::getline(lines, line)) {
            onDisk.push_back(std::stoi(ParseEventLine(line)->strings.at(0).substr(6)));
        }
    }
    drainUntil("event " + std::to_string(kCount - 1) + " ");
    ::kill(pid, SIGTERM);
    ::close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);

    std::istringstream lines(out);
    std::string line;
    std::vector<int> seen;
    while (std::getline(lines, line)) {
        std::size_t at = line.find(": event ");
        ASSERT_NE(at, std::string::npos) << line;
        seen.push_back(std::stoi(line.substr(at + 8)));
    }
    ASSERT_FALSE(seen.empty());
    for (std::size_t i = 1; i < seen.size(); ++i) {
        ASSERT_LT(seen[i - 1], seen[i]) << "repeated or out of order";
    }
    for (int n : onDisk) {
        EXPECT_TRUE(std::binary_search(seen.begin(), seen.end(), n)) << "event " << n;
    }
    ASSERT_LT(seen.size(), static_cast<std::size_t>(kCount)) << "the viewer never fell behind";
    // The archives named as lost: none of those still there, none twice.
    const std::string said = ReadFile(err);
    std::regex lost(
        R"(vorma-eventlog: events lost: (\d+) archived files?, Application-(\d+)\.jsonl)"
        R"((?: to Application-(\d+)\.jsonl)?, (?:were|was) deleted \(MaxArchiveFiles\))");
    std::uint64_t after = 0;
    int gaps = 0;
    for (auto it = std::sregex_iterator(said.begin(), said.end(), lost);
         it != std::sregex_iterator(); ++it) {
        const std::uint64_t first = std::stoull((*it)[2]);
        const std::uint64_t last = (*it)[3].matched ? std::stoull((*it)[3]) : first;
        EXPECT_EQ(std::stoull((*it)[1]), last - first + 1);
        EXPECT_GT(first, after);
        EXPECT_LE(last, lastArchive - 3);
        after = last;
        ++gaps;
    }
    EXPECT_GE(gaps, 1) << said;
}

}  // namespace
