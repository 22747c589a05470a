#include "common/TrapText.h"

namespace traptext {

std::wstring HeaderLine(std::wstring_view address, std::wstring_view name,
                        std::wstring_view version) {
    std::wstring line(address);
    line += kWideSeparator;
    line += name;
    line += kWideSeparator;
    line += version;
    return line;
}

Header SplitHeader(std::wstring_view text) {
    Header header;
    const std::size_t lf = text.find(L'\n');
    if (lf == std::wstring_view::npos) {
        return header;
    }
    std::wstring_view line = text.substr(0, lf);
    if (line.ends_with(kAuthenticationFailureMark)) {
        line.remove_suffix(kAuthenticationFailureMark.size());
    }
    const std::size_t first = line.find(kWideSeparator);
    const std::size_t last = line.rfind(kWideSeparator);
    if (first == std::wstring_view::npos || last == first) {
        return header;
    }
    header.address = line.substr(0, first);
    header.community =
        line.substr(first + kWideSeparator.size(), last - first - kWideSeparator.size());
    header.version = line.substr(last + kWideSeparator.size());
    header.readable =
        header.version == kVersion1 || header.version == kVersion2c || header.version == kVersion3;
    return header;
}

std::string_view AddressOf(std::string_view text) {
    return text.substr(0, text.find('\t'));
}

}  // namespace traptext
