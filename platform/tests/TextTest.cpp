#include <gtest/gtest.h>

#include "platform/Text.h"

namespace {

TEST(TextTest, Utf16LengthCountsSurrogatePairs) {
    EXPECT_EQ(platform::Utf16Length(L""), 0u);
    EXPECT_EQ(platform::Utf16Length(L"abc"), 3u);
    EXPECT_EQ(platform::Utf16Length(L"日本語"), 3u);
    EXPECT_EQ(platform::Utf16Length(L"a\U0001F600b"), 4u);
}

struct CodePageCase {
    const wchar_t* wide;
    const char* cp932;
};

TEST(TextTest, CodePage932RoundTrips) {
    const CodePageCase cases[] = {
        {L"abc", "abc"},
        {L"日本語", "\x93\xfa\x96\x7b\x8c\xea"},
        {L"ｱｲｳ", "\xb1\xb2\xb3"},      // half-width katakana are single bytes
        {L"①～", "\x87\x40\x81\x60"},  // NEC special and the Windows wave dash mapping
        {L"\\", "\\"},
    };
    for (const auto& c : cases) {
        bool usedDefault = true;
        EXPECT_EQ(platform::WideToCodePage(platform::kCodePage932, c.wide, &usedDefault), c.cp932);
        EXPECT_FALSE(usedDefault);
        EXPECT_EQ(platform::CodePageToWide(platform::kCodePage932, c.cp932), c.wide);
    }
}

TEST(TextTest, UnmappableCharactersBecomeTheDefaultCharacter) {
    bool usedDefault = false;
    EXPECT_EQ(
        platform::WideToCodePage(platform::kCodePage932, L"a\u00e9b\U0001F600c", &usedDefault),
        "a?b?c");
    EXPECT_TRUE(usedDefault);
    // A lone lead byte and a bad trail byte do not stop the conversion.
    std::wstring wide = platform::CodePageToWide(platform::kCodePage932, "a\x93");
    EXPECT_EQ(wide.substr(0, 1), L"a");
    EXPECT_GE(wide.size(), 2u);
}

TEST(TextTest, Utf8RoundTripAndMalformedInput) {
    std::wstring text = L"CR\r\nLF 日本 \U0001F600";
    EXPECT_EQ(platform::Utf8ToWide(platform::WideToUtf8(text)), text);
    EXPECT_EQ(platform::Utf8ToWide("a\xff"
                                   "b"),
              L"a\uFFFDb");
    EXPECT_EQ(platform::Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

// Every ASCII code, alone and in text that also holds other characters (before, after, only one),
// converts the same in both directions of both code pages, NUL included.
TEST(TextTest, AsciiConvertsUnchangedAloneAndBesideOtherCharacters) {
    for (int code = 0; code < 0x80; ++code) {
        const std::string narrow(1, static_cast<char>(code));
        const std::wstring wide(1, static_cast<wchar_t>(code));
        for (unsigned page : {platform::kCodePage932, platform::kCodePageUtf8}) {
            EXPECT_EQ(platform::CodePageToWide(page, narrow), wide) << page << " " << code;
            EXPECT_EQ(platform::WideToCodePage(page, wide), narrow) << page << " " << code;
        }
        EXPECT_EQ(platform::Utf8ToWide(narrow), wide) << code;
        EXPECT_EQ(platform::WideToUtf8(wide), narrow) << code;
    }
    struct Case {
        std::string cp932;
        std::string utf8;
        std::wstring wide;
    };
    const Case cases[] = {
        {"\\~linkDown\x82\xA0", "\\~linkDown\xE3\x81\x82", L"\\~linkDown\u3042"},
        {"\x82\xA0 V2c", "\xE3\x81\x82 V2c", L"\u3042 V2c"},
        {"\x82\xA0", "\xE3\x81\x82", L"\u3042"},
        {std::string("a\0b", 3), std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
        {"", "", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::CodePageToWide(platform::kCodePage932, c.cp932), c.wide);
        EXPECT_EQ(platform::WideToCodePage(platform::kCodePage932, c.wide), c.cp932);
        EXPECT_EQ(platform::Utf8ToWide(c.utf8), c.wide);
        EXPECT_EQ(platform::WideToUtf8(c.wide), c.utf8);
    }
    // A byte above 0x7F that is no UTF-8 still takes the replacement after ASCII text. (Code
    // page 932's undefined bytes differ between the systems: Windows maps 0xFF to a private-use
    // character.)
    EXPECT_EQ(platform::Utf8ToWide("ok\xFF"), L"ok\uFFFD");
}

}  // namespace
