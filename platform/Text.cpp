// Text conversions shared by every platform.
#include "platform/Text.h"

namespace platform {

std::vector<std::uint8_t> WideToUtf16Le(std::wstring_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(Utf16Length(text) * 2);
    auto put = [&out](std::uint32_t unit) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFFu));
        out.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFFu));
    };
    for (wchar_t c : text) {
        auto code = static_cast<std::uint32_t>(c);
        if constexpr (sizeof(wchar_t) == 2) {
            put(code & 0xFFFFu);
        } else if (code > 0x10FFFFu) {
            put(0xFFFDu);
        } else if (code > 0xFFFFu) {
            code -= 0x10000u;
            put(0xD800u | (code >> 10));
            put(0xDC00u | (code & 0x3FFu));
        } else {
            put(code);
        }
    }
    return out;
}

std::wstring Utf16LeToWide(const std::uint8_t* data, std::size_t size) {
    std::wstring out;
    std::size_t units = size / 2;
    out.reserve(units);
    auto unitAt = [data](std::size_t i) -> std::uint32_t {
        return static_cast<std::uint32_t>(data[2 * i]) |
               (static_cast<std::uint32_t>(data[2 * i + 1]) << 8);
    };
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t unit = unitAt(i);
        if constexpr (sizeof(wchar_t) == 2) {
            out.push_back(static_cast<wchar_t>(unit));
        } else if (unit >= 0xD800u && unit <= 0xDBFFu && i + 1 < units &&
                   unitAt(i + 1) >= 0xDC00u && unitAt(i + 1) <= 0xDFFFu) {
            std::uint32_t low = unitAt(++i);
            out.push_back(
                static_cast<wchar_t>(0x10000u + ((unit - 0xD800u) << 10) + (low - 0xDC00u)));
        } else if (unit >= 0xD800u && unit <= 0xDFFFu) {
            out.push_back(L'\uFFFD');
        } else {
            out.push_back(static_cast<wchar_t>(unit));
        }
    }
    return out;
}

}  // namespace platform
