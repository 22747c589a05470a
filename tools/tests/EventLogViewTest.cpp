#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ComputerName.h"
#include "platform/EventLog.h"
#include "platform/Text.h"
#include "tests/support/TempSysRoot.h"
#include "tools/EventLogTail.h"
#include "tools/EventLogView.h"

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

std::optional<tools::ViewerOptions> Parse(std::vector<std::string_view> args,
                                          std::string* error = nullptr) {
    std::string message;
    std::optional<tools::ViewerOptions> options = tools::ParseViewerOptions(args, message);
    if (error != nullptr) {
        *error = message;
    }
    return options;
}

TEST(EventLogViewTest, ParsesTheCommandLine) {
    std::optional<tools::ViewerOptions> options =
        Parse({"--source", "VORMASNMPManagerService", "--id=2000", "--since",
               "2026-12-08T00:00:00Z", "--follow", "--json", "--file", "/tmp/x.jsonl"});
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->source, "VORMASNMPManagerService");
    EXPECT_EQ(options->eventId, 2000);
    EXPECT_EQ(options->since, 1796688000);
    EXPECT_TRUE(options->follow);
    EXPECT_TRUE(options->json);
    EXPECT_EQ(options->file, "/tmp/x.jsonl");
    EXPECT_FALSE(options->help);

    options = Parse({});
    ASSERT_TRUE(options.has_value());
    EXPECT_FALSE(options->source || options->eventId || options->since || options->file ||
                 options->follow || options->json);
    EXPECT_TRUE(Parse({"--help"})->help);
    EXPECT_TRUE(Parse({"-f"})->follow);

    const std::vector<std::vector<std::string_view>> wrong = {
        {"--id"},        {"--id", "x"},        {"--id", "65536"}, {"--id", "-1"}, {"--id", ""},
        {"--id", "12a"}, {"--since", "today"}, {"--source"},      {"--file"},     {"--file="},
        {"--json=yes"},  {"--verbose"},        {"Application"},   {"-x"},
    };
    for (const auto& args : wrong) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error).has_value()) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(EventLogViewTest, FiltersBySourceIdAndTime) {
    EventRecord record = *ParseEventLine(kLine2000);
    tools::ViewerOptions options;
    EXPECT_TRUE(tools::MatchesOptions(record, options));
    options.source = "vormasnmpmanagerservice";
    EXPECT_TRUE(tools::MatchesOptions(record, options));
    options.eventId = 2000;
    EXPECT_TRUE(tools::MatchesOptions(record, options));
    options.since = record.time;
    EXPECT_TRUE(tools::MatchesOptions(record, options));
    options.since = record.time + 1;
    EXPECT_FALSE(tools::MatchesOptions(record, options));
    options.since.reset();
    options.eventId = 2001;
    EXPECT_FALSE(tools::MatchesOptions(record, options));
    options.eventId.reset();
    options.source = "VORMASNMPManagerServic";
    EXPECT_FALSE(tools::MatchesOptions(record, options));
}

TEST(EventLogViewTest, TailReturnsOnlyCompleteLinesOnce) {
    test::TempSysRoot root;
    std::filesystem::path path = root.path() / "log.jsonl";
    tools::CEventLogTail tail(path);
    std::vector<tools::CEventLogTail::Line> lines;
    EXPECT_FALSE(tail.ReadNewLines(lines));

    std::ofstream out(path, std::ios::binary);
    out << "one\ntw" << std::flush;
    ASSERT_TRUE(tail.ReadNewLines(lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "one");
    EXPECT_EQ(lines[0].number, 1u);

    out << "o\r\nthree\n" << std::flush;
    lines.clear();
    ASSERT_TRUE(tail.ReadNewLines(lines));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "two");
    EXPECT_EQ(lines[1].text, "three");
    EXPECT_EQ(lines[1].number, 3u);
    lines.clear();
    ASSERT_TRUE(tail.ReadNewLines(lines));
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(tail.TakeUnfinishedLine().has_value());

    // A log that was cut is read again from its beginning.
    out.close();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "new\nlast";
    ASSERT_TRUE(tail.ReadNewLines(lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "new");
    EXPECT_EQ(lines[0].number, 1u);
    std::optional<tools::CEventLogTail::Line> last = tail.TakeUnfinishedLine();
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->text, "last");
    EXPECT_EQ(last->number, 2u);
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
