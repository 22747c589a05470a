#include "tools/EventLogTail.h"

#include <fstream>

namespace tools {

bool CEventLogTail::ReadNewLines(std::vector<Line>& lines) {
    std::ifstream in(m_path, std::ios::binary);
    if (!in.is_open()) {
        return false;
    }
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) {
        return false;
    }
    if (static_cast<std::uintmax_t>(size) < m_offset) {
        m_offset = 0;
        m_lineNumber = 0;
        m_unfinished.clear();
    }
    in.seekg(static_cast<std::streamoff>(m_offset));
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        std::size_t n = static_cast<std::size_t>(in.gcount());
        m_offset += n;
        std::size_t start = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                continue;
            }
            m_unfinished.append(buffer + start, i - start);
            if (!m_unfinished.empty() && m_unfinished.back() == '\r') {
                m_unfinished.pop_back();
            }
            lines.push_back(Line{++m_lineNumber, std::move(m_unfinished)});
            m_unfinished.clear();
            start = i + 1;
        }
        m_unfinished.append(buffer + start, n - start);
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
