#include "platform/UntrustedText.h"

#include <cstddef>
#include <cstdint>

namespace platform {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsContinuation(unsigned char c) {
    return c >= 0x80 && c <= 0xBF;
}

// The length of the well-formed UTF-8 sequence at `at` (Unicode's table of well-formed byte
// sequences) and its code point, or 0 when the byte there starts none.
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t& code) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong form
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong form
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(byte(i))) {
            return 0;
        }
    }
    code = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        code = (code << 6) | (byte(i) & 0x3F);
    }
    return length;
}

bool IsBidiControl(char32_t code) {
    return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// Controls, DEL, C1 and the bidirectional controls: what is never shown as it is.
bool IsUnsafe(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || IsBidiControl(code);
}

void AppendHexByte(std::string& out, unsigned char c) {
    out += "\\x";
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 0xF]);
}

void AppendCodePoint(std::string& out, char32_t code) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kHex[(code >> shift) & 0xF]);
    }
}

void AppendShown(std::string& out, char32_t code) {
    if (code < 0x80) {
        AppendHexByte(out, static_cast<unsigned char>(code));
    } else {
        AppendCodePoint(out, code);
    }
}

std::string EscapeForDisplay(std::string_view text, bool lines) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(text, i, code);
        if (length == 0) {
            AppendHexByte(out, static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (lines && (code == '\r' || code == '\n')) {
            out.push_back('\n');
            i += code == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
            continue;
        }
        if (IsUnsafe(code) && !(lines && code == '\t')) {
            AppendShown(out, code);
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

std::string EscapeJson(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool inString = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (inString && c == '\\' && i + 1 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) < 0x80 &&
            static_cast<unsigned char>(text[i + 1]) >= 0x20) {
            out.append(text, i, 2);  // an escape of the writer's, kept
            i += 2;
            continue;
        }
        if (c == '"') {
            inString = !inString;
        }
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(text, i, code);
        if (length == 0) {
            out += "\\uFFFD";
            ++i;
            continue;
        }
        if (!inString && (code == '\t' || code == '\r' || code == '\n')) {
            out.push_back(' ');
        } else if (IsUnsafe(code)) {
            AppendCodePoint(out, code);
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

}  // namespace

std::string EscapeUntrustedText(std::string_view text, TextEscaping escaping) {
    switch (escaping) {
        case TextEscaping::kOneLine:
            return EscapeForDisplay(text, false);
        case TextEscaping::kLines:
            return EscapeForDisplay(text, true);
        case TextEscaping::kJson:
            return EscapeJson(text);
    }
    return EscapeForDisplay(text, false);
}

}  // namespace platform
