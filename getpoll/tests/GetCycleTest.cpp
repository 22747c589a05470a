#include "getpoll/GetCycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Text.h"
#include "settings/OptionLine.h"

namespace {

// Shows what the decorator was given: "<line>", or nothing without "=".
std::string MarkLine(std::string_view line) {
    return line.find('=') == std::string_view::npos ? std::string() : "<" + std::string(line) + ">";
}

GetOidEntry Entry(const std::wstring& line) {
    GetOidEntry entry;
    EXPECT_EQ(ParseGetOidLine(SplitOptionLine(line), entry), GetOidLineError::kNone) << line;
    return entry;
}

TEST(GetCycleTest, ValueTextOfAToolAnswer) {
    struct Case {
        std::wstring output;
        std::wstring value;
    };
    const Case cases[] = {
        {L"SNMPv2-MIB::sysDescr.0 = STRING: host\n", L"<sysDescr.0 = STRING: host>\n"},
        // The tool's line end, whatever it is, stays after the decorated line.
        {L"SNMPv2-MIB::sysDescr.0 = STRING: host\r\n", L"<sysDescr.0 = STRING: host>\r\n"},
        {L"SNMPv2-MIB::sysObjectID.0 = OID: NET-SNMP-TC::linux\n",
         L"<sysObjectID.0 = OID: NET-SNMP-TC::linux>\n"},
        {L"IF-MIB::ifDescr.3 = STRING: \"a=b\"", L"<ifDescr.3 = STRING: \"a=b\">"},
        {L"SNMPv2-MIB::sysLocation.0 = STRING: 東京 3F\n", L"<sysLocation.0 = STRING: 東京 3F>\n"},
        // A hexadecimal dump, line ends and TABs included, becomes one line.
        {L"SNMPv2-SMI::enterprises.99999.1.0 = Hex-STRING: 80 01 \n02\t03 \r\n",
         L"<enterprises.99999.1.0 = Hex-STRING: 80 01  02 03   >"},
        // Multi-line text that is no dump keeps its lines.
        {L"SNMPv2-MIB::sysDescr.0 = STRING: \"a\nb\"\n", L"<sysDescr.0 = STRING: \"a\nb\">\n"},
        // Without "=" the whole text is a name and nothing is decorated.
        {L"plain words\n", L"plain words\n "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CGetCycle::BuildValueText(c.output, MarkLine), c.value)
            << platform::WideToUtf8(c.output);
    }
}

TEST(GetCycleTest, ResultTextHasTheShapeOfATrapText) {
    struct Case {
        std::wstring line;
        std::wstring header;
    };
    const Case cases[] = {
        {L"-v:2c -c:public -agent:10.0.0.1 -oid:o", L"10.0.0.1\t  public\t  V2c\n"},
        {L"-v:1 -agent:udp:h:1161 -oid:o", L"udp:h:1161\t  \t  V1\n"},
        // Version 3 shows the user where the others show the community.
        {L"-v:3 -c:public -u:monitor -agent:10.0.0.1 -oid:o", L"10.0.0.1\t  monitor\t  V3\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CGetCycle::BuildResultText(Entry(c.line), L"SNMPv2-MIB::sysName.0 = STRING: x\n",
                                             MarkLine),
                  c.header + L"\t  <sysName.0 = STRING: x>\n\n")
            << platform::WideToUtf8(c.line);
    }
}

}  // namespace
