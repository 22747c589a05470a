// Small readers of command-line words that the viewer's option parsing and its time arguments
// share.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace tools {

// The text with ASCII capitals made small; other bytes (UTF-8 included) unchanged.
inline std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// A whole unsigned number of decimal digits only, at most `highest`, or nullopt.
template <typename T>
std::optional<T> WholeNumber(std::string_view text, T highest) {
    T number = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || number > highest) {
        return std::nullopt;
    }
    return number;
}

}  // namespace tools
