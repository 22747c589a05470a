#include "common/ObjectName.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string ShortenObjectName(std::string_view input) {
    std::string text(input.substr(0, input.find('=')));
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        text.erase(0, colon + 1);
    }
    std::string parent;
    bool noDotLeft = false;
    while (true) {
        const std::size_t dot = text.find('.');
        if (dot == std::string::npos) {
            noDotLeft = true;
            break;
        }
        const char next = dot + 1 < text.size() ? text[dot + 1] : '\0';
        if (IsDigit(next) || next == '"') {
            parent.clear();
            break;
        }
        parent = text.substr(0, dot);
        text.erase(0, dot + 1);
    }
    if (noDotLeft && !parent.empty()) {
        text = parent + "." + text;
    }
    return TrimBlanks(text);
}
