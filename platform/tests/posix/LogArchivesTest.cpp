#include "platform/posix/LogArchives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TempSysRoot.h"

namespace {

using platform::posix::ArchiveKey;
using platform::posix::LogArchives;

void Touch(const std::filesystem::path& path, std::int64_t mtime) {
    std::ofstream(path, std::ios::binary | std::ios::app) << "{}\n";
    std::filesystem::last_write_time(
        path,
        std::chrono::file_clock::from_sys(std::chrono::sys_seconds{std::chrono::seconds{mtime}}));
}

std::vector<std::string> Names(const std::vector<platform::posix::LogArchive>& archives) {
    std::vector<std::string> names;
    for (const auto& archive : archives) {
        names.push_back(archive.path.filename().string());
    }
    return names;
}

std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LogArchivesTest, KnowsTheNamesOfBothSchemes) {
    const LogArchives archives("/var/x/Application.jsonl");
    const struct {
        const char* name;
        std::optional<std::uint64_t> number;  // nullopt: no archive
    } cases[] = {
        {"Application-0000000042.jsonl", 42},
        {"Application-7.jsonl", 7},
        {"Application-9999999999999999999.jsonl", 9999999999999999999ull},
        {"Application-20261208T131501.123456Z.jsonl", 0},
        {"Application-20270101T000000.000000Z.jsonl", 0},
        {"Application-0000000000.jsonl", std::nullopt},
        {"Application-.jsonl", std::nullopt},
        {"Application-12345678901234567890.jsonl", std::nullopt},  // beyond 64 bits
        {"Application-20261208T131501Z.jsonl", std::nullopt},
        {"Application-42.jsonl.elsewhere", std::nullopt},
        {"Application-foo.jsonl", std::nullopt},
        {"Application-+42.jsonl", std::nullopt},
        {"Application.jsonl", std::nullopt},
        {"Application.seq", std::nullopt},
        {"Other-42.jsonl", std::nullopt},
    };
    for (const auto& c : cases) {
        std::optional<ArchiveKey> key = archives.KeyOf(c.name);
        ASSERT_EQ(key.has_value(), c.number.has_value()) << c.name;
        if (key) {
            EXPECT_EQ(key->number, *c.number) << c.name;
            EXPECT_EQ(key->name, c.name);
        }
    }
    EXPECT_EQ(archives.PathOf(42), "/var/x/Application-0000000042.jsonl");
    EXPECT_EQ(archives.PathOf(12345678901ull), "/var/x/Application-12345678901.jsonl");
}

// The order of the moves: time-named archives first, by name, however far ahead their times;
// then the numbered ones by number, padded or not; no other file.
TEST(LogArchivesTest, ListsArchivesInTheOrderOfTheMoves) {
    test::TempSysRoot root;
    const std::filesystem::path log = root.path() / "Application.jsonl";
    for (const char* name :
         {"Application-10.jsonl", "Application-0000000011.jsonl", "Application-9.jsonl",
          "Application-20270101T000000.000000Z.jsonl", "Application-20261208T131501.123456Z.jsonl",
          "Application.jsonl", "Application-foo.jsonl", "Application-12.jsonl.elsewhere"}) {
        Touch(root.path() / name, 1'800'000'000);
    }
    std::filesystem::create_directory(root.path() / "Application-13.jsonl");
    std::uint64_t last = 0;
    EXPECT_EQ(Names(LogArchives(log).List(&last)),
              (std::vector<std::string>{"Application-20261208T131501.123456Z.jsonl",
                                        "Application-20270101T000000.000000Z.jsonl",
                                        "Application-9.jsonl", "Application-10.jsonl",
                                        "Application-0000000011.jsonl"}));
    EXPECT_EQ(last, 11u);
    std::ofstream(root.path() / "Application.seq") << "40\n";
    LogArchives(log).List(&last);
    EXPECT_EQ(last, 40u);
}

// A move takes the number after the last one, which the sequence file keeps when every archive
// is gone; without it (or with garbage in it) the names tell.
TEST(LogArchivesTest, MovesAsideUnderTheNextNumberWhateverWasDeleted) {
    test::TempSysRoot root;
    const std::filesystem::path log = root.path() / "Application.jsonl";
    const LogArchives archives(log);
    auto move = [&](const char* text) {
        std::ofstream(log, std::ios::binary) << text << "\n";
        return archives.MoveAside();
    };
    EXPECT_EQ(archives.MoveAside(), 0u) << "no log to move";
    Touch(root.path() / "Application-20270101T000000.000000Z.jsonl", 1'800'000'000);
    EXPECT_EQ(move("a"), 1u);
    EXPECT_EQ(move("b"), 2u);
    EXPECT_FALSE(std::filesystem::exists(log));
    std::ifstream moved(archives.PathOf(2));
    std::string line;
    EXPECT_TRUE(std::getline(moved, line));
    EXPECT_EQ(line, "b");
    archives.Prune(0, 0, 0);  // every archive deleted
    EXPECT_TRUE(archives.List().empty());
    EXPECT_EQ(move("c"), 3u);
    Touch(archives.PathOf(41), 1'800'000'000);  // put there by hand
    EXPECT_EQ(move("d"), 42u);
    std::ofstream(root.path() / "Application.seq", std::ios::trunc) << "garbage";
    EXPECT_EQ(move("e"), 43u);
    std::filesystem::remove(root.path() / "Application.seq");
    archives.Prune(1, 0, 0);
    EXPECT_EQ(move("f"), 44u);
    EXPECT_EQ(Names(archives.List()), (std::vector<std::string>{"Application-0000000043.jsonl",
                                                                "Application-0000000044.jsonl"}));
}

// Which archives a prune leaves, by move order and the retention, also when the clock was set
// back or ran ahead: an archive counts as changed no later than those moved after it, and no
// later than now.
TEST(LogArchivesTest, PrunesTheOldestByMoveOrderAndTheRetentionBoundByLaterMoves) {
    constexpr std::int64_t kNow = 1'796'000'000;  // 2026-11-30
    constexpr std::int64_t kHour = 3600;
    constexpr std::int64_t kYear = 365 * 24 * kHour;
    struct File {
        const char* name;
        std::int64_t mtime;  // from kNow
    };
    struct Case {
        const char* name;
        std::vector<File> files;  // oldest move first
        std::uint32_t keep;
        std::uint32_t retention;
        std::int64_t now;  // from kNow: the clock at the prune
        std::vector<std::string> left;
    };
    const std::vector<Case> cases{
        {"by number, not by time",
         {{"Application-1.jsonl", 0},
          {"Application-2.jsonl", -1},
          {"Application-3.jsonl", -2},
          {"Application-4.jsonl", -3},
          {"Application-5.jsonl", -4}},
         2,
         0,
         0,
         {"Application-4.jsonl", "Application-5.jsonl"}},
        // What a clock run ahead named before the numbers: all older than every numbered one.
        {"time-named archives of a clock run ahead go first",
         {{"Application-20270101T000001.000000Z.jsonl", kYear},
          {"Application-20270101T000002.000000Z.jsonl", kYear},
          {"Application-1.jsonl", -2},
          {"Application-2.jsonl", -1},
          {"Application-3.jsonl", 0}},
         3,
         0,
         0,
         {"Application-1.jsonl", "Application-2.jsonl", "Application-3.jsonl"}},
        {"numbers, not names",
         {{"Application-9.jsonl", 0}, {"Application-10.jsonl", 0}},
         1,
         0,
         0,
         {"Application-10.jsonl"}},
        {"retention keeps what changed in the last hour",
         {{"Application-1.jsonl", -4 * kHour},
          {"Application-2.jsonl", -2 * kHour},
          {"Application-3.jsonl", -kHour / 2},
          {"Application-4.jsonl", -kHour / 6}},
         1,
         3600,
         0,
         {"Application-3.jsonl", "Application-4.jsonl"}},
        {"stamped a year ahead, then the clock set back: bound by the later moves",
         {{"Application-1.jsonl", kYear},
          {"Application-2.jsonl", kYear},
          {"Application-3.jsonl", kYear},
          {"Application-4.jsonl", -2 * kHour},
          {"Application-5.jsonl", -2 * kHour + 60}},
         1,
         3600,
         0,
         {"Application-5.jsonl"}},
        {"stamped ahead, a later move within the hour: kept",
         {{"Application-1.jsonl", kYear},
          {"Application-2.jsonl", kYear},
          {"Application-3.jsonl", -kHour / 6},
          {"Application-4.jsonl", -kHour / 6}},
         1,
         3600,
         0,
         {"Application-1.jsonl", "Application-2.jsonl", "Application-3.jsonl",
          "Application-4.jsonl"}},
        {"stamped ahead, nothing moved since: no later than now, kept",
         {{"Application-1.jsonl", kYear},
          {"Application-2.jsonl", kYear},
          {"Application-3.jsonl", kYear}},
         1,
         3600,
         0,
         {"Application-1.jsonl", "Application-2.jsonl", "Application-3.jsonl"}},
        {"the clock run a year ahead at the prune: the count still keeps the newest",
         {{"Application-1.jsonl", -kHour / 6},
          {"Application-2.jsonl", -kHour / 6},
          {"Application-3.jsonl", 0}},
         1,
         3600,
         kYear,
         {"Application-3.jsonl"}},
        {"never deleted",
         {{"Application-1.jsonl", -kYear}, {"Application-2.jsonl", -kYear}},
         0,
         0xFFFFFFFFu,
         0,
         {"Application-1.jsonl", "Application-2.jsonl"}},
        {"none kept",
         {{"Application-20261208T131501.123456Z.jsonl", 0}, {"Application-1.jsonl", 0}},
         0,
         0,
         0,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempSysRoot root;
        for (const File& file : c.files) {
            Touch(root.path() / file.name, kNow + file.mtime);
        }
        // Not archives: never deleted.
        for (const char* other :
             {"Application.jsonl", "Application-foo.jsonl", "Application.seq"}) {
            Touch(root.path() / other, kNow - kYear);
        }
        LogArchives(root.path() / "Application.jsonl").Prune(c.keep, c.retention, kNow + c.now);
        std::vector<std::string> expected = c.left;
        expected.insert(expected.end(),
                        {"Application-foo.jsonl", "Application.jsonl", "Application.seq"});
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FilesIn(root.path()), expected);
    }
}

}  // namespace
