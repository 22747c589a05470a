// Reads a growing log file line by line, as `tail -F` does: only complete lines, each once, and
// across moves of the file: when the path names another file, the rest of the old file is read
// first, then the archived files moved aside after it (Application-*.jsonl, by name), then the
// new file from its start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/posix/FollowedFile.h"

namespace tools {

class CEventLogTail {
  public:
    struct Line {
        std::size_t number;  // from 1, in the file it was read from
        std::string text;    // without its line end
    };
    using LineSink = std::function<void(Line&&)>;

    explicit CEventLogTail(std::filesystem::path path) : m_path(std::move(path)) {}

    // Hands the lines completed since the last call to `sink`, one at a time (memory stays flat
    // however large the file). False when no file could be opened at the path yet. A file that
    // has become shorter than what was read (cut) is read again from its beginning; a file that
    // the path no longer names is read to its end (after any write under way has finished), its
    // last line even without a line end, and then the next file from its start: the archive
    // moved aside after it, or the file the path names now.
    bool ReadNewLines(const LineSink& sink);

    // The text after the last line end, if any, as a line of its own; used at the end of a file
    // that does not end in a line end.
    std::optional<Line> TakeUnfinishedLine();

  private:
    void ReadToEnd(const LineSink& sink);
    void Restart();
    std::filesystem::path NextFile() const;

    std::filesystem::path m_path;
    platform::posix::FollowedFile m_file;
    std::filesystem::path m_filePath;  // the name the open file was opened by
    std::uint64_t m_offset = 0;
    std::size_t m_lineNumber = 0;
    std::string m_unfinished;
};

}  // namespace tools
