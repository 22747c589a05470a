#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "settings/OptionLine.h"

namespace {

using Lookups = std::vector<std::pair<std::wstring, std::wstring>>;  // name, expected value

struct LineCase {
    const wchar_t* line;
    OptionTokens tokens;
    Lookups found;                     // options that must be found, with their values
    std::vector<std::wstring> absent;  // names that must not be found
};

TEST(OptionLineTest, SplitsAndReadsOptions) {
    const LineCase cases[] = {
        {L"-v:2c -c:public -agent:192.168.0.10 -oid:1.3.6.1.2.1.1.3.0",
         {L"-v:2c", L"-c:public", L"-agent:192.168.0.10", L"-oid:1.3.6.1.2.1.1.3.0"},
         {{L"v", L"2c"}, {L"c", L"public"}, {L"agent", L"192.168.0.10"}},
         {L"V", L"age", L""}},
        // One or two leading - or / are dropped; with three the name keeps a dash.
        {L"/v:1 --c:x //u:y -/a:SHA ---e:z",
         {L"/v:1", L"--c:x", L"//u:y", L"-/a:SHA", L"---e:z"},
         {{L"v", L"1"}, {L"c", L"x"}, {L"u", L"y"}, {L"a", L"SHA"}, {L"-e", L"z"}},
         {L"e"}},
        // The first occurrence of a name counts; names are case-sensitive.
        {L"-v:1 -v:3 -a:x -A:y",
         {L"-v:1", L"-v:3", L"-a:x", L"-A:y"},
         {{L"v", L"1"}, {L"a", L"x"}, {L"A", L"y"}},
         {}},
        // The value follows a colon, never a blank; further colons belong to the value.
        {L"-v 2c -agent:udp6:[fe80::1]:161",
         {L"-v", L"2c", L"-agent:udp6:[fe80::1]:161"},
         {{L"v", L""}, {L"agent", L"udp6:[fe80::1]:161"}},
         {L"2c"}},
        // Leading colons of the name are skipped; a token that is only a dash has no name.
        {L"-::u:name - -- -:", {L"-::u:name", L"-", L"--", L"-:"}, {{L"u", L"name"}}, {L""}},
        // Words without a dash are ignored.
        {L"word -v:1 other", {L"word", L"-v:1", L"other"}, {{L"v", L"1"}}, {L"word"}},
        // Quotes group blanks and are not part of the value; "" gives an empty value.
        {L"-agent:\"udp:10.0.0.1:1161\" -c:\"a b\" -u:\"\" \"-x:DES\"",
         {L"-agent:udp:10.0.0.1:1161", L"-c:a b", L"-u:", L"-x:DES"},
         {{L"agent", L"udp:10.0.0.1:1161"}, {L"c", L"a b"}, {L"u", L""}, {L"x", L"DES"}},
         {}},
        // Backslash runs before a quote follow the Windows command line; others are literal.
        {L"-a:x\\y -b:\\\"q\\\" -c:\"x\\\\\" -d:\\\\\\\"",
         {L"-a:x\\y", L"-b:\"q\"", L"-c:x\\", L"-d:\\\""},
         {{L"a", L"x\\y"}, {L"b", L"\"q\""}, {L"c", L"x\\"}, {L"d", L"\\\""}},
         {}},
        // Runs of blanks separate; a TAB does not.
        {L"  -v:1\t-c:x   -u:y  ",
         {L"-v:1\t-c:x", L"-u:y"},
         {{L"v", L"1\t-c:x"}, {L"u", L"y"}},
         {L"c"}},
        {L"", {}, {}, {L"v"}},
    };
    for (const auto& c : cases) {
        OptionTokens tokens = SplitOptionLine(c.line);
        EXPECT_EQ(tokens, c.tokens) << c.line;
        for (const auto& [name, value] : c.found) {
            EXPECT_GE(FindOption(name, tokens), 0) << c.line << " / " << name;
            EXPECT_EQ(GetOptionValue(name, tokens), value) << c.line << " / " << name;
        }
        for (const auto& name : c.absent) {
            EXPECT_EQ(FindOption(name, tokens), -1) << c.line << " / " << name;
            EXPECT_EQ(GetOptionValue(name, tokens), L"") << c.line << " / " << name;
        }
    }
}

TEST(OptionLineTest, FindOptionGivesTheFirstIndex) {
    OptionTokens tokens = SplitOptionLine(L"x -v:1 -u:a -v:2");
    EXPECT_EQ(FindOption(L"v", tokens), 1);
    EXPECT_EQ(FindOption(L"u", tokens), 2);
    EXPECT_EQ(FindOption(L"x", tokens), -1);
}

TEST(OptionLineTest, ReservedCharacters) {
    for (const wchar_t* value :
         {L"a\\b", L"a\"b", L"<", L">", L"a|b", L"&", L"100%", L"^", L"a b"}) {
        EXPECT_TRUE(HasReservedChar(value)) << value;
    }
    for (const wchar_t* value :
         {L"", L"public", L"a\tb", L"p@ss-w0rd!#$*()", L"日本語", L"a/b:c"}) {
        EXPECT_FALSE(HasReservedChar(value)) << value;
    }
}

TEST(OptionLineTest, MasksEveryPlainPassPhrase) {
    struct Case {
        const wchar_t* line;
        const wchar_t* masked;
    };
    const Case cases[] = {
        {L"-e:0x8000000001 -u:user -a:SHA -AP:secret1 -x:AES -XP:secret2",
         L"-e:0x8000000001 -u:user -a:SHA -AP:******** -x:AES -XP:********"},
        // Enciphered values and other options stay as written, blanks included.
        {L"-u:u  -A:AhKYwoX5n5A= -X:cnmJ723B/iRjL8A+CJOC0A==  -AP:p",
         L"-u:u  -A:AhKYwoX5n5A= -X:cnmJ723B/iRjL8A+CJOC0A==  -AP:********"},
        // Every occurrence, however the option is written.
        {L"/AP:one --AP:two -XP:a:b:c", L"/AP:******** --AP:******** -XP:********"},
        // Quoted values, blanks and quotes inside them, escaped quotes.
        {L"-AP:\"pass word\" -u:x", L"-AP:******** -u:x"},
        {L"\"-XP:pass word\" -u:x", L"\"-XP:********\" -u:x"},
        {L"-AP:a\\\"b\\\" -u:x", L"-AP:******** -u:x"},
        {L"-AP:\"unterminated -u:x", L"-AP:********"},
        {L"-AP: -u:x", L"-AP:******** -u:x"},
        // Not pass phrases: other names, no colon, words that only look alike.
        {L"-ap:x -APX:y -AP AP:z -v:AP:w", L"-ap:x -APX:y -AP AP:z -v:AP:w"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        std::wstring masked = MaskPlainPassPhrases(c.line);
        EXPECT_EQ(masked, c.masked) << c.line;

        // Read back, the masked line has the same options, the pass phrases replaced.
        OptionTokens before = SplitOptionLine(c.line);
        OptionTokens after = SplitOptionLine(masked);
        ASSERT_EQ(before.size(), after.size()) << c.line;
        for (std::size_t i = 0; i < before.size(); ++i) {
            std::wstring name;
            std::wstring value;
            if (ParseOptionToken(before[i], name, value) && (name == L"AP" || name == L"XP") &&
                before[i].find(L':') != std::wstring::npos) {
                std::wstring maskedName;
                ASSERT_TRUE(ParseOptionToken(after[i], maskedName, value));
                EXPECT_EQ(maskedName, name);
                EXPECT_EQ(value, kMaskedPassPhrase) << c.line;
            } else {
                EXPECT_EQ(after[i], before[i]) << c.line;
            }
        }
    }
}

}  // namespace
