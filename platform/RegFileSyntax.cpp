#include "platform/RegFileSyntax.h"

#include <algorithm>
#include <cwctype>

#include "platform/Text.h"

namespace platform::regfile {

// Hex lines are continued before they pass this column, as the registry editor does.
constexpr std::size_t kHexLineWidth = 80;
wchar_t FoldChar(wchar_t c) {
    if (c < 0x80) {
        return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    return static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
}

// Folding maps every character to exactly one character, so a folded text has the length of the
// original and prefixes line up.
std::wstring Fold(std::wstring_view text) {
    std::wstring out(text.size(), L'\0');
    std::transform(text.begin(), text.end(), out.begin(), FoldChar);
    return out;
}

bool IsSameOrBelow(std::wstring_view folded, std::wstring_view foldedAncestor) {
    if (folded.size() == foldedAncestor.size()) {
        return folded == foldedAncestor;
    }
    return folded.size() > foldedAncestor.size() && folded[foldedAncestor.size()] == L'\\' &&
           folded.substr(0, foldedAncestor.size()) == foldedAncestor;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

// 1 to 8 hex digits.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s) {
    if (s.empty() || s.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return value;
}

// "41,00,42,00": bytes of one or two hex digits separated by commas; empty text is no bytes.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view s) {
    std::vector<std::uint8_t> bytes;
    s = TrimRight(TrimLeft(s));
    if (s.empty()) {
        return bytes;
    }
    while (true) {
        std::size_t comma = s.find(',');
        std::string_view item = TrimRight(TrimLeft(s.substr(0, comma)));
        if (item.empty() || item.size() > 2) {
            return std::nullopt;
        }
        auto value = ParseHexNumber(item);
        if (!value) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(*value));
        if (comma == std::string_view::npos) {
            return bytes;
        }
        s.remove_prefix(comma + 1);
    }
}

// Reads a quoted text at the start of `s` ("\\" and "\"" are its escapes) and removes it from
// `s`. Returns null with `error` set when it is not well formed.
std::optional<std::string> TakeQuoted(std::string_view* s, std::wstring* error) {
    std::string out;
    std::size_t i = 1;  // past the opening quote
    while (i < s->size()) {
        char c = (*s)[i];
        if (c == '"') {
            s->remove_prefix(i + 1);
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= s->size() || ((*s)[i + 1] != '\\' && (*s)[i + 1] != '"')) {
                *error = L"a backslash inside quotes must be written \\\\ (or \\\" for a quote)";
                return std::nullopt;
            }
            out.push_back((*s)[i + 1]);
            i += 2;
            continue;
        }
        out.push_back(c);
        ++i;
    }
    *error = L"a quoted text has no closing quote";
    return std::nullopt;
}

namespace {

std::string Quote(std::wstring_view text) {
    std::string utf8 = WideToUtf8(text);
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

}  // namespace

namespace {

void AppendUtf8(std::string* out, std::uint32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

// UTF-16LE bytes (after the byte-order mark) as UTF-8. An unpaired surrogate becomes the byte
// 0xFF, which no UTF-8 text holds, so that its line is reported rather than read with a
// replacement character; an odd last byte is left out and `oddByte` set.
std::string Utf16LeToUtf8(std::string_view bytes, bool* oddByte) {
    std::string out;
    out.reserve(bytes.size());
    *oddByte = bytes.size() % 2 != 0;
    const std::size_t units = bytes.size() / 2;
    auto unit = [&bytes](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            AppendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back('\xFF');
        } else {
            AppendUtf8(&out, u);
        }
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80) {
            return WideToUtf8(Utf8ToWide(text)) == text;
        }
    }
    return true;
}

namespace {

// The text of REG_SZ data when it can be written in quotes and read back to the same bytes: a
// well-formed UTF-16 text with one terminator and no line breaks.
std::optional<std::wstring> QuotableText(const std::vector<std::uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 ||
        data[data.size() - 2] != 0) {
        return std::nullopt;
    }
    std::wstring text = Utf16LeToWide(data.data(), data.size() - 2);
    if (text.find_first_of(std::wstring_view(L"\0\r\n", 3)) != std::wstring::npos) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> back = WideToUtf16Le(text);
    if (back.size() != data.size() - 2 || !std::equal(back.begin(), back.end(), data.begin())) {
        return std::nullopt;
    }
    // Where wchar_t holds UTF-16 an unpaired surrogate survives the conversion above, but not the
    // UTF-8 of the file.
    if (Utf8ToWide(WideToUtf8(text)) != text) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

namespace {

void AppendHex(std::string* out, std::string_view prefix, const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::size_t column = prefix.size();
    out->append(prefix);
    for (std::size_t i = 0; i < data.size(); ++i) {
        bool last = i + 1 == data.size();
        // Room for "xx," and the continuation backslash.
        if (column + 4 > kHexLineWidth && i > 0) {
            out->append("\\\n  ");
            column = 2;
        }
        out->push_back(kDigits[data[i] >> 4]);
        out->push_back(kDigits[data[i] & 0xF]);
        column += 2;
        if (!last) {
            out->push_back(',');
            ++column;
        }
    }
}

}  // namespace

void AppendValue(std::string* out, const RegFileValue& value) {
    std::string prefix = value.name.empty() ? std::string("@=") : Quote(value.name) + "=";
    if (value.type == kTypeSz) {
        if (auto text = QuotableText(value.data)) {
            out->append(prefix);
            out->append(Quote(*text));
            out->push_back('\n');
            return;
        }
    } else if (value.type == kTypeDword && value.data.size() == 4) {
        std::uint32_t n = static_cast<std::uint32_t>(value.data[0]) |
                          (static_cast<std::uint32_t>(value.data[1]) << 8) |
                          (static_cast<std::uint32_t>(value.data[2]) << 16) |
                          (static_cast<std::uint32_t>(value.data[3]) << 24);
        static constexpr char kDigits[] = "0123456789abcdef";
        out->append(prefix);
        out->append("dword:");
        for (int shift = 28; shift >= 0; shift -= 4) {
            out->push_back(kDigits[(n >> shift) & 0xF]);
        }
        out->push_back('\n');
        return;
    }
    if (value.type == kTypeBinary) {
        prefix += "hex:";
    } else {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string type;
        std::uint32_t t = value.type;
        do {
            type.insert(type.begin(), kDigits[t & 0xF]);
            t >>= 4;
        } while (t != 0);
        prefix += "hex(" + type + "):";
    }
    AppendHex(out, prefix, value.data);
    out->push_back('\n');
}

// Checks a block's key path: root name first, no empty parts, no control characters. Returns the
// path with its root name in the canonical (upper) case, or null with `error` set.
std::optional<std::wstring> CheckKeyPath(std::wstring_view path, std::wstring* error) {
    for (wchar_t c : path) {
        if (static_cast<std::uint32_t>(c) < 0x20) {
            *error = L"a key name holds a control character";
            return std::nullopt;
        }
    }
    std::size_t slash = path.find(L'\\');
    std::wstring_view root = path.substr(0, slash);
    auto known = std::find_if(kRootNames.begin(), kRootNames.end(), [root](std::wstring_view r) {
        return CRegFile::NamesEqual(r, root);
    });
    if (known == kRootNames.end()) {
        *error = L"the key does not start with a registry root such as HKEY_LOCAL_MACHINE";
        return std::nullopt;
    }
    if (slash != std::wstring_view::npos) {
        std::wstring_view rest = path.substr(slash + 1);
        if (rest.empty() || rest.front() == L'\\' || rest.back() == L'\\' ||
            rest.find(L"\\\\") != std::wstring_view::npos) {
            *error = L"the key path has an empty name between backslashes";
            return std::nullopt;
        }
    }
    std::wstring out(*known);
    if (slash != std::wstring_view::npos) {
        out.append(path.substr(slash));
    }
    return out;
}

}  // namespace platform::regfile
