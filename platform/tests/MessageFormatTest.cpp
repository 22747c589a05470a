#include "platform/MessageFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using platform::FormatMessageText;
using platform::MessageArg;

struct FormatCase {
    const wchar_t* pattern;
    std::vector<MessageArg> args;
    std::optional<std::wstring> expected;
};

std::string Describe(const FormatCase& c) {
    std::string text;
    for (const wchar_t* p = c.pattern; *p != L'\0'; ++p) {
        text += *p < 0x80 ? static_cast<char>(*p) : '?';
    }
    return text;
}

void Check(const std::vector<FormatCase>& cases) {
    for (const FormatCase& c : cases) {
        std::optional<std::wstring> actual = FormatMessageText(c.pattern, c.args);
        if (c.expected) {
            ASSERT_TRUE(actual.has_value()) << Describe(c);
            EXPECT_EQ(*actual, *c.expected) << Describe(c);
        } else {
            EXPECT_FALSE(actual.has_value()) << Describe(c);
        }
    }
}

MessageArg S(const wchar_t* text) {
    return std::wstring(text);
}

MessageArg N(std::int64_t value) {
    return value;
}

TEST(MessageFormatTest, InsertsTextAndNumbers) {
    Check({
        {L"plain", {}, L"plain"},
        {L"", {}, L""},
        {L"%1", {S(L"test")}, L"test"},
        {L"%1!s!", {S(L"test")}, L"test"},
        {L"%1!ls!%1!ws!%1!S!", {S(L"ab")}, L"ababab"},
        {L"%1%2", {S(L"te"), S(L"st")}, L"test"},
        {L"%1%3%2%1", {S(L"t"), S(L"s"), S(L"e")}, L"test"},
        {L"%2 then %1", {S(L"a"), S(L"b")}, L"b then a"},
        {L"{ %1!s! }\r\nエラーコード[%2!d!]\r\nエラーメッセージ :\r\n%3!s!",
         {S(L"C:\\tmp\\x.txt"), N(32), S(L"使用中です")},
         L"{ C:\\tmp\\x.txt }\r\nエラーコード[32]\r\nエラーメッセージ :\r\n使用中です"},
        {L"%1!d!%2!d!%3!d!", {N(1), N(2), N(3)}, L"123"},
        {L"%1!d!", {N(-5)}, L"-5"},
        {L"%1!i!", {N(42)}, L"42"},
        {L"%1!u!", {N(-1)}, L"4294967295"},  // "%u" reads 32 bits
        {L"%1!d!", {N(0x100000001LL)}, L"1"},
        {L"%1!I64d!", {N(0x100000001LL)}, L"4294967297"},
        {L"%1!lld!", {N(-9223372036854775807LL - 1)}, L"-9223372036854775808"},
        {L"%1!I64u!", {N(-1)}, L"18446744073709551615"},
        {L"%1!hd!", {N(65535)}, L"-1"},
        {L"%1!x!", {N(255)}, L"ff"},
        {L"%1!X!", {N(0x1ab)}, L"1AB"},
        {L"%1!#x!", {N(255)}, L"0xff"},
        {L"%1!#x!", {N(0)}, L"0"},
        {L"%1!o!", {N(8)}, L"10"},
        {L"%1!#o!", {N(8)}, L"010"},
        {L"%1!08X!", {N(0xC00017DB)}, L"C00017DB"},
        {L"%1!4d!", {N(1)}, L"   1"},
        {L"%1!-4d!|", {N(1)}, L"1   |"},
        {L"%1!05d!", {N(-42)}, L"-0042"},
        {L"%1!+d! %1!+d!", {N(7)}, L"+7 +7"},
        {L"%1! d!", {N(7)}, L" 7"},
        {L"%1!4.2u!", {N(3)}, L"  03"},
        {L"%1!.0d!", {N(0)}, L""},
        {L"%1!5d!", {N(-2147483648LL)}, L"-2147483648"},
        {L"%1!3s!", {S(L"t")}, L"  t"},
        {L"%1!-10s!|", {S(L"abc")}, L"abc       |"},
        {L"%1!.2s!", {S(L"abcdef")}, L"ab"},
        {L"%1!c!%2!c!%3!c!%1!C!", {N('t'), N('e'), N('s')}, L"test"},
        {L"%1!wc!", {N(0x3042)}, L"\u3042"},
        {L"[%1!c!]", {N(0)}, L"[]"},
        {L"%1!*s!", {N(4), S(L"t")}, L"   t"},
        {L"%1!*.*u!", {N(5), N(3), N(1)}, L"  001"},
        {L"%1!-*d!|", {N(3), N(1)}, L"1  |"},
        {L"%1!*d!|", {N(-3), N(1)}, L"1  |"},
        {L"%10",
         {S(L"1"), S(L"2"), S(L"3"), S(L"4"), S(L"5"), S(L"6"), S(L"7"), S(L"8"), S(L"9"),
          S(L"ten")},
         L"ten"},
        {L"%100",
         {S(L"1"), S(L"2"), S(L"3"), S(L"4"), S(L"5"), S(L"6"), S(L"7"), S(L"8"), S(L"9"),
          S(L"ten")},
         L"ten0"},
        // Inserted text is not formatted again.
        {L"%1", {S(L"%2 and 100% and %n\n")}, L"%2 and 100% and %n\n"},
    });
}

TEST(MessageFormatTest, EscapesAndLineEnds) {
    Check({
        {L" %%%% ", {}, L" %% "},
        {L"100%%", {}, L"100%"},
        {L" %.%.  %1!d!", {N(0x1ab)}, L" ..  427"},
        {L"yah%!%0   ", {}, L"yah!"},
        {L"% %   ", {}, L"    "},
        {L"%n%r%t", {}, L"\r\n\r\t"},
        {L"%q", {}, L"q"},
        {L"test%0test", {}, L"test"},
        {L"%0", {}, L""},
        {L"%0%1", {}, L""},  // nothing after %0 is read, not even a missing insert
        {L"hi\n", {}, L"hi\r\n"},
        {L"hi\r\n", {}, L"hi\r\n"},
        {L"\r", {}, L"\r\n"},
        {L"\r\r\n", {}, L"\r\n\r\n"},
        {L"VORMA SNMP マネージャーサービス 開始しました\r\n",
         {},
         L"VORMA SNMP マネージャーサービス 開始しました\r\n"},
    });
}

TEST(MessageFormatTest, FailsWhereTheSystemFormatterFails) {
    Check({
        // An insert names an argument that is not there.
        {L"%1", {}, std::nullopt},
        {L"%1!s!", {}, std::nullopt},
        {L"%2", {S(L"one")}, std::nullopt},
        {L"%99", {S(L"one")}, std::nullopt},
        {L"%1!*s!", {N(4)}, std::nullopt},
        {L"%1!*.*u!", {N(5), N(3)}, std::nullopt},
        // A lone percent sign at the end.
        {L"%", {}, std::nullopt},
        {L"test%", {}, std::nullopt},
        // A format that does not fit its argument.
        {L"%1", {N(5)}, std::nullopt},
        {L"%1!s!", {N(5)}, std::nullopt},
        {L"%1!d!", {S(L"5")}, std::nullopt},
        {L"%1!c!", {S(L"x")}, std::nullopt},
        {L"%1!*s!", {S(L"4"), S(L"t")}, std::nullopt},
        // Malformed formats.
        {L"%1!", {S(L"x")}, std::nullopt},
        {L"%1!!", {S(L"x")}, std::nullopt},
        {L"%1!s", {S(L"x")}, std::nullopt},
        {L"%1!sx!", {S(L"x")}, std::nullopt},
        {L"%1!q!", {S(L"x")}, std::nullopt},
        {L"%1!f!", {N(1)}, std::nullopt},
        {L"%1!p!", {N(1)}, std::nullopt},
        {L"%1!n!", {N(1)}, std::nullopt},
        {L"%1!-", {N(1)}, std::nullopt},
        {L"%1!5.", {N(1)}, std::nullopt},
        {L"%1!I6", {N(1)}, std::nullopt},
        // Field widths that only make memory run out.
        {L"%1!99999999999999999999d!", {N(1)}, std::nullopt},
        {L"%1!.99999999999999999999s!", {S(L"x")}, std::nullopt},
        {L"%1!*d!", {N(1'000'000'000), N(1)}, std::nullopt},
        {L"%1!*d!", {N(-9223372036854775807LL - 1), N(1)}, std::nullopt},
    });
}

TEST(MessageFormatTest, ReadsTextWithEmbeddedNulsByLength) {
    std::wstring pattern(L"a\0%1", 4);
    std::vector<MessageArg> args{std::wstring(L"x\0y", 3)};
    std::optional<std::wstring> text = FormatMessageText(pattern, args);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, std::wstring(L"a\0x\0y", 5));
}

// Random patterns made of the characters that matter to the formatter. The formatter must neither
// crash nor read outside its input (the sanitizer build checks that), and its output is bounded by
// the pattern, the arguments and the widest field it accepts.
TEST(MessageFormatTest, SurvivesHostilePatterns) {
    const std::wstring alphabet = L"%%%!!!0123456789.*-+# sdiuxXocCSlhIw6432zq\r\nあ";
    const std::vector<MessageArg> argSets[] = {
        {},
        {S(L"text"), N(-12), S(L"")},
        {N(4), N(3), N(2), S(L"long insertion text"), N(0)},
    };
    std::mt19937 random(20261208);
    std::size_t formatted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::wstring pattern;
        std::size_t length = random() % 24;
        for (std::size_t i = 0; i < length; ++i) {
            pattern.push_back(alphabet[random() % alphabet.size()]);
        }
        const std::vector<MessageArg>& args = argSets[round % 3];
        std::optional<std::wstring> text = FormatMessageText(pattern, args);
        if (text) {
            ++formatted;
            std::size_t inserts = pattern.size();  // at most one insert per two characters
            EXPECT_LE(text->size(), 2 * pattern.size() + inserts * (4096 + 64))
                << "pattern of " << pattern.size() << " characters";
        }
    }
    // The sweep is only worth its time when it reaches the formatting code, not just the refusals.
    EXPECT_GT(formatted, 1000u);
}

}  // namespace
