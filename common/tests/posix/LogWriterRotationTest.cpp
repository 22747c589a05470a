// Rotation of the filter log with entries of the log folder that cannot be examined or deleted.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/LogWriter.h"
#include "platform/EventLogWriter.h"
#include "platform/LocalTime.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "tests/support/EventLogFile.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

const system_clock::time_point kNoon = sys_days{2026y / December / 7} + 12h;

std::string Date(system_clock::time_point when) {
    platform::LocalTime t = platform::ToLocalTime(when);
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", t.year, t.month, t.day);
    return text;
}

std::string Family(system_clock::time_point when) {
    return "FilterLog_" + Date(when) + ".txt";
}

// Sets or clears the immutable flag, which keeps even root from deleting the file. False where
// the file system or the process cannot.
bool SetImmutable(const fs::path& path, bool on) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

class LogWriterRotationTest : public ::testing::Test {
  protected:
    LogWriterRotationTest() : m_locale("C.UTF-8") { fs::create_directories(Logs()); }
    ~LogWriterRotationTest() override {
        if (m_immutable) {
            SetImmutable(*m_immutable, false);
        }
    }

    fs::path Logs() const { return m_root.path() / "logs"; }
    bool Write(system_clock::time_point when, const std::wstring& text) {
        CLogWriter writer(platform::WidePath(Logs() / "FilterLog"), m_mutex, 5,
                          [when] { return when; });
        return writer.Write(text);
    }
    void OlderFiles(int count) {
        for (int d = 1; d <= count; ++d) {
            std::ofstream(Logs() / Family(kNoon - days{d})) << "old\r\n";
        }
    }

    test::ScopedLocale m_locale;
    test::TempSysRoot m_root;
    std::mutex m_mutex;
    std::optional<fs::path> m_immutable;
};

TEST_F(LogWriterRotationTest, EntriesThatCannotBeExaminedOrDeletedAreSkippedAndReportedOnce) {
    struct Case {
        const char* what;
        std::string entry;  // the bad entry in logs/
        bool undeletable;   // an old file that cannot be deleted, else a looping link
        bool reported;
    };
    const Case cases[] = {
        {"a looping link with the family's name", Family(kNoon - days{30}), false, true},
        {"a looping link with another name", "loop", false, false},
        {"the oldest file cannot be deleted", Family(kNoon - days{5}), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Logs());
        fs::create_directories(Logs());
        OlderFiles(5);
        const fs::path bad = Logs() / c.entry;
        if (c.undeletable) {
            if (!SetImmutable(bad, true)) {
                GTEST_SKIP() << "no immutable files here (needs root and a file system with them)";
            }
            m_immutable = bad;
        } else {
            fs::create_symlink(c.entry, bad);
        }
        const std::size_t before = test::ReadEventLog().size();

        // Two days: rotation runs on the first entry of each, and finds the entry again.
        ASSERT_TRUE(Write(kNoon, L"first"));
        ASSERT_TRUE(Write(kNoon, L"second"));
        ASSERT_TRUE(Write(kNoon + days{1}, L"next day"));
        std::ifstream today(Logs() / Family(kNoon));
        std::string line;
        std::getline(today, line);
        EXPECT_NE(line.find("] first"), std::string::npos) << line;
        EXPECT_TRUE(fs::exists(Logs() / Family(kNoon + days{1})));
        EXPECT_TRUE(fs::exists(fs::symlink_status(bad)));

        std::vector<nlohmann::json> events = test::ReadEventLog();
        events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(before));
        if (!c.reported) {
            EXPECT_TRUE(events.empty());
            continue;
        }
        ASSERT_EQ(test::EventIds(events), std::vector<int>{6107});
        const std::wstring text = platform::Utf8ToWide(events[0]["Strings"][0].get<std::string>());
        EXPECT_EQ(text.rfind(L"フィルターログの出力に失敗しました。\r\n", 0), 0u);
        EXPECT_NE(text.find(platform::WidePath(bad)), std::wstring::npos);
        EXPECT_NE(text.find(L"このファイルを残して書き込みを続けます。"), std::wstring::npos);
        if (c.undeletable) {
            SetImmutable(bad, false);
            m_immutable.reset();
        }
    }
}

}  // namespace

// A writer given the thread's event-log writer reports what rotation skipped through it: after
// the trap events it collected before, told to its observer.
TEST_F(LogWriterRotationTest, SkippedEntriesAreReportedThroughTheGivenWriter) {
    OlderFiles(5);
    fs::create_symlink("loop", Logs() / Family(kNoon - days{30}));
    std::vector<std::uint32_t> told;  // the identifiers of the events told as written
    {
        platform::EventLogWriter events(
            L"VORMASNMPManagerService", 2000,
            [&](std::uint32_t eventId, std::size_t written, std::size_t) {
                told.insert(told.end(), written, eventId);
            });
        events.Report(platform::kEventTypeInformation, 0, 2000, {L"trap before"});
        CLogWriter writer(platform::WidePath(Logs() / "FilterLog"), m_mutex, 5,
                          [] { return kNoon; });
        writer.ReportThrough(&events);
        ASSERT_TRUE(writer.Write(L"held back"));
        EXPECT_EQ(test::EventIds(test::ReadEventLog()), (std::vector<int>{2000, 6107}))
            << "the skipped entry was not written at once after the collected event";
    }
    EXPECT_EQ(told, (std::vector<std::uint32_t>{2000, 0xC00017DBu}));
}
