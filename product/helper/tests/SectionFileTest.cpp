#include "product/helper/SectionFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "tests/support/TempSysRoot.h"

namespace {

std::vector<std::wstring> Items(std::string_view text) {
    std::vector<std::wstring> out;
    for (const SectionItem& item : ParseSectionText(text)) {
        out.push_back(item.first + L"|" + item.second);
    }
    return out;
}

TEST(SectionFileTest, OneItemPerLineValueAfterTheFirstEquals) {
    const struct {
        const char* text;
        std::vector<std::wstring> items;
    } cases[] = {
        {"", {}},
        {"A=1\nB=2", {L"A|1", L"B|2"}},
        {"A=1\r\nB=2\r\n", {L"A|1", L"B|2"}},
        {"\xEF\xBB\xBF"
         "A=1\n",
         {L"A|1"}},
        {"; comment=1\n ;not=comment\n", {L" ;not|comment"}},
        {"A=b=c\n", {L"A|b=c"}},
        {"A=\n=v\n", {L"A|", L"|v"}},
        {"no equals\n\n", {}},
        {" A = 1 \n", {L" A | 1 "}},
        {"A=1\nA=2\n", {L"A|1", L"A|2"}},
        {"名前=値\n", {L"名前|値"}},
        {"A=1\r\r\n", {L"A|1\r"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Items(c.text), c.items);
    }
}

TEST(SectionFileTest, SectionNamesStayBelowTheRoot) {
    const struct {
        const wchar_t* section;
        const char* path;  // relative to the root, or null when refused
    } cases[] = {
        {L"Environment\\Config\\SNMP_MANAGER", "Environment/Config/SNMP_MANAGER.ini"},
        {L"Single", "Single.ini"},
        {L"", nullptr},
        {L"..\\etc\\passwd", nullptr},
        {L"Environment\\..\\..\\x", nullptr},
        {L".\\x", nullptr},
        {L"Environment\\\\x", nullptr},
        {L"\\x", nullptr},
        {L"x\\", nullptr},
        {L"a/b", nullptr},
        {L"a:b", nullptr},
        {L"a\nb", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::WideToUtf8(c.section));
        std::filesystem::path path;
        bool ok = SectionFilePath("/root", c.section, &path);
        EXPECT_EQ(ok, c.path != nullptr);
        if (ok && c.path != nullptr) {
            EXPECT_EQ(path, std::filesystem::path("/root") / c.path);
        }
    }
}

TEST(SectionFileTest, AMissingFileIsAnEmptySectionAndAFolderAnError) {
    test::TempSysRoot root;
    std::error_code ec;
    EXPECT_TRUE(ReadSectionFile(root.path() / "missing.ini", ec).empty());
    EXPECT_FALSE(ec);
    EXPECT_TRUE(ReadSectionFile(root.path(), ec).empty());
    EXPECT_TRUE(ec);
    std::ofstream(root.path() / "s.ini") << "A=1\n";
    EXPECT_EQ(ReadSectionFile(root.path() / "s.ini", ec).size(), 1u);
    EXPECT_FALSE(ec);
}

}  // namespace
