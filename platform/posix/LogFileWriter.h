// POSIX only: the process's one writer of the log file, which keeps the file within the size limit
// of the log's registry key (MaxSize) and moves a full file aside as an archive (LogArchives),
// keeping as many archives as MaxArchiveFiles and Retention say.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace platform::posix {

// Appends `lines` (whole events, each ending in LF) to the log file at `path`, with one write
// under the file's exclusive flock for what fits (see CLogFileWriter in LogFileWriter.cpp);
// returns how much of it is in the file once it returns: a prefix of whole events, all of
// `lines` unless a write failed. Safe from any thread; writers in several processes never
// interleave.
std::size_t AppendToLogFile(const std::filesystem::path& path, std::string_view lines);

}  // namespace platform::posix
