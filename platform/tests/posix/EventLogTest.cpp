#include "platform/EventLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/EventLogWriter.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "tests/support/TempSysRoot.h"

namespace {

using Json = nlohmann::ordered_json;
using platform::EventLogSource;

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// Every line of the log, each of which must be one complete JSON object.
std::vector<Json> ReadEvents() {
    std::vector<Json> events;
    for (const std::string& line : ReadLines(platform::ApplicationLogFile())) {
        Json event = Json::parse(line, nullptr, false);
        EXPECT_FALSE(event.is_discarded()) << "not JSON: " << line.substr(0, 200);
        EXPECT_TRUE(event.is_object());
        events.push_back(std::move(event));
    }
    return events;
}

std::string Utf8(std::wstring_view text) {
    return platform::WideToUtf8(text);
}

// Sets an environment variable (and the C library's view of it) for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_hadOld = old != nullptr;
        if (m_hadOld) {
            m_old = old;
        }
        ::setenv(name, value, 1);
        ::tzset();
    }
    ~ScopedEnv() {
        if (m_hadOld) {
            ::setenv(m_name, m_old.c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
        ::tzset();
    }

  private:
    const char* m_name;
    std::string m_old;
    bool m_hadOld = false;
};

// The messages of the process in another language for the life of the object.
class ScopedMessageLocale {
  public:
    explicit ScopedMessageLocale(const char* name) {
        const char* old = std::setlocale(LC_MESSAGES, nullptr);
        m_old = old != nullptr ? old : "C";
        m_active = std::setlocale(LC_MESSAGES, name) != nullptr;
    }
    ~ScopedMessageLocale() { std::setlocale(LC_MESSAGES, m_old.c_str()); }
    bool active() const { return m_active; }

  private:
    std::string m_old;
    bool m_active = false;
};

TEST(EventLogTest, WritesOneObjectPerEventWithExactlyTheKnownKeys) {
    test::TempSysRoot root;
    ScopedEnv tz("TZ", "JST-9");
    std::uint32_t error = 99;
    EventLogSource source = EventLogSource::Register(L"VORMASNMPManagerService", &error);
    ASSERT_TRUE(source.IsOpen());
    EXPECT_EQ(error, 0u);
    const std::vector<std::wstring> strings{L"設定ファイル\r\n行 \"2\"\ttab", L"", L"\\x"};
    ASSERT_TRUE(source.Report(platform::kEventTypeError, 3, 0xC00017DBu, strings));

    EXPECT_EQ(platform::ApplicationLogFile(), root.path() / "eventlog" / "Application.jsonl");
    std::vector<Json> events = ReadEvents();
    ASSERT_EQ(events.size(), 1u);
    const Json& event = events[0];
    std::vector<std::string> keys;
    for (auto it = event.begin(); it != event.end(); ++it) {
        keys.push_back(it.key());
    }
    EXPECT_EQ(keys,
              (std::vector<std::string>{"TimeGenerated", "SourceName", "EventID", "EventIdentifier",
                                        "EventType", "Category", "Strings", "Message"}));
    std::string time = event["TimeGenerated"].get<std::string>();
    EXPECT_TRUE(std::regex_match(time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+09:00)")))
        << time;
    EXPECT_EQ(event["SourceName"], "VORMASNMPManagerService");
    EXPECT_EQ(event["EventID"], 6107);
    EXPECT_EQ(event["EventIdentifier"], 3221231579u);
    EXPECT_EQ(event["EventType"], 1);
    EXPECT_EQ(event["Category"], 3);
    ASSERT_TRUE(event["Strings"].is_array());
    ASSERT_EQ(event["Strings"].size(), 3u);
    for (std::size_t i = 0; i < strings.size(); ++i) {
        EXPECT_EQ(event["Strings"][i], Utf8(strings[i]));
    }
    // The message of 0xC00017DB is "%1\r\n": the first string and CR LF, the others unused.
    EXPECT_EQ(event["Message"], Utf8(strings[0]) + "\r\n");
}

TEST(EventLogTest, TimeCarriesTheLocalOffset) {
    const struct {
        const char* tz;
        const char* offset;
    } cases[] = {{"UTC0", "+00:00"}, {"JST-9", "+09:00"}, {"<-0330>3:30", "-03:30"}};
    for (const auto& c : cases) {
        test::TempSysRoot root;
        ScopedEnv tz("TZ", c.tz);
        EventLogSource source = EventLogSource::Register(L"S");
        ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 1000, {}));
        std::vector<Json> events = ReadEvents();
        ASSERT_EQ(events.size(), 1u);
        std::string time = events[0]["TimeGenerated"].get<std::string>();
        EXPECT_EQ(time.size(), 25u) << time;
        EXPECT_TRUE(time.ends_with(c.offset)) << c.tz << ": " << time;
    }
}

TEST(EventLogTest, MessageIsTheTableTextWithTheStringsPutIn) {
    const struct {
        std::uint32_t id;
        std::vector<std::wstring> strings;
        std::wstring message;
    } cases[] = {
        {0x3E8, {}, L"VORMA SNMP Manager Service Install is Success\r\n"},
        {0xC00017D4, {L"ignored"}, L"VORMA SNMP Manager Service Init is Failed\r\n"},
        {0xC00017DB, {L"bad line"}, L"bad line\r\n"},
        {0x7D0,
         {L"192.0.2.1 : V2c\nline one\nline two\n"},
         L"192.0.2.1 : V2c\nline one\nline two\n\r\n"},
        {0x7D0, {L"100% %1 %n"}, L"100% %1 %n\r\n"},  // inserted text is not formatted again
        // An insert the event does not carry stays as written, as an event viewer leaves it.
        {0x7D0, {}, L"%1\r\n"},
        // An identifier the table does not hold: the strings, one per line.
        {0x12345, {L"first", L"second\r\nthird"}, L"first\r\nsecond\r\nthird"},
        {0xC00017D7, {L"only"}, L"only"},
        {0xC00007DB, {L"a", L"b"}, L"a\r\nb"},
        {0x12345, {}, L""},
    };
    ScopedMessageLocale english("C");
    for (const auto& c : cases) {
        test::TempSysRoot root;
        EventLogSource source = EventLogSource::Register(L"S");
        ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, c.id, c.strings));
        std::vector<Json> events = ReadEvents();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0]["Message"], Utf8(c.message)) << std::hex << c.id;
        EXPECT_EQ(events[0]["Strings"].size(), c.strings.size());
    }
}

TEST(EventLogTest, MessageIsJapaneseWhenTheLocaleLanguageIsJapanese) {
    ScopedMessageLocale japanese("ja_JP.UTF-8");
    if (!japanese.active()) {
        GTEST_SKIP() << "the locale ja_JP.UTF-8 is not installed (localedef -i ja_JP -f UTF-8 "
                        "ja_JP.UTF-8)";
    }
    test::TempSysRoot root;
    EventLogSource source = EventLogSource::Register(L"VORMASNMPManagerService");
    ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 0x44C, {}));
    ASSERT_TRUE(
        source.Report(platform::kEventTypeError, 0, 0xC00017D9, {L"アクセスが拒否されました。"}));
    std::vector<Json> events = ReadEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["Message"], "VORMA SNMP マネージャーサービス 開始しました\r\n");
    EXPECT_EQ(events[1]["Message"],
              "前回起動時に実施したMIB解析結果の出力ファイルの削除に失敗しました。"
              "アクセスが拒否されました。\r\n");
}

// The insertion string of writer `writer`'s event `n`: long enough that a write in pieces would
// show, with line ends and Japanese text that must come back intact.
std::wstring ConcurrentText(int writer, int n) {
    return L"writer " + std::to_wstring(writer) + L" event " + std::to_wstring(n) +
           L"\r\n受信したSNMPトラップ\r\n" +
           std::wstring(3000, static_cast<wchar_t>(L'a' + writer));
}

// Checks that the log holds exactly events 0..count-1 of every writer, each complete.
void ExpectAllEvents(int writers, int count) {
    std::vector<Json> events = ReadEvents();
    ASSERT_EQ(events.size(), static_cast<std::size_t>(writers * count));
    std::map<std::string, int> seen;
    for (const Json& event : events) {
        ASSERT_EQ(event["Strings"].size(), 1u);
        std::string text = event["Strings"][0].get<std::string>();
        ++seen[text];
        EXPECT_EQ(event["Message"], text + "\r\n");
    }
    for (int w = 0; w < writers; ++w) {
        for (int n = 0; n < count; ++n) {
            EXPECT_EQ(seen[Utf8(ConcurrentText(w, n))], 1) << "writer " << w << " event " << n;
        }
    }
}

TEST(EventLogTest, WritersInTwoThreadsNeverInterleave) {
    test::TempSysRoot root;
    constexpr int kCount = 200;
    auto write = [](int writer) {
        for (int n = 0; n < kCount; ++n) {
            EventLogSource source = EventLogSource::Register(L"VORMASNMPManagerService");
            EXPECT_TRUE(source.Report(platform::kEventTypeError, 0, 0xC00017DB,
                                      {ConcurrentText(writer, n)}));
        }
    };
    std::thread first(write, 0);
    std::thread second(write, 1);
    first.join();
    second.join();
    ExpectAllEvents(2, kCount);
}

TEST(EventLogTest, WritersInTwoProcessesNeverInterleave) {
    test::TempSysRoot root;
    constexpr int kCount = 200;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int n = 0; n < kCount; ++n) {
                EventLogSource source = EventLogSource::Register(L"VORMASNMPManagerService");
                failures += source.Report(platform::kEventTypeError, 0, 0xC00017DB,
                                          {ConcurrentText(writer, n)})
                                ? 0
                                : 1;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ExpectAllEvents(2, kCount);
}

TEST(EventLogTest, LineIsExactlyWhatAJsonWriterMakesOfTheEvent) {
    test::TempSysRoot root;
    std::wstring controls;
    for (wchar_t c = 1; c < 0x20; ++c) {
        controls.push_back(c);
    }
    const std::vector<std::wstring> cases{
        L"",
        L"plain",
        controls,
        L"quote \" backslash \\ slash / del \x7F",
        L"設定ファイル\r\n行",
        L"emoji \U0001F600 end",
        L"\\u0041 not an escape",
        std::wstring(1, static_cast<wchar_t>(0xD800)) + L" lone surrogate"};
    EventLogSource source = EventLogSource::Register(L"Source \"quoted\"\t");
    for (const std::wstring& text : cases) {
        ASSERT_TRUE(source.Report(platform::kEventTypeWarning, 0, 0xC00017DBu, {text, L"x"}));
    }
    std::vector<std::string> lines = ReadLines(platform::ApplicationLogFile());
    ASSERT_EQ(lines.size(), cases.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Json event = Json::parse(lines[i], nullptr, false);
        ASSERT_FALSE(event.is_discarded()) << lines[i];
        EXPECT_EQ(event.dump(-1, ' ', false, Json::error_handler_t::replace), lines[i]);
        EXPECT_EQ(event["Strings"][0], Utf8(cases[i]));
        EXPECT_EQ(event["SourceName"], "Source \"quoted\"\t");
    }
}

TEST(EventLogTest, FileMovedOrDeletedByAnotherProgramIsFollowedByAFreshOne) {
    test::TempSysRoot root;
    const std::filesystem::path log = platform::ApplicationLogFile();
    EventLogSource source = EventLogSource::Register(L"S");
    ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 0xC00017DBu, {L"first"}));
    std::filesystem::rename(log, root.path() / "moved.jsonl");
    ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 0xC00017DBu, {L"second"}));
    std::filesystem::remove(log);
    ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 0xC00017DBu, {L"third"}));
    std::filesystem::remove_all(log.parent_path());
    ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 0xC00017DBu, {L"fourth"}));

    std::vector<std::string> moved = ReadLines(root.path() / "moved.jsonl");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_NE(moved[0].find("first"), std::string::npos);
    std::vector<Json> events = ReadEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["Strings"][0], "fourth");
}

// Sets DWORD values of the Application log's registry key.
void SetLogValues(const std::vector<std::pair<const wchar_t*, std::uint32_t>>& values) {
    platform::RegKey key = 0;
    bool created = false;
    ASSERT_EQ(
        platform::CreateRegistryKey(platform::kHkeyLocalMachine,
                                    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
                                    platform::kKeyAllAccess, &key, &created),
        0u);
    for (const auto& [name, value] : values) {
        EXPECT_EQ(
            platform::SetRegistryValue(key, name, platform::kRegDword,
                                       reinterpret_cast<const std::uint8_t*>(&value), sizeof value),
            0u);
    }
    platform::CloseRegistryKey(key);
}

// The archived files of the log, oldest first: numbered in the order of the moves, ten digits.
std::vector<std::filesystem::path> ArchivedFiles() {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(platform::ApplicationLogFile().parent_path())) {
        std::string name = entry.path().filename().string();
        if (std::regex_match(name, std::regex(R"(Application-\d{10}\.jsonl)"))) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(EventLogTest, FullLogIsMovedAsideWithoutLosingOrSplittingAnEventOfTwoProcesses) {
    test::TempSysRoot root;
    constexpr std::uint32_t kMaxSize = 64 * 1024;
    SetLogValues({{L"MaxSize", kMaxSize}, {L"MaxArchiveFiles", 1000}});
    constexpr int kCount = 150;  // of about 6 kB each: some 28 moves
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int n = 0; n < kCount; ++n) {
                EventLogSource source = EventLogSource::Register(L"VORMASNMPManagerService");
                failures += source.Report(platform::kEventTypeError, 0, 0xC00017DB,
                                          {ConcurrentText(writer, n)})
                                ? 0
                                : 1;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::vector<std::filesystem::path> files = ArchivedFiles();
    EXPECT_GE(files.size(), 20u);
    files.push_back(platform::ApplicationLogFile());
    // Each writer's events, read through the files in order, come in the order written.
    std::map<std::string, int> next;
    int total = 0;
    for (const std::filesystem::path& file : files) {
        EXPECT_LE(std::filesystem::file_size(file), kMaxSize) << file;
        for (const std::string& line : ReadLines(file)) {
            Json event = Json::parse(line, nullptr, false);
            ASSERT_FALSE(event.is_discarded()) << file << ": " << line.substr(0, 100);
            std::string text = event["Strings"][0].get<std::string>();
            std::string writer = text.substr(0, text.find(" event "));
            int n = std::stoi(text.substr(text.find(" event ") + 7));
            EXPECT_EQ(n, next[writer]) << writer << " in " << file;
            EXPECT_EQ(text, Utf8(ConcurrentText(writer == "writer 0" ? 0 : 1, n)));
            next[writer] = n + 1;
            ++total;
        }
    }
    EXPECT_EQ(total, 2 * kCount);
    EXPECT_EQ(next["writer 0"], kCount);
    EXPECT_EQ(next["writer 1"], kCount);
}

TEST(EventLogTest, ArchivesBeyondTheCountAreDeletedOldestFirstUnlessTheRetentionKeepsThem) {
    struct Case {
        const char* name;
        std::vector<std::pair<const wchar_t*, std::uint32_t>> values;
        std::size_t archivesLeft;
    };
    // 60 events of about 6 kB in logs of 64 kB: 5 or 6 moves.
    const std::vector<Case> cases{
        {"default count", {{L"MaxSize", 65536}}, 5},  // fewer moves than the 10 kept
        {"three kept", {{L"MaxSize", 65536}, {L"MaxArchiveFiles", 3}}, 3},
        {"none kept", {{L"MaxSize", 65536}, {L"MaxArchiveFiles", 0}}, 0},
        {"kept for an hour",
         {{L"MaxSize", 65536}, {L"MaxArchiveFiles", 1}, {L"Retention", 3600}},
         5},
        {"never deleted",
         {{L"MaxSize", 65536}, {L"MaxArchiveFiles", 1}, {L"Retention", 0xFFFFFFFFu}},
         5},
        {"below the smallest size", {{L"MaxSize", 1000}, {L"MaxArchiveFiles", 2}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempSysRoot root;
        SetLogValues(c.values);
        constexpr int kCount = 60;
        for (int n = 0; n < kCount; ++n) {
            EventLogSource source = EventLogSource::Register(L"S");
            ASSERT_TRUE(
                source.Report(platform::kEventTypeError, 0, 0xC00017DB, {ConcurrentText(0, n)}));
        }
        std::vector<std::filesystem::path> files = ArchivedFiles();
        EXPECT_EQ(files.size(), c.archivesLeft);
        // What is left is the newest events, without a gap, ending with the last one.
        files.push_back(platform::ApplicationLogFile());
        std::vector<std::string> texts;
        for (const std::filesystem::path& file : files) {
            for (const std::string& line : ReadLines(file)) {
                texts.push_back(Json::parse(line)["Strings"][0].get<std::string>());
            }
        }
        ASSERT_FALSE(texts.empty());
        int first = kCount - static_cast<int>(texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i], Utf8(ConcurrentText(0, first + static_cast<int>(i))));
        }
        if (c.archivesLeft == 5) {
            EXPECT_EQ(first, 0);
        }
    }
}

TEST(EventLogTest, ReportFailsWhenTheLogCannotBeWritten) {
    test::TempSysRoot root;
    EventLogSource source = EventLogSource::Register(L"S");
    ASSERT_TRUE(source.IsOpen());

    // The log's name is taken by a folder.
    std::filesystem::create_directories(platform::ApplicationLogFile());
    EXPECT_FALSE(source.Report(platform::kEventTypeError, 0, 1000, {L"x"}));
    std::filesystem::remove(platform::ApplicationLogFile());

    // The folder cannot be written: checked in a child that gives up root's rights first.
    ::chmod((root.path() / "eventlog").c_str(), 0555);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        ::_exit(source.Report(platform::kEventTypeError, 0, 1000, {L"x"}) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write succeeded; 3: could not drop rights";
    EXPECT_FALSE(std::filesystem::exists(platform::ApplicationLogFile()));
    ::chmod((root.path() / "eventlog").c_str(), 0755);
}

TEST(EventLogTest, RegisterFailsOnlyWhenTheLogFolderCannotBeMade) {
    test::TempSysRoot root;
    std::filesystem::path notAFolder = root.path() / "file";
    std::ofstream(notAFolder) << "x";
    ScopedEnv sysroot("VORMA_SYSROOT", notAFolder.c_str());
    std::uint32_t error = 0;
    EventLogSource source = EventLogSource::Register(L"S", &error);
    EXPECT_FALSE(source.IsOpen());
    EXPECT_NE(error, 0u);
    EXPECT_FALSE(source.Report(platform::kEventTypeError, 0, 1000, {}));
}

TEST(EventLogTest, SourceIsMoveOnlyAndDeregistersOnce) {
    test::TempSysRoot root;
    EventLogSource first = EventLogSource::Register(L"S");
    ASSERT_TRUE(first.IsOpen());
    EventLogSource second = std::move(first);
    EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from is closed
    EXPECT_FALSE(first.Report(platform::kEventTypeInformation, 0, 1000, {}));
    EXPECT_TRUE(second.Report(platform::kEventTypeInformation, 0, 1000, {}));
    EventLogSource third = EventLogSource::Register(L"T");
    third = std::move(second);
    EXPECT_TRUE(third.Report(platform::kEventTypeInformation, 0, 1000, {}));
    third.Deregister();
    EXPECT_FALSE(third.IsOpen());
    EXPECT_FALSE(third.Report(platform::kEventTypeInformation, 0, 1000, {}));
    third.Deregister();
    EXPECT_EQ(ReadEvents().size(), 2u);
}

}  // namespace

namespace {

// The texts of writer `writer`'s events in the log, in file order.
std::vector<std::string> TextsOfWriter(const std::vector<Json>& events, int writer) {
    const std::string prefix = "writer " + std::to_string(writer) + " ";
    std::vector<std::string> texts;
    for (const Json& event : events) {
        const std::string text = event["Strings"][0].get<std::string>();
        if (text.compare(0, prefix.size(), prefix) == 0) {
            texts.push_back(text);
        }
    }
    return texts;
}

// The archived files and then the log, as the lines each holds.
std::vector<std::pair<std::filesystem::path, std::vector<std::string>>> FilesInMoveOrder() {
    std::vector<std::pair<std::filesystem::path, std::vector<std::string>>> files;
    std::vector<std::filesystem::path> paths = ArchivedFiles();
    paths.push_back(platform::ApplicationLogFile());
    for (const std::filesystem::path& path : paths) {
        files.emplace_back(path, ReadLines(path));
    }
    return files;
}

// A clock that ran ahead and was then set back (an NTP correction) cannot make the log delete
// what it has just written. The archives that the earlier scheme named by a time a year ahead
// are older than every numbered one and go first; the newest by move order stay.
TEST(EventLogTest, ArchivesNamedByAClockThatRanAheadAreDeletedFirst) {
    test::TempSysRoot root;
    SetLogValues({{L"MaxSize", 65536}});  // and the default 10 archives
    const std::filesystem::path folder = platform::ApplicationLogFile().parent_path();
    std::filesystem::create_directories(folder);
    const auto ahead = std::chrono::file_clock::now() + std::chrono::hours(24 * 365);
    for (int i = 0; i < 10; ++i) {
        const std::filesystem::path old =
            folder / ("Application-20270101T0000" + std::to_string(10 + i) + ".000000Z.jsonl");
        std::ofstream(old, std::ios::binary) << "{\"ahead\":" << i << "}\n";
        std::filesystem::last_write_time(old, ahead);
    }
    constexpr int kCount = 2400;  // of about 800 bytes: some 30 moves
    const std::wstring padding(300, L'p');
    for (int n = 0; n < kCount; ++n) {
        EventLogSource source = EventLogSource::Register(L"S");
        ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 0xC00017DB,
                                  {L"event " + std::to_wstring(n) + L" " + padding}));
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().filename().string().find("Application-2027"), std::string::npos)
            << entry.path();
    }
    const auto files = FilesInMoveOrder();
    ASSERT_EQ(files.size(), 11u);
    // Ten archives of consecutive numbers, each full, then the log: the newest events, without
    // a gap, ending with the last.
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0 && i + 1 < files.size()) {
            EXPECT_EQ(std::stoul(files[i].first.stem().string().substr(12)),
                      std::stoul(files[i - 1].first.stem().string().substr(12)) + 1);
        }
        if (i + 1 < files.size()) {
            EXPECT_GT(std::filesystem::file_size(files[i].first), 60000u) << files[i].first;
        }
        for (const std::string& line : files[i].second) {
            texts.push_back(Json::parse(line)["Strings"][0].get<std::string>());
        }
    }
    const int first = kCount - static_cast<int>(texts.size());
    EXPECT_GT(texts.size(), 10u * 60000 / 1000);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(texts[i], "event " + std::to_string(first + static_cast<int>(i)) + " " +
                                std::string(300, 'p'));
    }
}

std::wstring SizedText(int writer, int n, std::size_t padding) {
    return L"writer " + std::to_wstring(writer) + L" event " + std::to_wstring(n) + L" " +
           std::wstring(padding, L'p');
}

// What does not fit into the file is written to the next one, split between events: every file
// stays within MaxSize but for an event larger than MaxSize, which goes whole into a file of its
// own; every file but the last was full (the next event would not have fitted); no event is
// split, lost or out of order, in a batch or reported one at a time.
TEST(EventLogTest, WritesAreSplitAtTheSizeLimitAndAnOversizedEventHasAFileOfItsOwn) {
    constexpr std::uint64_t kMaxSize = 64 * 1024;
    auto many = [](std::size_t count, std::size_t padding) {
        return std::vector<std::size_t>(count, padding);
    };
    auto join = [](std::initializer_list<std::vector<std::size_t>> parts) {
        std::vector<std::size_t> all;
        for (const auto& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    };
    struct Case {
        const char* name;
        bool batched;
        std::vector<std::size_t> paddings;  // characters of each event; 40,000 and more: larger
                                            // than MaxSize as a line
    };
    const std::vector<Case> cases{
        // 51 events of 1,300 characters make a batch of some 145 kB.
        {"batches of 51 events", true, many(510, 1300)},
        {"an event of 31,000 characters among them", true,
         join({many(100, 1300), {31000}, many(100, 1300)})},
        {"events larger than MaxSize first, in a row and last", true,
         join({{40000}, many(60, 1300), {40000, 70000}, many(60, 1300), {40000}})},
        {"one at a time", false, join({many(30, 1300), {40000}, many(30, 1300)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempSysRoot root;
        SetLogValues({{L"MaxSize", kMaxSize}, {L"MaxArchiveFiles", 1000}});
        std::atomic<std::size_t> told{0};
        std::atomic<std::size_t> toldLost{0};
        {
            std::optional<platform::EventLogWriter> writer;
            if (c.batched) {
                writer.emplace(L"VORMASNMPManagerService", 0x7D0,
                               [&](std::uint32_t, std::size_t written, std::size_t lost) {
                                   told += written;
                                   toldLost += lost;
                               });
            }
            for (std::size_t n = 0; n < c.paddings.size(); ++n) {
                const std::wstring text = SizedText(0, static_cast<int>(n), c.paddings[n]);
                if (c.batched) {
                    writer->Report(platform::kEventTypeInformation, 0, 0x7D0, {text});
                    continue;
                }
                EventLogSource source = EventLogSource::Register(L"VORMASNMPManagerService");
                ASSERT_TRUE(source.Report(platform::kEventTypeInformation, 0, 0x7D0, {text}));
            }
        }
        if (c.batched) {
            EXPECT_EQ(told, c.paddings.size());
            EXPECT_EQ(toldLost, 0u);
        }
        const auto files = FilesInMoveOrder();
        std::size_t next = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const auto& [path, lines] = files[i];
            const std::uint64_t size = std::filesystem::file_size(path);
            ASSERT_FALSE(lines.empty()) << path;
            if (size > kMaxSize) {
                EXPECT_EQ(lines.size(), 1u) << path << ": larger than MaxSize with others";
                EXPECT_GE(c.paddings[next], 40000u) << path;
            }
            if (i + 1 < files.size()) {
                EXPECT_GT(size + files[i + 1].second.front().size() + 1, kMaxSize)
                    << path << " was moved aside before it was full";
            }
            for (const std::string& line : lines) {
                Json event = Json::parse(line, nullptr, false);
                ASSERT_FALSE(event.is_discarded()) << path << ": " << line.substr(0, 100);
                ASSERT_LT(next, c.paddings.size());
                EXPECT_EQ(event["Strings"][0],
                          Utf8(SizedText(0, static_cast<int>(next), c.paddings[next])))
                    << path;
                ++next;
            }
        }
        EXPECT_EQ(next, c.paddings.size());
        EXPECT_GT(files.size(), 2u) << "the log was never moved aside";
    }
}

// Batches of two processes at once, split at the limit: every file within MaxSize, each
// process's events complete and in order.
TEST(EventLogTest, BatchesOfTwoProcessesStayWithinTheSizeLimit) {
    test::TempSysRoot root;
    constexpr std::uint64_t kMaxSize = 64 * 1024;
    SetLogValues({{L"MaxSize", kMaxSize}, {L"MaxArchiveFiles", 1000}});
    constexpr int kCount = 400;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::size_t lost = 0;
            {
                platform::EventLogWriter events(
                    L"VORMASNMPManagerService", 0x7D0,
                    [&](std::uint32_t, std::size_t, std::size_t n) { lost += n; });
                for (int n = 0; n < kCount; ++n) {
                    events.Report(platform::kEventTypeInformation, 0, 0x7D0,
                                  {SizedText(writer, n, 1300)});
                }
            }
            ::_exit(lost == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<Json> events;
    const auto files = FilesInMoveOrder();
    EXPECT_GE(files.size(), 30u);
    for (const auto& [path, lines] : files) {
        EXPECT_LE(std::filesystem::file_size(path), kMaxSize) << path;
        for (const std::string& line : lines) {
            events.push_back(Json::parse(line));
        }
    }
    for (int writer = 0; writer < 2; ++writer) {
        const std::vector<std::string> texts = TextsOfWriter(events, writer);
        ASSERT_EQ(texts.size(), static_cast<std::size_t>(kCount)) << "writer " << writer;
        for (int n = 0; n < kCount; ++n) {
            EXPECT_EQ(texts[n], Utf8(SizedText(writer, n, 1300))) << "writer " << writer;
        }
    }
}

}  // namespace

// A batch collects the events of its thread and writes them in the order reported: by the time
// it is flushed or ends, every event is in the file, whole, whatever the count and size (below,
// at and past a full batch, and events larger than a batch's bytes).
TEST(EventLogTest, BatchWritesEveryEventInOrderByItsEnd) {
    struct Case {
        int events;
        std::size_t padding;  // characters added to each event
    };
    const Case cases[] = {{1, 0}, {63, 0}, {64, 0}, {65, 0}, {200, 0}, {3, 70000}, {130, 900}};
    for (const Case& c : cases) {
        test::TempSysRoot root;
        auto text = [&](int n) {
            return L"writer 0 event " + std::to_wstring(n) + L" " + std::wstring(c.padding, L'p');
        };
        std::atomic<std::size_t> told{0};
        std::atomic<std::size_t> toldLost{0};
        {
            platform::EventLogWriter batch(
                L"VORMASNMPManagerService", 0x7D0,
                [&](std::uint32_t eventId, std::size_t written, std::size_t lost) {
                    EXPECT_EQ(eventId, 0x7D0u);
                    told += written;
                    toldLost += lost;
                });
            for (int n = 0; n < c.events; ++n) {
                batch.Report(platform::kEventTypeInformation, 0, 0x7D0, {text(n)});
            }
            EXPECT_LE(ReadEvents().size(), static_cast<std::size_t>(c.events));
            if (c.events < static_cast<int>(platform::EventLogWriter::kMaxEvents) &&
                c.padding == 0) {
                EXPECT_TRUE(ReadEvents().empty()) << "written before the batch was full";
                EXPECT_EQ(told, 0u);
            }
            if (c.events > 100) {
                EXPECT_EQ(batch.Flush(), 0u);
                EXPECT_EQ(ReadEvents().size(), static_cast<std::size_t>(c.events))
                    << c.events << " events: not all written by the flush";
            }
        }
        EXPECT_EQ(told, static_cast<std::size_t>(c.events)) << "written as the observer was told";
        EXPECT_EQ(toldLost, 0u);
        const std::vector<Json> events = ReadEvents();
        ASSERT_EQ(events.size(), static_cast<std::size_t>(c.events)) << c.events << " events";
        for (int n = 0; n < c.events; ++n) {
            EXPECT_EQ(events[n]["Strings"][0], Utf8(text(n))) << "event " << n;
            EXPECT_EQ(events[n]["Message"], Utf8(text(n)) + "\r\n");
            EXPECT_EQ(events[n]["EventID"], 2000);
            EXPECT_EQ(events[n]["EventType"], platform::kEventTypeInformation);
        }
    }
}

// A batched event is the same line as the event written at once (but for its time), and the
// events of a batch keep their order against a thread that writes without one; every line whole.
TEST(EventLogTest, BatchedEventsAreTheSameLinesAndNeverInterleaveWithOtherWriters) {
    test::TempSysRoot root;
    constexpr int kCount = 300;
    std::thread plain([] {
        for (int n = 0; n < kCount; ++n) {
            EventLogSource source = EventLogSource::Register(L"VORMASNMPManagerService");
            EXPECT_TRUE(
                source.Report(platform::kEventTypeError, 0, 0xC00017DB, {ConcurrentText(1, n)}));
        }
    });
    std::atomic<std::size_t> told{0};
    {
        platform::EventLogWriter batch(
            L"VORMASNMPManagerService", 0xC00017DB,
            [&](std::uint32_t, std::size_t written, std::size_t) { told += written; });
        for (int n = 0; n < kCount; ++n) {
            batch.Report(platform::kEventTypeError, 0, 0xC00017DB, {ConcurrentText(0, n)});
        }
    }
    plain.join();
    EXPECT_EQ(told, static_cast<std::size_t>(kCount));
    ExpectAllEvents(2, kCount);
    const std::vector<Json> events = ReadEvents();
    for (int writer = 0; writer < 2; ++writer) {
        const std::vector<std::string> texts = TextsOfWriter(events, writer);
        ASSERT_EQ(texts.size(), static_cast<std::size_t>(kCount));
        for (int n = 0; n < kCount; ++n) {
            EXPECT_EQ(texts[n], Utf8(ConcurrentText(writer, n))) << "writer " << writer;
        }
    }
    // Same keys and values, but for the time, in both ways of writing.
    Json batched = events.front();
    Json plainEvent = events.back();
    for (Json* event : {&batched, &plainEvent}) {
        event->erase("TimeGenerated");
        (*event)["Strings"] = "";
        (*event)["Message"] = "";
    }
    EXPECT_EQ(batched.dump(), plainEvent.dump());
}

// Events that a writer cannot write are counted and told as lost, none as written; two writers
// on one thread each keep their own events.
TEST(EventLogTest, BatchCountsTheEventsItCouldNotWriteAndWritersKeepTheirOwnEvents) {
    test::TempSysRoot root;
    std::filesystem::create_directories(platform::ApplicationLogFile());  // name taken
    {
        std::atomic<std::size_t> told{0};
        std::atomic<std::size_t> toldLost{0};
        platform::EventLogWriter batch(L"S", 1000,
                                       [&](std::uint32_t, std::size_t written, std::size_t lost) {
                                           told += written;
                                           toldLost += lost;
                                       });
        for (int n = 0; n < 150; ++n) {
            batch.Report(platform::kEventTypeError, 0, 1000, {L"x"});
        }
        const std::size_t lostByFlush = batch.Flush();
        EXPECT_EQ(batch.LostEvents(), 150u);
        EXPECT_LE(lostByFlush, 150u);
        EXPECT_GT(lostByFlush, 0u);
        EXPECT_EQ(told, 0u);
        EXPECT_EQ(toldLost, 150u);
    }
    std::filesystem::remove(platform::ApplicationLogFile());

    platform::EventLogWriter outer(L"S", 1000);
    {
        platform::EventLogWriter inner(L"S", 1000);
        outer.Report(platform::kEventTypeError, 0, 1000, {L"nested"});
        EXPECT_EQ(inner.Flush(), 0u);
    }
    EXPECT_TRUE(ReadEvents().empty()) << "the inner writer wrote the outer one's event";
    EXPECT_EQ(outer.Flush(), 0u);
    ASSERT_EQ(ReadEvents().size(), 1u);
    EXPECT_EQ(ReadEvents()[0]["Strings"][0], "nested");
}

// A child process forked after the batch writer has run has a writer of its own: its batches
// are written, not left waiting for the parent's thread.
TEST(EventLogTest, BatchWritesInAChildForkedAfterTheWriterRan) {
    test::TempSysRoot root;
    {
        platform::EventLogWriter batch(L"S", 0xC00017DB);
        for (int n = 0; n < 200; ++n) {
            batch.Report(platform::kEventTypeError, 0, 0xC00017DB, {ConcurrentText(0, n)});
        }
    }
#ifdef VORMA_TSAN
    // ThreadSanitizer starts no thread in a child of a process that has threads besides the
    // forking one (here the batch writer), so the child's part cannot run under it.
    ExpectAllEvents(1, 200);
    GTEST_SKIP() << "ThreadSanitizer starts no thread after a fork of a multi-threaded process: "
                    "the child's batch is not tried (the parent's was written)";
#endif
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        {
            platform::EventLogWriter batch(L"S", 0xC00017DB);
            for (int n = 0; n < 200; ++n) {
                batch.Report(platform::kEventTypeError, 0, 0xC00017DB, {ConcurrentText(1, n)});
            }
        }
        ::_exit(0);
    }
    int status = 0;
    for (int waited = 0; waited < 300 && ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the child's batch never got written";
    }
    ASSERT_TRUE(WIFEXITED(status));
    ExpectAllEvents(2, 200);
}

// An event of another identifier than the batch's is written at once, after what the batch
// collected before it, so the thread's events keep their order; the observer hears of each
// write under the identifier of its events.
TEST(EventLogTest, AnEventOfAnotherIdentifierIsWrittenAtOnceAfterWhatTheBatchCollected) {
    struct Case {
        int before;  // batch events reported before the other one
        int after;
    };
    const Case cases[] = {{0, 1}, {1, 0}, {5, 5}, {64, 3}, {100, 100}};
    for (const Case& c : cases) {
        test::TempSysRoot root;
        std::atomic<std::size_t> told{0};
        std::atomic<std::size_t> toldOther{0};
        platform::EventLogWriter batch(
            L"VORMASNMPManagerService", 0x7D0,
            [&](std::uint32_t eventId, std::size_t written, std::size_t lost) {
                EXPECT_EQ(lost, 0u);
                (eventId == 0x7D0 ? told : toldOther) += written;
            });
        auto report = [&](std::uint32_t id, const std::wstring& text) {
            batch.Report(platform::kEventTypeError, 0, id, {text});
        };
        for (int n = 0; n < c.before; ++n) {
            report(0x7D0, L"trap " + std::to_wstring(n));
        }
        report(0xC00017DB, L"the other one");
        ASSERT_EQ(ReadEvents().size(), static_cast<std::size_t>(c.before + 1))
            << "the other event is not in the file at once, after the collected ones";
        for (int n = c.before; n < c.before + c.after; ++n) {
            report(0x7D0, L"trap " + std::to_wstring(n));
        }
        batch.Flush();
        const std::vector<Json> events = ReadEvents();
        ASSERT_EQ(events.size(), static_cast<std::size_t>(c.before + c.after + 1));
        for (int i = 0, n = 0; i < static_cast<int>(events.size()); ++i) {
            if (i == c.before) {
                EXPECT_EQ(events[i]["Strings"][0], "the other one");
                EXPECT_EQ(events[i]["EventID"], 6107);
                continue;
            }
            EXPECT_EQ(events[i]["Strings"][0], "trap " + std::to_string(n++)) << "line " << i;
        }
        EXPECT_EQ(told, static_cast<std::size_t>(c.before + c.after));
        EXPECT_EQ(toldOther, 1u) << "the other event was not told as written";
    }
}
