// Line reading shared by every platform; only the path conversion differs.
#include "platform/TextFile.h"

#include <fstream>
#include <iterator>

#include "platform/Text.h"

namespace platform {

std::optional<std::vector<std::wstring>> ReadTextFileLines(std::wstring_view path) {
    std::string bytes;
    try {
        std::ifstream in(NativePath(path), std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            return std::nullopt;
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }

    // Lines are split on the bytes before conversion: in the multibyte encodings a settings file
    // may use (UTF-8, Shift-JIS) neither LF nor CR occurs inside a character, and a malformed
    // sequence then cannot swallow a line end.
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        bool hasLineFeed = end != std::string::npos;
        if (!hasLineFeed) {
            end = bytes.size();
        }
        std::size_t length = end - start;
        if (hasLineFeed && length > 0 && bytes[end - 1] == '\r') {
            --length;
        }
        lines.push_back(LocaleToWide(std::string_view(bytes).substr(start, length)));
        start = hasLineFeed ? end + 1 : end;
    }
    return lines;
}

}  // namespace platform
