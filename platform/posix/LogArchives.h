// POSIX only: the archives of a log file that its writer moves aside when it is full. The log
// "Application.jsonl" becomes "Application-0000000042.jsonl": archives are numbered in the order
// they were moved, never by a clock, so a clock set back or run ahead cannot reorder them. The
// number of the last move is also kept in "Application.seq" beside the log, so that the numbers
// go on when every archive has been deleted. Names of the earlier scheme, the UTC time of the
// move ("Application-20261208T131501.123456Z.jsonl"), still count as archives: older than every
// numbered one, and among themselves in the order of their names. The log's writer (EventLog.cpp)
// and its viewer (tools/) both name, find and order the archives here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::posix {

// Where an archive stands in the order of the moves.
struct ArchiveKey {
    std::uint64_t number = 0;  // from 1; 0 for a name of the earlier, time-named scheme
    std::string name;          // the file name: orders the time-named among themselves

    friend bool operator<(const ArchiveKey& a, const ArchiveKey& b) {
        return a.number != b.number ? a.number < b.number : a.name < b.name;
    }
    friend bool operator==(const ArchiveKey& a, const ArchiveKey& b) {
        return a.number == b.number && a.name == b.name;
    }
};

struct LogArchive {
    std::filesystem::path path;
    ArchiveKey key;
};

class LogArchives {
  public:
    static constexpr std::uint32_t kRetentionKeepAll = 0xFFFFFFFFu;

    // The archives of the log file `log`, which lie beside it.
    explicit LogArchives(std::filesystem::path log);

    // The key of `fileName` (a name in the log's folder), or nullopt when it names no archive.
    std::optional<ArchiveKey> KeyOf(std::string_view fileName) const;

    // The archives there are now (regular files), oldest first. With `lastNumber`, also the
    // number of the last move so far (0 before the first): the higher of the one the sequence
    // file holds, read first, and the highest numbered archive listed.
    std::vector<LogArchive> List(std::uint64_t* lastNumber = nullptr) const;

    // The archive name of move `number`: "Application-0000000042.jsonl".
    std::filesystem::path PathOf(std::uint64_t number) const;

    // Moves the log aside under the number after the last move (never replacing a file) and
    // records that number; the caller holds the exclusive flock of the file at the log's path, so
    // that nothing is written to it after the move. Moves of several processes take turns on
    // the sequence file's flock. The number given, or 0 when the log could not be moved (errno).
    std::uint64_t MoveAside() const;

    // Deletes the oldest archives beyond the `keep` newest, unless `retention` keeps them:
    // kRetentionKeepAll keeps every archive, N > 0 those changed in the last N seconds before
    // `now` (seconds since the epoch). An archive counts as changed no later than any archive
    // moved after it and no later than `now`: a clock that ran ahead while it was written, and
    // was set back since, cannot keep it longer than the archives moved after it.
    void Prune(std::uint32_t keep, std::uint32_t retention, std::int64_t now) const;

  private:
    std::filesystem::path m_folder;
    std::string m_prefix;  // "Application-"
    std::string m_suffix;  // ".jsonl"
    std::filesystem::path m_log;
    std::filesystem::path m_sequence;  // "Application.seq"
};

}  // namespace platform::posix
