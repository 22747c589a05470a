// Reads a growing log file line by line, as `tail -F` does: only complete lines, each once, and
// across moves of the file: when the path names another file, the rest of the old file is read
// first, then the archives moved aside after it (Application-*.jsonl, in the order of the moves:
// platform/posix/LogArchives.h), then the new file from its start. Archives that the writer
// deleted (beyond MaxArchiveFiles) before they could be read are passed over, and told as a gap.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/FollowedFile.h"
#include "platform/posix/LogArchives.h"

namespace tools {

class CEventLogTail {
  public:
    struct Line {
        std::size_t number;  // from 1, in the file it was read from
        std::string text;    // without its line end
    };
    // Archives moved aside after the file read last that were deleted before they could be read:
    // those numbered `first` to `last`, and with `more` also earlier ones of the time-named
    // scheme that the numbers cannot tell. How many events they held is not known.
    struct Gap {
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        bool more = false;
    };
    using LineSink = std::function<void(Line&&)>;
    using GapSink = std::function<void(const Gap&)>;

    // Follows the log at `path`, from its start; with `from`, from the oldest of its archives at
    // or after that key (then the archives after it, then the log).
    explicit CEventLogTail(std::filesystem::path path,
                           std::optional<platform::posix::ArchiveKey> from = std::nullopt);

    // Hands the lines completed since the last call to `sink`, one at a time (memory stays flat
    // however large the file), and every gap to `gaps` where it falls. False when no file could
    // be opened yet. A file that has become shorter than what was read (cut) is read again from
    // its beginning; a file that the path no longer names, and an archive, is read to its end
    // (after any write under way has finished), its last line even without a line end, and then
    // the next file from its start: the oldest archive moved aside after it that is still there,
    // or the file the path names now.
    bool ReadNewLines(const LineSink& sink, const GapSink& gaps = {});

    // The text after the last line end, if any, as a line of its own; used at the end of a file
    // that does not end in a line end.
    std::optional<Line> TakeUnfinishedLine();

    // The name by which the file read now was opened.
    const std::filesystem::path& FilePath() const { return m_filePath; }

  private:
    struct Next {
        platform::posix::FollowedFile file;
        std::filesystem::path path;
        std::optional<platform::posix::ArchiveKey> key;  // none for the file at the log's path
        std::uint64_t lastMove = 0;                      // for that file: see m_lastMove
        std::optional<Gap> gap;
    };

    bool OpenFirst();
    void ReadToEnd(const LineSink& sink);
    void Restart();
    void FindKey();
    std::optional<Next> NextFile();
    bool IsAfter(const platform::posix::ArchiveKey& key) const;
    std::optional<Next> NextListed(bool& deleted) const;
    std::optional<Gap> GapBefore(std::uint64_t next) const;

    std::filesystem::path m_path;
    platform::posix::LogArchives m_archives;
    std::optional<platform::posix::ArchiveKey> m_from;
    platform::posix::FollowedFile m_file;
    std::filesystem::path m_filePath;  // the name the open file was opened by
    // Where the open file stands among the archives: its key, once it is known to be an archive;
    // for a file opened at the log's path, the number of the last move when it was opened (it
    // becomes the archive after that one), and whether it was looked for among the archives.
    std::optional<platform::posix::ArchiveKey> m_key;
    std::uint64_t m_lastMove = 0;
    bool m_looked = false;
    // The archives as listed last, oldest first: a chain of them is read without listing the
    // folder for each (the archives moved since come after them all).
    std::vector<platform::posix::LogArchive> m_listed;
    std::uint64_t m_offset = 0;
    std::size_t m_lineNumber = 0;
    std::string m_unfinished;
};

// What the viewer says of a gap of the log at `log`: "events lost: 5 archived files,
// Application-0000000013.jsonl to Application-0000000017.jsonl, were deleted (MaxArchiveFiles)
// before they could be read".
std::string DescribeGap(const CEventLogTail::Gap& gap, const std::filesystem::path& log);

}  // namespace tools
