// Reads a growing log file line by line, as `tail -f` does: only complete lines, each once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tools {

class CEventLogTail {
  public:
    struct Line {
        std::size_t number;  // from 1
        std::string text;    // without its line end
    };

    explicit CEventLogTail(std::filesystem::path path) : m_path(std::move(path)) {}

    // Appends the lines completed since the last call to `lines`. False when the file cannot be
    // opened. A file that has become shorter than what was read (replaced or cut) is read again
    // from its beginning.
    bool ReadNewLines(std::vector<Line>& lines);

    // The text after the last line end, if any, as a line of its own; used at the end of a file
    // that does not end in a line end.
    std::optional<Line> TakeUnfinishedLine();

  private:
    std::filesystem::path m_path;
    std::uintmax_t m_offset = 0;
    std::size_t m_lineNumber = 0;
    std::string m_unfinished;
};

}  // namespace tools
