#include "tools/EventLogTail.h"

#include <system_error>
#include <vector>

namespace tools {

using platform::posix::ArchiveKey;
using platform::posix::FollowedFile;
using platform::posix::LogArchive;

CEventLogTail::CEventLogTail(std::filesystem::path path, std::optional<ArchiveKey> from)
    : m_path(std::move(path)), m_archives(m_path), m_from(std::move(from)) {}

void CEventLogTail::Restart() {
    m_file.Seek(0);
    m_offset = 0;
    m_lineNumber = 0;
    m_unfinished.clear();
}

bool CEventLogTail::OpenFirst() {
    std::error_code ec;
    for (int attempt = 0; m_from && attempt < 100; ++attempt) {
        std::optional<LogArchive> first;
        for (LogArchive& archive : m_archives.List()) {
            if (!(archive.key < *m_from)) {
                first = std::move(archive);
                break;
            }
        }
        if (!first) {
            break;
        }
        FollowedFile file = FollowedFile::Open(first->path, ec);
        if (file.IsOpen()) {  // else deleted since it was listed: look again
            m_file = std::move(file);
            m_filePath = std::move(first->path);
            m_key = std::move(first->key);
            m_from.reset();
            Restart();
            return true;
        }
    }
    m_file = FollowedFile::Open(m_path, ec);
    if (!m_file.IsOpen()) {
        return false;
    }
    m_from.reset();
    m_filePath = m_path;
    m_key.reset();
    m_looked = false;
    m_archives.List(&m_lastMove);
    Restart();
    return true;
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

void CEventLogTail::FindKey() {
    if (m_looked) {
        return;
    }
    m_looked = true;
    m_listed = m_archives.List();
    for (const LogArchive& archive : m_listed) {
        if (m_file.IsNamedBy(archive.path)) {
            m_key = archive.key;
            return;
        }
    }
}

std::optional<CEventLogTail::Gap> CEventLogTail::GapBefore(std::uint64_t next) const {
    Gap gap;
    if (!m_key) {
        // Read at the log's path and then deleted unseen: it was the archive after the last
        // move when it was opened (unless someone else deleted it: then one more was lost).
        gap.first = m_lastMove + 2;
    } else if (m_key->number == 0) {
        gap.first = 1;  // after a time-named archive: the numbered ones from the first
        gap.more = true;
    } else {
        gap.first = m_key->number + 1;
    }
    if (next <= gap.first) {
        return std::nullopt;
    }
    gap.last = next - 1;
    return gap;
}

bool CEventLogTail::IsAfter(const ArchiveKey& key) const {
    return m_key ? *m_key < key : key.number > m_lastMove;
}

std::optional<CEventLogTail::Next> CEventLogTail::NextListed(bool& deleted) const {
    std::error_code ec;
    deleted = false;
    for (const LogArchive& archive : m_listed) {
        if (!IsAfter(archive.key) || m_file.IsNamedBy(archive.path)) {
            continue;
        }
        Next next;
        next.file = FollowedFile::Open(archive.path, ec);
        if (!next.file.IsOpen()) {
            deleted = true;  // since it was listed
            return std::nullopt;
        }
        if (archive.key.number > 0) {
            next.gap = GapBefore(archive.key.number);
        }
        next.path = archive.path;
        next.key = archive.key;
        return next;
    }
    return std::nullopt;
}

std::optional<CEventLogTail::Next> CEventLogTail::NextFile() {
    bool deleted = false;
    if (std::optional<Next> next = NextListed(deleted)) {
        return next;
    }
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // The log first, then the archives: a move in between shows as an archive.
        FollowedFile log = FollowedFile::Open(m_path, ec);
        std::uint64_t lastMove = 0;
        m_listed = m_archives.List(&lastMove);
        if (std::optional<Next> next = NextListed(deleted)) {
            return next;
        }
        if (deleted) {
            continue;  // look again
        }
        if (!log.IsOpen()) {
            return std::nullopt;
        }
        Next next;
        next.file = std::move(log);
        next.path = m_path;
        next.lastMove = lastMove;
        next.gap = GapBefore(lastMove + 1);
        return next;
    }
    return std::nullopt;
}

bool CEventLogTail::ReadNewLines(const LineSink& sink, const GapSink& gaps) {
    if (!m_file.IsOpen() && !OpenFirst()) {
        return false;
    }
    for (int moves = 0; moves < 1000;) {
        if (m_file.Size() < m_offset) {
            Restart();
        }
        ReadToEnd(sink);
        const bool atLog = !m_key && m_filePath == m_path;
        if (atLog && m_file.IsNamedBy(m_path)) {
            return true;
        }
        // Moved aside or deleted, or an archive. A writer that began before the move may still
        // be writing: wait for it, then take the rest.
        m_file.WaitForWriters();
        ReadToEnd(sink);
        if (atLog) {
            FindKey();
            ++moves;
        }
        std::optional<Next> next = NextFile();
        if (!next) {
            return true;  // no file at the path yet: the old one stays open until there is
        }
        if (std::optional<Line> last = TakeUnfinishedLine()) {
            sink(std::move(*last));
        }
        if (next->gap && gaps) {
            gaps(*next->gap);
        }
        m_file = std::move(next->file);
        m_filePath = std::move(next->path);
        m_key = std::move(next->key);
        m_lastMove = next->lastMove;
        m_looked = false;
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

std::string DescribeGap(const CEventLogTail::Gap& gap, const std::filesystem::path& log) {
    const platform::posix::LogArchives archives(log);
    const std::uint64_t count = gap.last - gap.first + 1;
    std::string text = "events lost: " + std::string(gap.more ? "at least " : "") +
                       std::to_string(count) +
                       (count == 1 ? " archived file, " : " archived files, ") +
                       archives.PathOf(gap.first).filename().string();
    if (count > 1) {
        text += " to " + archives.PathOf(gap.last).filename().string();
    }
    text += count == 1 ? ", was deleted (MaxArchiveFiles) before it could be read"
                       : ", were deleted (MaxArchiveFiles) before they could be read";
    return text;
}

}  // namespace tools
