#include "platform/UntrustedText.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace {

using platform::EscapeUntrustedText;
using platform::TextEscaping;

// Each hostile text as a one-line view, a view of several lines and inside a JSON string.
TEST(UntrustedTextTest, ControlsBidiAndBrokenUtf8AreEscapedInEachForm) {
    const struct {
        const char* name;
        std::string text;
        std::string oneLine;
        std::string lines;
        // The string's contents in a JSON writer's text, escaped; none for text that is not UTF-8,
        // which the writer has replaced already.
        std::optional<std::string> json;
    } cases[] = {
        {"plain", "public", "public", "public", "public"},
        {"Japanese and a no-break space", "\xe7\xb5\x84\xc2\xa0x", "\xe7\xb5\x84\xc2\xa0x",
         "\xe7\xb5\x84\xc2\xa0x", "\xe7\xb5\x84\xc2\xa0x"},
        {"clear and recolour", "\x1b[2J\x1b[31mEVIL", "\\x1B[2J\\x1B[31mEVIL",
         "\\x1B[2J\\x1B[31mEVIL", "\\u001b[2J\\u001b[31mEVIL"},
        {"TAB, LF, CR LF, CR", "a\tb\nc\r\nd\re", "a\\x09b\\x0Ac\\x0D\\x0Ad\\x0De", "a\tb\nc\nd\ne",
         "a\\tb\\nc\\r\\nd\\re"},
        {"NUL, BEL, BS, DEL", std::string("n\0b\x07\x08\x7f", 6), "n\\x00b\\x07\\x08\\x7F",
         "n\\x00b\\x07\\x08\\x7F", "n\\u0000b\\u0007\\b\\u007F"},
        {"C1 CSI and OSC",
         "\xc2\x9b"
         "31m\xc2\x9d"
         "0;t",
         "\\u009B31m\\u009D0;t", "\\u009B31m\\u009D0;t", "\\u009B31m\\u009D0;t"},
        {"bidi override and isolate",
         "abc\xe2\x80\xae"
         "fed\xe2\x80\xac\xe2\x81\xa6x\xe2\x81\xa9",
         "abc\\u202Efed\\u202C\\u2066x\\u2069", "abc\\u202Efed\\u202C\\u2066x\\u2069",
         "abc\\u202Efed\\u202C\\u2066x\\u2069"},
        {"direction marks stay",
         "a\xe2\x80\x8f"
         "b",
         "a\xe2\x80\x8f"
         "b",
         "a\xe2\x80\x8f"
         "b",
         "a\xe2\x80\x8f"
         "b"},
        {"stray, truncated, overlong, surrogate, too high",
         "\x80|\xe3\x81|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80",
         "\\x80|\\xE3\\x81|\\xC0\\xAF|\\xED\\xA0\\x80|\\xF4\\x90\\x80\\x80",
         "\\x80|\\xE3\\x81|\\xC0\\xAF|\\xED\\xA0\\x80|\\xF4\\x90\\x80\\x80", std::nullopt},
        {"a truncated sequence at the end", "x\xf0\x9f\x98", "x\\xF0\\x9F\\x98", "x\\xF0\\x9F\\x98",
         std::nullopt},
        {"an emoji", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80",
         "\xf0\x9f\x98\x80"},
        {"backslash and quote stay", "C:\\x1B \"q\"", "C:\\x1B \"q\"", "C:\\x1B \"q\"",
         "C:\\\\x1B \\\"q\\\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EscapeUntrustedText(c.text, TextEscaping::kOneLine), c.oneLine);
        EXPECT_EQ(EscapeUntrustedText(c.text, TextEscaping::kLines), c.lines);
        // JSON as a writer makes it (controls already escaped, the rest raw), then escaped.
        const std::string written =
            nlohmann::json(c.text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        const std::string escaped = EscapeUntrustedText(written, TextEscaping::kJson);
        if (c.json) {
            EXPECT_EQ(escaped, "\"" + *c.json + "\"");
        }
        // Still JSON, with the same text (where it was UTF-8).
        const nlohmann::json back = nlohmann::json::parse(escaped, nullptr, false);
        ASSERT_TRUE(back.is_string()) << escaped;
        EXPECT_EQ(back.get<std::string>(), nlohmann::json::parse(written).get<std::string>());
    }
}

// Only inside a JSON text's strings are characters escaped; white space between its tokens
// becomes blanks, and the writer's own escapes stay as they were.
TEST(UntrustedTextTest, JsonTextKeepsItsStructure) {
    const std::string text = "{\"a\":\t\"x\\\"\xc2\x9b\\\\\",\r\"b\":[1,\n\"\xe2\x80\xae\"]}";
    const std::string escaped = EscapeUntrustedText(text, TextEscaping::kJson);
    EXPECT_EQ(escaped, "{\"a\": \"x\\\"\\u009B\\\\\", \"b\":[1, \"\\u202E\"]}");
    EXPECT_EQ(nlohmann::json::parse(escaped), nlohmann::json::parse(text));
    // Bytes that are not UTF-8, which a JSON text cannot carry, become replacement characters.
    EXPECT_EQ(EscapeUntrustedText("[\"\x80\xe3\x81!\"]", TextEscaping::kJson),
              "[\"\\uFFFD\\uFFFD\\uFFFD!\"]");
}

}  // namespace
