// The system message formatter, written out in full so that every platform formats the same way.
//
// Patterns come from the program's resources but also from settings and from the network through
// the texts they carry, so the formatter reads the pattern only through bounds-checked indices,
// never trusts an insert number or a field width, and refuses what it cannot format rather than
// guessing.
#include "platform/MessageFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
namespace {

// Widest field width or precision accepted. Real messages use a few columns; a larger value only
// makes a hostile pattern allocate without bound.
constexpr std::int64_t kMaxField = 4096;

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// One printf format between the exclamation marks of "%n!...!".
struct FieldFormat {
    bool leftAlign = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool alternate = false;
    bool zeroPad = false;
    bool widthFromArg = false;
    bool precisionFromArg = false;
    std::int64_t width = 0;
    std::int64_t precision = -1;  // -1: none given
    int bits = 32;                // integer size: h 16, hh 8, none/l 32, ll/I64 64
    wchar_t conversion = L's';
};

// Reads a decimal field width or precision at `pos`. False when it exceeds kMaxField.
bool ReadField(std::wstring_view pattern, std::size_t& pos, std::int64_t& value) {
    value = 0;
    while (pos < pattern.size() && IsDigit(pattern[pos])) {
        value = value * 10 + (pattern[pos] - L'0');
        if (value > kMaxField) {
            return false;
        }
        ++pos;
    }
    return true;
}

// Reads the length modifier at `pos` into `bits`. Only the sizes of integers matter here: every
// string and character argument is wide text.
void ReadLengthModifier(std::wstring_view pattern, std::size_t& pos, int& bits) {
    auto at = [&](std::size_t i) { return pos + i < pattern.size() ? pattern[pos + i] : L'\0'; };
    if (at(0) == L'h') {
        bits = at(1) == L'h' ? 8 : 16;
        pos += at(1) == L'h' ? 2 : 1;
    } else if (at(0) == L'l') {
        bits = at(1) == L'l' ? 64 : 32;
        pos += at(1) == L'l' ? 2 : 1;
    } else if (at(0) == L'I') {
        if (at(1) == L'6' && at(2) == L'4') {
            bits = 64;
            pos += 3;
        } else if (at(1) == L'3' && at(2) == L'2') {
            bits = 32;
            pos += 3;
        } else {
            bits = 64;  // pointer-sized
            pos += 1;
        }
    } else if (at(0) == L'z' || at(0) == L'j' || at(0) == L't') {
        bits = 64;
        pos += 1;
    } else if (at(0) == L'w') {
        pos += 1;  // wide character or string
    }
}

// Parses the printf format of an insert. `pos` is just past the opening '!'; on success it is
// just past the closing '!'.
bool ParseFieldFormat(std::wstring_view pattern, std::size_t& pos, FieldFormat& format) {
    for (; pos < pattern.size(); ++pos) {
        wchar_t c = pattern[pos];
        if (c == L'-') {
            format.leftAlign = true;
        } else if (c == L'+') {
            format.plusSign = true;
        } else if (c == L' ') {
            format.spaceSign = true;
        } else if (c == L'#') {
            format.alternate = true;
        } else if (c == L'0') {
            format.zeroPad = true;
        } else {
            break;
        }
    }
    if (pos < pattern.size() && pattern[pos] == L'*') {
        format.widthFromArg = true;
        ++pos;
    } else if (!ReadField(pattern, pos, format.width)) {
        return false;
    }
    if (pos < pattern.size() && pattern[pos] == L'.') {
        ++pos;
        if (pos < pattern.size() && pattern[pos] == L'*') {
            format.precisionFromArg = true;
            ++pos;
        } else if (!ReadField(pattern, pos, format.precision)) {
            return false;
        }
    }
    ReadLengthModifier(pattern, pos, format.bits);
    if (pos >= pattern.size()) {
        return false;
    }
    format.conversion = pattern[pos++];
    switch (format.conversion) {
        case L's':
        case L'S':
        case L'c':
        case L'C':
        case L'd':
        case L'i':
        case L'u':
        case L'x':
        case L'X':
        case L'o':
            break;
        default:
            return false;  // floating point, pointers and unknown letters have no argument here
    }
    if (pos >= pattern.size() || pattern[pos] != L'!') {
        return false;
    }
    ++pos;
    return true;
}

const std::int64_t* IntegerArg(std::span<const MessageArg> args, std::size_t index) {
    return index < args.size() ? std::get_if<std::int64_t>(&args[index]) : nullptr;
}

// Pads `body` to the field width. Zeros go after `prefix` (sign or 0x), blanks before it.
void AppendPadded(std::wstring& out, const FieldFormat& format, std::wstring_view prefix,
                  std::wstring_view body, bool zeroPad) {
    std::size_t length = prefix.size() + body.size();
    std::size_t width = static_cast<std::size_t>(format.width);
    std::size_t fill = width > length ? width - length : 0;
    if (format.leftAlign) {
        out.append(prefix).append(body).append(fill, L' ');
    } else if (zeroPad) {
        out.append(prefix).append(fill, L'0').append(body);
    } else {
        out.append(fill, L' ').append(prefix).append(body);
    }
}

void AppendInteger(std::wstring& out, const FieldFormat& format, std::int64_t value) {
    bool isSigned = format.conversion == L'd' || format.conversion == L'i';
    bool negative = false;
    std::uint64_t magnitude = 0;
    // The argument is read at the size the format names, as printf reads it from the argument
    // slot: "%d" sees the low 32 bits.
    if (isSigned) {
        std::int64_t v = value;
        switch (format.bits) {
            case 8:
                v = static_cast<std::int8_t>(value);
                break;
            case 16:
                v = static_cast<std::int16_t>(value);
                break;
            case 32:
                v = static_cast<std::int32_t>(value);
                break;
            default:
                break;
        }
        negative = v < 0;
        magnitude = negative ? ~static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
    } else {
        std::uint64_t u = static_cast<std::uint64_t>(value);
        if (format.bits < 64) {
            u &= (std::uint64_t{1} << format.bits) - 1;
        }
        magnitude = u;
    }

    unsigned base = 10;
    const wchar_t* digitSet = L"0123456789abcdef";
    if (format.conversion == L'x') {
        base = 16;
    } else if (format.conversion == L'X') {
        base = 16;
        digitSet = L"0123456789ABCDEF";
    } else if (format.conversion == L'o') {
        base = 8;
    }
    std::wstring digits;
    for (std::uint64_t m = magnitude; m != 0; m /= base) {
        digits.insert(digits.begin(), digitSet[m % base]);
    }
    std::size_t precision = format.precision < 0 ? 1 : static_cast<std::size_t>(format.precision);
    if (digits.size() < precision) {
        digits.insert(0, precision - digits.size(), L'0');
    }
    if (format.conversion == L'o' && format.alternate && (digits.empty() || digits[0] != L'0')) {
        digits.insert(digits.begin(), L'0');
    }

    std::wstring prefix;
    if (isSigned) {
        if (negative) {
            prefix = L"-";
        } else if (format.plusSign) {
            prefix = L"+";
        } else if (format.spaceSign) {
            prefix = L" ";
        }
    } else if (base == 16 && format.alternate && magnitude != 0) {
        prefix = format.conversion == L'X' ? L"0X" : L"0x";
    }
    AppendPadded(out, format, prefix, digits, format.zeroPad && format.precision < 0);
}

void AppendString(std::wstring& out, const FieldFormat& format, std::wstring_view text) {
    if (format.precision >= 0 && text.size() > static_cast<std::size_t>(format.precision)) {
        text = text.substr(0, static_cast<std::size_t>(format.precision));
    }
    AppendPadded(out, format, {}, text, format.zeroPad);
}

// Formats insert `number` with `format` into `out`. False when the arguments do not fit.
bool AppendInsert(std::wstring& out, std::size_t number, FieldFormat format,
                  std::span<const MessageArg> args) {
    // A '*' takes the width or precision from the argument at the insert's place; the value then
    // follows in the next argument.
    std::size_t index = number - 1;
    if (format.widthFromArg) {
        const std::int64_t* width = IntegerArg(args, index++);
        if (width == nullptr || *width < -kMaxField || *width > kMaxField) {
            return false;
        }
        format.width = *width < 0 ? -*width : *width;
        format.leftAlign = format.leftAlign || *width < 0;
    }
    if (format.precisionFromArg) {
        const std::int64_t* precision = IntegerArg(args, index++);
        if (precision == nullptr || *precision > kMaxField) {
            return false;
        }
        format.precision = *precision < 0 ? -1 : *precision;
    }
    if (index >= args.size()) {
        return false;
    }
    const MessageArg& arg = args[index];
    switch (format.conversion) {
        case L's':
        case L'S':
            if (const std::wstring* text = std::get_if<std::wstring>(&arg)) {
                AppendString(out, format, *text);
                return true;
            }
            return false;
        case L'c':
        case L'C':
            if (const std::int64_t* code = std::get_if<std::int64_t>(&arg)) {
                // A character argument is one UTF-16 unit; a zero ends the C string it makes.
                wchar_t c = static_cast<wchar_t>(static_cast<std::uint16_t>(*code));
                AppendString(out, format,
                             c == L'\0' ? std::wstring_view() : std::wstring_view(&c, 1));
                return true;
            }
            return false;
        default:
            if (const std::int64_t* value = std::get_if<std::int64_t>(&arg)) {
                AppendInteger(out, format, *value);
                return true;
            }
            return false;
    }
}

}  // namespace

std::optional<std::wstring> FormatMessageText(std::wstring_view pattern,
                                              std::span<const MessageArg> args) {
    std::wstring out;
    out.reserve(pattern.size());
    std::size_t pos = 0;
    while (pos < pattern.size()) {
        wchar_t c = pattern[pos];
        if (c == L'\r') {
            // Line ends of the pattern come out as CR LF, whatever they were.
            out.append(L"\r\n");
            pos += (pos + 1 < pattern.size() && pattern[pos + 1] == L'\n') ? 2 : 1;
            continue;
        }
        if (c == L'\n') {
            out.append(L"\r\n");
            ++pos;
            continue;
        }
        if (c != L'%') {
            out.push_back(c);
            ++pos;
            continue;
        }
        if (pos + 1 >= pattern.size()) {
            return std::nullopt;  // a lone percent sign at the end
        }
        wchar_t escape = pattern[pos + 1];
        pos += 2;
        if (escape >= L'1' && escape <= L'9') {
            // One or two digits: %1 .. %99; a third digit is text.
            std::size_t number = static_cast<std::size_t>(escape - L'0');
            if (pos < pattern.size() && IsDigit(pattern[pos])) {
                number = number * 10 + static_cast<std::size_t>(pattern[pos] - L'0');
                ++pos;
            }
            FieldFormat format;
            if (pos < pattern.size() && pattern[pos] == L'!') {
                ++pos;
                if (!ParseFieldFormat(pattern, pos, format)) {
                    return std::nullopt;
                }
            }
            if (!AppendInsert(out, number, format, args)) {
                return std::nullopt;
            }
        } else if (escape == L'0') {
            break;  // the text ends here
        } else if (escape == L'n') {
            out.append(L"\r\n");
        } else if (escape == L'r') {
            out.push_back(L'\r');
        } else if (escape == L't') {
            out.push_back(L'\t');
        } else {
            // "%%", "% ", "%.", "%!" and any other character stand for themselves.
            out.push_back(escape);
        }
    }
    return out;
}

}  // namespace platform
