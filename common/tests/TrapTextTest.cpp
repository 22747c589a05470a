#include "common/TrapText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct HeaderCase {
    const wchar_t* text;
    bool readable;
    const wchar_t* address;
    const wchar_t* community;
    const wchar_t* version;
};

TEST(TrapTextTest, SplitHeaderReadsAddressAndVersionFromTheEnds) {
    const HeaderCase cases[] = {
        {L"192.0.2.1\t  public\t  V2c\n\t  x = 1\n", true, L"192.0.2.1", L"public", L"V2c"},
        {L"::1\t  user\t  V3\t  認証エラー\n", true, L"::1", L"user", L"V3"},
        {L"10.0.0.1\t  \t  V1\n", true, L"10.0.0.1", L"", L"V1"},
        // A community holding separators, version words or the mark stays whole.
        {L"a\t  pub\t  V1\t  lic\t  V2c\n", true, L"a", L"pub\t  V1\t  lic", L"V2c"},
        {L"a\t  c\t  認証エラー\t  V3\n", true, L"a", L"c\t  認証エラー", L"V3"},
        // Not a header the engine renders.
        {L"a\t  c\t  V4\n", false, L"a", L"c", L"V4"},
        {L"a\t  V2c\n", false, L"", L"", L""},
        {L"a\t  c\t  V2c", false, L"", L"", L""},
        {L"", false, L"", L"", L""},
    };
    for (const HeaderCase& c : cases) {
        const traptext::Header header = traptext::SplitHeader(c.text);
        EXPECT_EQ(header.readable, c.readable) << c.text;
        EXPECT_EQ(header.address, c.address) << c.text;
        EXPECT_EQ(header.community, c.community) << c.text;
        EXPECT_EQ(header.version, c.version) << c.text;
    }
}

TEST(TrapTextTest, HeaderLineIsReadBackAsWritten) {
    const std::wstring line = traptext::HeaderLine(L"fe80::1%lo", L"com\t  munity", L"V3");
    EXPECT_EQ(line, L"fe80::1%lo\t  com\t  munity\t  V3");
    const traptext::Header header = traptext::SplitHeader(line + L"\n");
    EXPECT_TRUE(header.readable);
    EXPECT_EQ(header.address, L"fe80::1%lo");
    EXPECT_EQ(header.community, L"com\t  munity");
    EXPECT_EQ(header.version, L"V3");
    EXPECT_EQ(traptext::AddressOf("192.0.2.7\t  public\t  V2c\n"), "192.0.2.7");
    EXPECT_EQ(traptext::AddressOf("no tab"), "no tab");
}

}  // namespace
