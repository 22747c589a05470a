#include "product/AgentAddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/Text.h"

namespace {

std::string Hex(const AgentAddress& address) {
    std::string out;
    for (std::uint8_t b : address) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        out += hex;
    }
    return out;
}

// Parsed bytes in hex, or "-" when the text does not parse.
std::string Parse(const std::wstring& text) {
    AgentAddress address;
    address.fill(0xAA);
    bool parsed = ParseAgentAddress(text, &address);
    if (!parsed) {
        EXPECT_EQ(Hex(address), std::string(32, '0')) << "an unparsable text leaves zero bytes";
        return "-";
    }
    return Hex(address);
}

TEST(AgentAddressTest, ParsesAsTheRulesSay) {
    const struct {
        const wchar_t* text;
        const char* bytes;
    } cases[] = {
        {L"192.0.2.1", "c0000201000000000000000000000000"},
        {L"0.0.0.0", "00000000000000000000000000000000"},
        {L"255.255.255.255", "ffffffff000000000000000000000000"},
        {L"192.168.001.1", "-"},
        {L"192.168.1.01", "-"},
        {L"256.1.1.1", "-"},
        {L"1.2.3", "-"},
        {L"1.2.3.4.5", "-"},
        {L"1..2.3", "-"},
        {L" 1.2.3.4", "-"},
        {L"1.2.3.4 ", "-"},
        {L"0x1.2.3.4", "-"},
        {L"::", "00000000000000000000000000000000"},
        {L"::1", "00000000000000000000000000000001"},
        {L"1::", "00010000000000000000000000000000"},
        {L"2001:DB8::a:B", "20010db80000000000000000000a000b"},
        {L"1:2:3:4:5:6:7:8", "00010002000300040005000600070008"},
        {L"1:2:3:4:5:6:7::", "00010002000300040005000600070000"},
        {L"::2:3:4:5:6:7:8", "00000002000300040005000600070008"},
        {L"1:2:3:4:5:6:7::8", "-"},  // "::" must stand for at least one group
        {L"1:2:3:4:5:6:7", "-"},
        {L"1:2:3:4:5:6:7:8:9", "-"},
        {L"1::2::3", "-"},
        {L":::", "-"},
        {L":1::", "-"},
        {L"1::2:", "-"},
        {L"12345::", "-"},
        {L"g::", "-"},
        {L"::ffff:192.0.2.1", "00000000000000000000ffffc0000201"},
        {L"1:2:3:4:5:6:1.2.3.4", "00010002000300040005000601020304"},
        {L"1:2:3:4:5:6:7:1.2.3.4", "-"},
        {L"::1.2.3.4:5", "-"},
        {L"::1.2.03.4", "-"},
        {L"fe80::1%12", "fe800000000000000000000000000001"},
        {L"fe80::1%eth0%x", "fe800000000000000000000000000001"},
        {L"192.0.2.1%1", "c0000201000000000000000000000000"},
        {L"%", "-"},
        {L"", "-"},
        {L"(ALL)", "-"},
        {L"１.２.３.４", "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::WideToUtf8(c.text));
        EXPECT_EQ(Parse(c.text), c.bytes);
    }
    EXPECT_EQ(Parse(std::wstring(L"1.2.3.4\0", 8)), "-") << "an embedded NUL does not parse";
}

TEST(AgentAddressTest, TextsOfMoreThanFortyFiveBytesDoNotParse) {
    // 45 bytes fit with the terminator; 46 do not, whatever the "%" cut would leave.
    std::wstring fits = L"fe80::1%" + std::wstring(45 - 8, L'9');
    std::wstring tooLong = fits + L"9";
    EXPECT_EQ(Parse(fits), "fe800000000000000000000000000001");
    EXPECT_EQ(Parse(tooLong), "-");
    EXPECT_EQ(Parse(L"0000:0000:0000:0000:0000:ffff:255.255.255.255"),
              "00000000000000000000ffffffffffff");
}

// The C library's inet_pton follows the same rules on these texts.
TEST(AgentAddressTest, AgreesWithTheCLibrarysInetPton) {
    const char* texts[] = {
        "10.0.0.1",
        "10.0.0.01",
        "1.2.3.256",
        "::",
        "::1",
        "1::",
        "::ffff:1.2.3.4",
        "1:2:3:4:5:6:7:8",
        "1:2:3:4:5:6:7::8",
        "1::2::3",
        ":1::",
        "1::2:",
        "abcd:EF01::",
        "12345::",
        "::1.2.3.4.5",
        "1:2:3:4:5:6:1.2.3.4",
        "::01.2.3.4",
        "a:b:c:d:e:f:0:1",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        std::uint8_t expected[16] = {};
        bool v4 = inet_pton(AF_INET, text, expected) == 1;
        bool v6 = !v4 && inet_pton(AF_INET6, text, expected) == 1;
        AgentAddress address;
        EXPECT_EQ(ParseAgentAddress(platform::Utf8ToWide(text), &address), v4 || v6);
        EXPECT_EQ(std::memcmp(address.data(), expected, 16), 0);
    }
}

}  // namespace
