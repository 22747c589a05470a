#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "platform/TextFile.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"

namespace {

using Lines = std::vector<std::wstring>;

class TextFileTest : public ::testing::Test {
  protected:
    std::wstring Write(const std::string& bytes) {
        std::filesystem::path file = m_root.path() / "lines.txt";
        std::ofstream(file, std::ios::binary) << bytes;
        return platform::WidePath(file);
    }

    test::TempSysRoot m_root;
};

TEST_F(TextFileTest, SplitsLinesAsATextModeStream) {
    test::ScopedLocale locale("C.UTF-8");
    struct Case {
        std::string bytes;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a\nb\n", {L"a", L"b"}},
        {"a\r\nb\r\n", {L"a", L"b"}},         // CR LF ends a line like LF
        {"a\nlast", {L"a", L"last"}},         // the last line counts without a line end
        {"a\r\nlast\r", {L"a", L"last\r"}},   // a CR not before LF stays
        {"a\r\r\nb", {L"a\r", L"b"}},         // only the CR right before LF goes
        {"\n\r\n x \n", {L"", L"", L" x "}},  // empty lines are the reader's to skip
        {std::string("a\0b\n", 4), {std::wstring(L"a\0b", 3)}},
        {"\xE6\x97\xA5\xE6\x9C\xAC\n", {L"日本"}},
    };
    for (const auto& c : cases) {
        auto lines = platform::ReadTextFileLines(Write(c.bytes));
        ASSERT_TRUE(lines.has_value());
        EXPECT_EQ(*lines, c.lines) << c.bytes;
    }
}

TEST_F(TextFileTest, MissingFileOrFolderIsNotRead) {
    EXPECT_FALSE(platform::ReadTextFileLines(L"/nonexistent-vorma/lines.txt").has_value());
    EXPECT_FALSE(platform::ReadTextFileLines(platform::WidePath(m_root.path())).has_value());
}

// Code page 932 text whose second bytes include 0x5C, the backslash of ASCII.
const wchar_t kJapanese[] = L"表示\\ソフト~ー";

TEST_F(TextFileTest, ShiftJisFileUnderAShiftJisLocaleReadsAsCodePage932) {
    std::optional<test::ScopedLocale> locale;
    try {
        locale.emplace("ja_JP.SJIS");
    } catch (const std::exception&) {
        GTEST_SKIP() << "no ja_JP.SJIS locale on this machine";
    }
    std::string bytes = platform::WideToCodePage(platform::kCodePage932, kJapanese);
    auto lines = platform::ReadTextFileLines(Write(bytes + "\r\n" + bytes));
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, (Lines{kJapanese, kJapanese}));
    // Written back through the same locale, the text gives the same bytes.
    EXPECT_EQ(platform::WideToLocale(kJapanese), bytes);
}

TEST_F(TextFileTest, ShiftJisBytesUnderUtf8LocaleKeepTheirLines) {
    // Without a Shift-JIS locale the bytes are malformed UTF-8: their characters are lost, but no
    // line end is swallowed and the other lines read as written.
    test::ScopedLocale locale("C.UTF-8");
    std::string bytes = platform::WideToCodePage(platform::kCodePage932, kJapanese);
    auto lines = platform::ReadTextFileLines(Write("first\r\n" + bytes + "\r\nlast"));
    ASSERT_TRUE(lines.has_value());
    ASSERT_EQ(lines->size(), 3u);
    EXPECT_EQ((*lines)[0], L"first");
    EXPECT_NE((*lines)[1].find(L'\uFFFD'), std::wstring::npos);
    EXPECT_EQ((*lines)[2], L"last");
}

TEST_F(TextFileTest, WritesTextInTheLocalesEncodingOverAnyEarlierFile) {
    test::ScopedLocale locale("C.UTF-8");
    std::filesystem::path file = m_root.path() / "written.txt";
    std::wstring path = platform::WidePath(file);
    std::ofstream(file, std::ios::binary) << "a much longer earlier content\n";

    ASSERT_FALSE(platform::WriteTextFile(
        path, L"日本\r\nb\r\n",
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write));
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "\xE6\x97\xA5\xE6\x9C\xAC\r\nb\r\n");
    // The permissions are POSIX ones (tests/posix/TextFilePermissionsTest.cpp): Windows keeps only
    // a read-only flag.
}

TEST_F(TextFileTest, WriteIntoAMissingFolderTellsTheError) {
    std::error_code ec =
        platform::WriteTextFile(platform::WidePath(m_root.path() / "missing" / "file.txt"), L"x");
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

}  // namespace
