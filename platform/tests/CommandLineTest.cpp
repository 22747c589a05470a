#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/CommandLine.h"

namespace {

using Args = std::vector<std::wstring>;

TEST(CommandLineTest, SplitsByTheWindowsRules) {
    struct Case {
        const wchar_t* line;
        Args args;
    };
    const Case cases[] = {
        {L"", {}},
        {L"   ", {}},
        {L"a b  c", {L"a", L"b", L"c"}},
        {L"a\tb", {L"a\tb"}},            // a TAB is no separator
        {L"\"a b\" c", {L"a b", L"c"}},  // quotes hold blanks
        {L"x\"\"y \"\"", {L"xy", L""}},  // empty quotes still make a token
        {L"-u:\"\"", {L"-u:"}},
        {L"a\\b c\\\\d", {L"a\\b", L"c\\\\d"}},  // backslashes not before a quote
        {L"a\\\"b", {L"a\"b"}},                  // 1 backslash + quote: literal quote
        {L"\"a\\\\\" b", {L"a\\", L"b"}},        // 2 backslashes + quote: \ and toggle
        {L"a\\\\\\\"b", {L"a\\\"b"}},            // 3 backslashes + quote: \ and "
        {L"\"unterminated quote", {L"unterminated quote"}},
        {L"-M \"/opt/a b/mibs\"  -v 2c", {L"-M", L"/opt/a b/mibs", L"-v", L"2c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::SplitCommandLine(c.line), c.args) << c.line;
    }
}

TEST(CommandLineTest, QuotedArgumentsReadBackExactly) {
    const wchar_t* values[] = {
        L"plain",   L"",     L"with blank", L"quote\"inside", L"ends\\",
        L"two\\\\", L"\\\"", L"tab\there",  L"a\\b\\c",       L"日本語 テキスト"};
    for (const wchar_t* value : values) {
        std::wstring quoted = platform::QuoteCommandLineArgument(value);
        EXPECT_EQ(platform::SplitCommandLine(L"-X:" + quoted), Args{std::wstring(L"-X:") + value})
            << value;
        EXPECT_EQ(platform::SplitCommandLine(quoted + L" next"), (Args{value, L"next"})) << value;
    }
    // Values that need no quoting stay as they are.
    EXPECT_EQ(platform::QuoteCommandLineArgument(L"a\\b"), L"a\\b");
}

}  // namespace
