#include "traps/Cp932Converter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Source = CCp932Converter::Source;

TEST(Cp932ConverterTest, TablesHoldEveryCodePosition) {
    // 0x20-0x7F, 0x80, 0xA0, 0xA1-0xDF, and 60 lead bytes with 188 trail bytes each.
    EXPECT_EQ(CCp932Converter::RowCount(), 96u + 1 + 1 + 63 + 60 * 188);
}

TEST(Cp932ConverterTest, WellFormednessChecks) {
    struct Case {
        std::string bytes;
        bool utf8;
        bool shiftJis;
        bool eucJp;
    };
    const Case cases[] = {
        {"", true, true, true},
        {"abc ~", true, true, true},
        {"\x7F", false, false, false},
        {"ab\0\xFF", true, true, true},  // the check ends at the first NUL
        // UTF-8 forms
        {"\xC2\x80", true, false, false},
        {"\xC1\xBF", false, false, true},
        {"\xE0\xA0\x80", true, false, false},
        {"\xE0\x9F\x80", false, false, false},
        {"\xED\xBF\xBF", true, false, false},
        {"\xF0\x90\x80\x80", true, false, false},
        {"\xF0\x8F\x80\x80", false, false, false},
        {"\xF3\xBF\xBF\xBF", true, false, true},
        {"\xF4\x8F\xBF\xBF", true, false, false},
        {"\xF4\x90\x80\x80", false, false, false},
        {"\xF5\x80\x80\x80", false, false, false},
        {"\xE6\x97", false, true, false},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", true, false, false},
        // Shift-JIS forms (half-width katakana and leads F0-FC are not taken)
        {"\x93\xFA\x96\x7B\x8C\xEA", false, true, false},
        {"\x81\x40\x9F\xFC\xE0\x40\xEF\xFC", false, true, false},
        {"\x81\x7F", false, true, false},
        {"\x81\x3F", false, false, false},
        {"\x81\xFD", false, false, false},
        {"\xF0\x40", false, false, false},
        {"\xB1", false, false, false},
        {"\x93", false, false, false},
        // EUC-JP forms (8E and 8F forms are not taken)
        {"\xC6\xFC\xCB\xDC\xB8\xEC", false, false, true},
        {"\xA1\xA1\xFE\xFE", false, false, true},
        {"\xA1\xA0", false, false, false},
        {"\x8E\xB1", false, true, false},
        {"\x8F\xA1\xA1", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(CCp932Converter::IsWellFormedUtf8(c.bytes), c.utf8);
        EXPECT_EQ(CCp932Converter::IsWellFormedShiftJis(c.bytes), c.shiftJis);
        EXPECT_EQ(CCp932Converter::IsWellFormedEucJp(c.bytes), c.eucJp);
    }
}

TEST(Cp932ConverterTest, ConvertsThroughTheFirstMatchingRow) {
    struct Case {
        Source source;
        std::string bytes;
        std::string cp932;
    };
    const Case cases[] = {
        {Source::kUtf8, "abc", "abc"},
        {Source::kUtf8, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\x93\xFA\x96\x7B\x8C\xEA"},
        {Source::kUtf8, "\xEF\xBD\xB1", "\xB1"},                  // half-width katakana
        {Source::kUtf8, "\xE3\x80\x80", "\x81\x40"},              // ideographic space
        {Source::kUtf8, "\xEF\xBF\xA2", "\x81\xCA"},              // also at EEF9 and FA54
        {Source::kUtf8, "\xE2\x88\xB5", "\x81\xE6"},              // also at 879A and FA5B
        {Source::kUtf8, "\xE2\x91\xA0", "\x87\x40"},              // circled digit one
        {Source::kUtf8, "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // no row: bytes copied
        {Source::kUtf8,
         "a\x01"
         "b",
         "a\x01"
         "b"},                                                      // below 0x20: copied
        {Source::kUtf8, "\xE3\x81\x82\0\xE3\x81\x84", "\x82\xA0"},  // ends at NUL
        {Source::kEucJp, "\xC6\xFC\xCB\xDC\xB8\xEC", "\x93\xFA\x96\x7B\x8C\xEA"},
        {Source::kEucJp, "\xA1\xA1x", "\x81\x40x"},
        {Source::kEucJp, "\xA2\xCC", "\x81\xCA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(CCp932Converter::ToCp932(c.source, c.bytes, 64), c.cp932);
    }
}

TEST(Cp932ConverterTest, StopsWhenTheOutputIsFullWithoutHalfCharacters) {
    const std::string nihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
    EXPECT_EQ(CCp932Converter::ToCp932(Source::kUtf8, nihongo, 5), "\x93\xFA\x96\x7B");
    EXPECT_EQ(CCp932Converter::ToCp932(Source::kUtf8, nihongo, 1), "");
    EXPECT_EQ(CCp932Converter::ToCp932(Source::kUtf8, "abcdef", 4), "abcd");

    EXPECT_EQ(CCp932Converter::FittingLength("\x93\xFA\x96\x7B", 3), 2u);
    EXPECT_EQ(CCp932Converter::FittingLength("a\x93\xFA", 2), 1u);
    EXPECT_EQ(CCp932Converter::FittingLength("abc", 10), 3u);
    EXPECT_EQ(CCp932Converter::FittingLength("a\x93", 5), 2u);  // a lone lead byte at the end
}

}  // namespace
