#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/LogWriter.h"
#include "platform/LocalTime.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// A fixed moment; the local date it falls on depends on the machine's time zone, so the tests
// take dates and times from platform::ToLocalTime as the writer does.
const system_clock::time_point kNoon = sys_days{2026y / December / 7} + 12h + 8min + 4s;

std::string DateText(const platform::LocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", t.year, t.month, t.day);
    return text;
}

// The local date `days` days before the local date of `when`, as eight digits.
std::string DaysBefore(system_clock::time_point when, int days) {
    platform::LocalTime t = platform::ToLocalTime(when);
    year_month_day date{sys_days{year{t.year} / t.month / t.day} - std::chrono::days{days}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> FileNames(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class LogWriterTest : public ::testing::Test {
  protected:
    LogWriterTest() : m_locale("C.UTF-8") { fs::create_directories(Logs()); }

    fs::path Logs() const { return m_root.path() / "logs"; }
    std::wstring Base() const { return platform::WidePath(Logs() / "FilterLog"); }
    fs::path Today(system_clock::time_point when = kNoon) const {
        return Logs() / ("FilterLog_" + DateText(platform::ToLocalTime(when)) + ".txt");
    }
    void Touch(const std::string& name) { std::ofstream(Logs() / name) << "old\r\n"; }

    CLogWriter Writer(system_clock::time_point when = kNoon) {
        return CLogWriter(Base(), m_mutex, 5, [when] { return when; });
    }

    test::ScopedLocale m_locale;
    test::TempSysRoot m_root;
    std::mutex m_mutex;
};

TEST_F(LogWriterTest, WritesOneTimeStampedLinePerEntry) {
    CLogWriter writer = Writer();
    ASSERT_TRUE(writer.WriteFormat(L"%s", std::wstring(L"a\r\nb")));
    ASSERT_TRUE(writer.WriteFormat(L"%s : %d%%", L"日本語", 42));
    ASSERT_TRUE(writer.Write(L"raw\tline"));

    platform::LocalTime t = platform::ToLocalTime(kNoon);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%04d/%02d/%02d %02d:%02d:%02d] ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    std::string s(stamp);
    EXPECT_EQ(ReadFile(Today()), s + "a\\r\\nb\r\n" + s +
                                     "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E : 42%\r\n" + s +
                                     "raw\tline\r\n");
    EXPECT_EQ(writer.GetLastErrorText(), L"");
}

TEST_F(LogWriterTest, EntryAtTheEndOfADayGoesIntoThatDaysFile) {
    platform::LocalTime noon = platform::ToLocalTime(kNoon);
    // 23:59:59 and the next second, local time.
    system_clock::time_point lastSecond =
        kNoon + hours(23 - noon.hour) + minutes(59 - noon.minute) + seconds(59 - noon.second);
    system_clock::time_point midnight = lastSecond + 1s;
    ASSERT_TRUE(Writer(lastSecond).Write(L"late"));
    ASSERT_TRUE(Writer(midnight).Write(L"early"));
    EXPECT_NE(Today(lastSecond), Today(midnight));
    EXPECT_NE(ReadFile(Today(lastSecond)).find(" 23:59:59] late"), std::string::npos);
    EXPECT_NE(ReadFile(Today(midnight)).find(" 00:00:00] early"), std::string::npos);
}

TEST_F(LogWriterTest, RotationKeepsTheFourNewestOlderFiles) {
    struct Case {
        int olderFiles;
        int deleted;
    };
    const Case cases[] = {{4, 0}, {5, 1}, {7, 3}};
    for (const auto& c : cases) {
        fs::remove_all(Logs());
        fs::create_directories(Logs());
        for (int d = 1; d <= c.olderFiles; ++d) {
            Touch("FilterLog_" + DaysBefore(kNoon, d) + ".txt");
        }
        ASSERT_TRUE(Writer().Write(L"entry"));
        std::set<std::string> expected = {Today().filename().string()};
        for (int d = 1; d <= c.olderFiles - c.deleted; ++d) {
            expected.insert("FilterLog_" + DaysBefore(kNoon, d) + ".txt");
        }
        EXPECT_EQ(FileNames(Logs()), expected) << c.olderFiles << " older files";
    }
}

TEST_F(LogWriterTest, RotationCountsOnlyTheFamilysDatedFiles) {
    // Not of the family: seven digits, other case, a folder, another extension.
    Touch("FilterLog_2026120.txt");
    Touch("filterlog_20000101.txt");
    fs::create_directories(Logs() / "FilterLog_20000102.txt");
    Touch("FilterLog_20000103.log");
    // Of the family: the dot before "txt" matches any character.
    Touch("FilterLog_20000104Xtxt");
    // A date later than today sorts last and is kept.
    Touch("FilterLog_29991231.txt");
    for (int d = 1; d <= 3; ++d) {
        Touch("FilterLog_" + DaysBefore(kNoon, d) + ".txt");
    }
    ASSERT_TRUE(Writer().Write(L"entry"));
    std::set<std::string> expected = {
        "FilterLog_2026120.txt",
        "filterlog_20000101.txt",
        "FilterLog_20000102.txt",
        "FilterLog_20000103.log",
        "FilterLog_29991231.txt",
        Today().filename().string(),
        "FilterLog_" + DaysBefore(kNoon, 1) + ".txt",
        "FilterLog_" + DaysBefore(kNoon, 2) + ".txt",
        "FilterLog_" + DaysBefore(kNoon, 3) + ".txt",
    };
    EXPECT_EQ(FileNames(Logs()), expected);
}

TEST_F(LogWriterTest, RotationRunsOnlyWhenTodaysFileIsNew) {
    ASSERT_TRUE(Writer().Write(L"first"));
    for (int d = 1; d <= 6; ++d) {
        Touch("FilterLog_" + DaysBefore(kNoon, d) + ".txt");
    }
    ASSERT_TRUE(Writer().Write(L"second"));
    EXPECT_EQ(FileNames(Logs()).size(), 7u);
}

TEST_F(LogWriterTest, EmptyBasePathWritesNothing) {
    CLogWriter writer(L"", m_mutex, 5);
    EXPECT_TRUE(writer.Write(L"entry"));
    EXPECT_TRUE(writer.WriteFormat(L"%s", L"entry"));
    EXPECT_TRUE(FileNames(Logs()).empty());
}

TEST_F(LogWriterTest, MissingFolderLosesTheEntryWithTheFileSystemMessage) {
    fs::remove_all(Logs());
    CLogWriter writer = Writer();
    EXPECT_FALSE(writer.Write(L"first"));
    std::wstring error = writer.GetLastErrorText();
    EXPECT_TRUE(error.ends_with(L"\r\nfirst")) << platform::WideToUtf8(error);
    EXPECT_GT(error.size(), std::wstring(L"\r\nfirst").size());  // the file system's own words
    EXPECT_FALSE(fs::exists(Logs()));

    // Each failure replaces the message and its entry.
    EXPECT_FALSE(writer.WriteFormat(L"%s", L"second\n"));
    EXPECT_TRUE(writer.GetLastErrorText().ends_with(L"\r\nsecond\\n"));
    EXPECT_EQ(writer.GetLastErrorText().find(L"first"), std::wstring::npos);
}

TEST_F(LogWriterTest, FolderThatIsAFileFails) {
    fs::remove_all(Logs());
    std::ofstream(Logs()) << "not a folder";
    CLogWriter writer = Writer();
    EXPECT_FALSE(writer.Write(L"entry"));
    EXPECT_TRUE(writer.GetLastErrorText().ends_with(L"\r\nentry"));
}

TEST_F(LogWriterTest, UnopenableFileFailsWithTheLastErrorUnchanged) {
    // Today's "file" is a folder: it exists, so no rotation, but it cannot be opened.
    fs::create_directories(Today());
    CLogWriter writer = Writer();
    EXPECT_FALSE(writer.Write(L"entry"));
    EXPECT_EQ(writer.GetLastErrorText(), L"");
}

TEST_F(LogWriterTest, TwoThreadsWriteWholeLines) {
    constexpr int kPerThread = 200;
    auto run = [this](wchar_t mark) {
        CLogWriter writer = Writer();
        std::wstring text(300, mark);
        for (int i = 0; i < kPerThread; ++i) {
            EXPECT_TRUE(writer.Write(text));
        }
    };
    std::thread a(run, L'a');
    std::thread b(run, L'b');
    a.join();
    b.join();

    std::string content = ReadFile(Today());
    int lines[2] = {0, 0};
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        std::string line = content.substr(start, end - start);
        ASSERT_EQ(line.size(), 22u + 300u) << line;
        std::string text = line.substr(22);
        ASSERT_TRUE(text == std::string(300, 'a') || text == std::string(300, 'b')) << line;
        ++lines[text[0] == 'a' ? 0 : 1];
        start = end + 2;
    }
    EXPECT_EQ(lines[0], kPerThread);
    EXPECT_EQ(lines[1], kPerThread);
}

}  // namespace
