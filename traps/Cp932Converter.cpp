#include "traps/Cp932Converter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace {

#include "traps/Cp932Tables.inc"

std::string_view UpToNul(std::string_view bytes) {
    const std::size_t nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
    return c >= low && c <= high;
}

// A row's source form of 1 to 3 bytes as one number (length in the top byte).
std::uint32_t Key(const unsigned char* bytes, std::size_t length) {
    std::uint32_t key = static_cast<std::uint32_t>(length) << 24;
    for (std::size_t i = 0; i < length; ++i) {
        key |= static_cast<std::uint32_t>(bytes[i]) << (8 * (2 - i));
    }
    return key;
}

// Source form -> first row (in table order) that holds it; the same answer as searching the
// rows in order, without the search.
class CRowIndex {
  public:
    explicit CRowIndex(const char (*column)[4]) {
        m_rows.reserve(kCp932TableRows);
        for (std::size_t row = 0; row < kCp932TableRows; ++row) {
            const std::size_t length = std::strlen(column[row]);
            if (length > 0) {
                m_rows.emplace(Key(reinterpret_cast<const unsigned char*>(column[row]), length),
                               static_cast<std::uint32_t>(row));
            }
        }
    }

    // The first row whose form matches `input` at its start, and the form's length; false when
    // none does.
    bool Match(const unsigned char* input, std::size_t available, std::uint32_t* row,
               std::size_t* length) const {
        bool found = false;
        for (std::size_t n = 1; n <= 3 && n <= available; ++n) {
            auto it = m_rows.find(Key(input, n));
            if (it != m_rows.end() && (!found || it->second < *row)) {
                *row = it->second;
                *length = n;
                found = true;
            }
        }
        return found;
    }

  private:
    std::unordered_map<std::uint32_t, std::uint32_t> m_rows;
};

const CRowIndex& IndexOf(CCp932Converter::Source source) {
    static const CRowIndex utf8(kUtf8Table);
    static const CRowIndex eucJp(kEucJpTable);
    return source == CCp932Converter::Source::kUtf8 ? utf8 : eucJp;
}

}  // namespace

bool CCp932Converter::IsWellFormedUtf8(std::string_view bytes) {
    const std::string_view text = UpToNul(bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    auto continuations = [&](std::size_t from, std::size_t count) {
        if (from + count > n) {
            return false;
        }
        for (std::size_t k = 0; k < count; ++k) {
            if (!InRange(p[from + k], 0x80, 0xBF)) {
                return false;
            }
        }
        return true;
    };
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        std::size_t width;
        if (c < 0x7F) {
            width = 1;
        } else if (InRange(c, 0xC2, 0xDF)) {
            width = 2;
            if (!continuations(i + 1, 1)) {
                return false;
            }
        } else if (c == 0xE0) {
            width = 3;
            if (i + 1 >= n || !InRange(p[i + 1], 0xA0, 0xBF) || !continuations(i + 2, 1)) {
                return false;
            }
        } else if (InRange(c, 0xE1, 0xEF)) {
            width = 3;
            if (!continuations(i + 1, 2)) {
                return false;
            }
        } else if (c == 0xF0) {
            width = 4;
            if (i + 1 >= n || !InRange(p[i + 1], 0x90, 0xBF) || !continuations(i + 2, 2)) {
                return false;
            }
        } else if (InRange(c, 0xF1, 0xF3)) {
            width = 4;
            if (!continuations(i + 1, 3)) {
                return false;
            }
        } else if (c == 0xF4) {
            width = 4;
            if (i + 1 >= n || !InRange(p[i + 1], 0x80, 0x8F) || !continuations(i + 2, 2)) {
                return false;
            }
        } else {
            return false;
        }
        i += width;
    }
    return true;
}

bool CCp932Converter::IsWellFormedShiftJis(std::string_view bytes) {
    const std::string_view text = UpToNul(bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x7F) {
            ++i;
        } else if (InRange(c, 0x81, 0x9F) || InRange(c, 0xE0, 0xEF)) {
            if (i + 1 >= n || !InRange(p[i + 1], 0x40, 0xFC)) {
                return false;
            }
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

bool CCp932Converter::IsWellFormedEucJp(std::string_view bytes) {
    const std::string_view text = UpToNul(bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x7F) {
            ++i;
        } else if (InRange(c, 0xA1, 0xFE)) {
            if (i + 1 >= n || !InRange(p[i + 1], 0xA1, 0xFE)) {
                return false;
            }
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

std::string CCp932Converter::ToCp932(Source source, std::string_view bytes, std::size_t limit) {
    const std::string_view text = UpToNul(bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const CRowIndex& index = IndexOf(source);
    std::string out;
    out.reserve(std::min(limit, n * 2));
    std::size_t i = 0;
    while (i < n) {
        std::uint32_t row = 0;
        std::size_t length = 0;
        if (p[i] >= 0x20 && index.Match(p + i, n - i, &row, &length)) {
            const char* form = kCp932Table[row];
            const std::size_t formLength = std::strlen(form);
            if (out.size() + formLength > limit) {
                break;
            }
            out.append(form, formLength);
            i += length;
        } else {
            if (out.size() + 1 > limit) {
                break;
            }
            out.push_back(static_cast<char>(p[i]));
            ++i;
        }
    }
    return out;
}

std::size_t CCp932Converter::FittingLength(std::string_view text, std::size_t limit) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t width = InRange(c, 0x81, 0x9F) || InRange(c, 0xE0, 0xFC) ? 2 : 1;
        if (i + width > text.size()) {
            width = 1;
        }
        if (i + width > limit) {
            break;
        }
        i += width;
    }
    return i;
}

std::size_t CCp932Converter::RowCount() {
    return kCp932TableRows;
}
