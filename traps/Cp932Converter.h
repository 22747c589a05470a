// Japanese text in OCTET STRING values: the well-formedness checks of UTF-8, Shift-JIS and
// EUC-JP, and the conversion of UTF-8 and EUC-JP into code page 932 through tables generated at
// build time from the code page 932 character set.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class CCp932Converter {
  public:
    enum class Source { kUtf8, kEucJp };

    // The checks run over `bytes` up to its first NUL. A byte below 0x7F stands for itself;
    // 0x7F is accepted by none of them.
    // UTF-8: C2-DF + 1 continuation; E0 + A0-BF + 1; E1-EF + 2; F0 + 90-BF + 2; F1-F3 + 3;
    // F4 + 80-8F + 2 (continuation 80-BF).
    static bool IsWellFormedUtf8(std::string_view bytes);
    // Shift-JIS: lead 81-9F or E0-EF, then trail 40-FC.
    static bool IsWellFormedShiftJis(std::string_view bytes);
    // EUC-JP: lead A1-FE, then trail A1-FE.
    static bool IsWellFormedEucJp(std::string_view bytes);

    // `bytes` (up to its first NUL) converted to code page 932. At each position whose byte is
    // 0x20 or above, the first table row (in code page 932 order) whose `source` form matches
    // the input there gives the code page 932 form; any other byte is copied as it is. Writes
    // at most `limit` bytes and never half of a character.
    static std::string ToCp932(Source source, std::string_view bytes, std::size_t limit);

    // The longest prefix of the code page 932 text `text` that fits in `limit` bytes without
    // cutting a double-byte character.
    static std::size_t FittingLength(std::string_view text, std::size_t limit);

    // Number of rows of the conversion tables (without the empty end row).
    static std::size_t RowCount();
};
