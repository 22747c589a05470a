#include "tools/EventLogTail.h"

#include <system_error>
#include <vector>

#include "tools/EventLogView.h"

namespace tools {

void CEventLogTail::Restart() {
    m_file.Seek(0);
    m_offset = 0;
    m_lineNumber = 0;
    m_unfinished.clear();
}

void CEventLogTail::ReadToEnd(const LineSink& sink) {
    std::vector<char> buffer(64 * 1024);
    while (true) {
        std::error_code ec;
        std::size_t n = m_file.Read(buffer.data(), buffer.size(), ec);
        if (n == 0) {
            return;
        }
        m_offset += n;
        std::size_t start = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                continue;
            }
            m_unfinished.append(buffer.data() + start, i - start);
            if (!m_unfinished.empty() && m_unfinished.back() == '\r') {
                m_unfinished.pop_back();
            }
            sink(Line{++m_lineNumber, std::move(m_unfinished)});
            m_unfinished.clear();
            start = i + 1;
        }
        m_unfinished.append(buffer.data() + start, n - start);
    }
}

std::filesystem::path CEventLogTail::NextFile() const {
    // The file that was open is an archive now (or was moved elsewhere, or deleted): the file
    // after it is the next archive by name, or else the log itself.
    std::vector<std::filesystem::path> archives = ArchivedLogFiles(m_path);
    for (std::size_t i = 0; i < archives.size(); ++i) {
        if (m_file.IsNamedBy(archives[i])) {
            return i + 1 < archives.size() ? archives[i + 1] : m_path;
        }
    }
    return m_path;
}

bool CEventLogTail::ReadNewLines(const LineSink& sink) {
    std::error_code ec;
    if (!m_file.IsOpen()) {
        m_file = platform::posix::FollowedFile::Open(m_path, ec);
        if (!m_file.IsOpen()) {
            return false;
        }
        m_filePath = m_path;
        Restart();
    }
    for (int moves = 0; moves < 1000; ++moves) {
        if (m_file.Size() < m_offset) {
            Restart();
        }
        ReadToEnd(sink);
        if (m_filePath == m_path && m_file.IsNamedBy(m_path)) {
            return true;
        }
        // Moved aside or deleted. A writer that began before the move may still be writing:
        // wait for it, then take the rest.
        m_file.WaitForWriters();
        ReadToEnd(sink);
        std::filesystem::path nextPath = NextFile();
        platform::posix::FollowedFile next = platform::posix::FollowedFile::Open(nextPath, ec);
        if (!next.IsOpen()) {
            return true;  // no file at the path yet: the old one stays open until there is
        }
        if (std::optional<Line> last = TakeUnfinishedLine()) {
            sink(std::move(*last));
        }
        m_file = std::move(next);
        m_filePath = std::move(nextPath);
        Restart();
    }
    return true;
}

std::optional<CEventLogTail::Line> CEventLogTail::TakeUnfinishedLine() {
    if (m_unfinished.empty()) {
        return std::nullopt;
    }
    Line line{++m_lineNumber, std::move(m_unfinished)};
    m_unfinished.clear();
    return line;
}

}  // namespace tools
