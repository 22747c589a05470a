#include "traps/TrapRenderer.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/Text.h"
#include "tests/support/IsolatedChild.h"
#include "traps/tests/EngineHarness.h"

namespace {

using nlohmann::json;

TEST(TrapRendererTest, FormatTimeTicks) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "Timeticks: (0) 0 days, 00:00:00.00"},
        {4711, "Timeticks: (4711) 0 days, 00:00:47.11"},
        {8640000, "Timeticks: (8640000) 1 days, 00:00:00.00"},
        {8639999, "Timeticks: (8639999) 0 days, 23:59:59.99"},
        {4294967295u, "Timeticks: (4294967295) 497 days, 02:27:52.95"},
    };
    for (const auto& [ticks, text] : cases) {
        EXPECT_EQ(CTrapRenderer::FormatTimeTicks(ticks), text);
    }
}

TEST(TrapRendererTest, SenderAddressFromTheTransportText) {
    const std::pair<const char*, const char*> cases[] = {
        {"UDP: [192.0.2.1]:1234->[0.0.0.0]:162", "192.0.2.1"},
        {"UDP/IPv6: [::1]:5555", "::1"},
        {"UDP/IPv6: [fe80::1%lo]:5555", "fe80::1%lo"},
        {"  10.0.0.1  ", "10.0.0.1"},
        {"", ""},
    };
    for (const auto& [formatted, address] : cases) {
        EXPECT_EQ(CTrapRenderer::SenderAddress(formatted), address) << formatted;
    }
}

// The parts that need the MIB tree run in a child with Net-SNMP prepared on the test MIB set.
json WithMibs(const std::function<json()>& body) {
    const std::string missing = enginetest::MissingPrerequisite();
    if (!missing.empty()) {
        return json{{"skip", missing}};
    }
    test::ChildResult child = test::RunIsolated(false, [&] {
        enginetest::CTestInstallation installation;
        CSnmpApi api;
        api.SetupNetSnmp(enginetest::kAppName, installation.SnmpDir(), installation.MibReport());
        api.LoadMibs(installation.MibReport());
        json result = body();
        api.ShutdownNetSnmp(enginetest::kAppName);
        return result.dump();
    });
    if (!child.completed) {
        return json{{"failure", child.output}};
    }
    return json::parse(child.output);
}

#define WITH_MIBS(result, ...)                             \
    json result = WithMibs(__VA_ARGS__);                   \
    if (result.contains("skip")) {                         \
        GTEST_SKIP() << result["skip"].get<std::string>(); \
    }                                                      \
    ASSERT_FALSE(result.contains("failure")) << result["failure"].get<std::string>()

// Code page 932 text as UTF-8, for comparing and for JSON.
std::string Readable(const std::string& cp932) {
    return platform::WideToUtf8(platform::CodePageToWide(platform::kCodePage932, cp932));
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// One variable binding of an object name and an octet string value.
class CVariable {
  public:
    CVariable(const std::string& name, const std::string& value) {
        oid parsed[MAX_OID_LEN];
        size_t length = MAX_OID_LEN;
        if (snmp_parse_oid(name.c_str(), parsed, &length) != nullptr) {
            snmp_varlist_add_variable(&m_list, parsed, length, ASN_OCTET_STR, value.data(),
                                      value.size());
        }
    }
    ~CVariable() { snmp_free_varbind(m_list); }
    CVariable(const CVariable&) = delete;
    CVariable& operator=(const CVariable&) = delete;

    variable_list* Get() { return m_list; }

  private:
    variable_list* m_list = nullptr;
};

TEST(TrapRendererTest, NumericFormsAndDecoration) {
    WITH_MIBS(result, [] {
        json out;
        for (const char* name :
             {"sysUpTime.0", "coldStart", "vormaTestAddress.0", "1.3.6.1.4.1.9.0.3",
              "sysUpTimeInstance", "noSuchObject.0", "SNMPv2-MIB::sysName.0", "(sysName).0"}) {
            out["numeric"].push_back(CTrapRenderer::NumericOid(name));
        }
        // Found by fuzzing: names with regular-expression repetition sent Net-SNMP's wildcard
        // search into a regular expression that grows exponentially as it is compiled
        // (gigabytes for the first, seconds for the second).
        const std::string hostile = std::string("\xab\xbb\xaf)") + std::string(47, '+') +
                                    "\xc5UD\xfe\xff\xff\xff\x8a\xd7\x17";
        out["hostileDecorated"] =
            CTrapRenderer::DecorateLine(hostile + "!=\xf8") == hostile + " { UnknowOID } = ";
        out["numeric"].push_back(CTrapRenderer::NumericOid("sys+++++++++++++Name.0"));
        // Found by fuzzing too: a colon after a NUL byte made such a name pass for one with a
        // module name, which Net-SNMP's parse never saw (the name ends at the NUL for it).
        out["numeric"].push_back(CTrapRenderer::NumericOid(")\xaf+\xab\xbb" + std::string(22, '+') +
                                                           std::string("\0:\x17!", 4)));
        for (const char* line :
             {"sysName.0 = STRING: x", "snmpTrapOID.0 = OID: linkDown", "mystery.0 = INTEGER: 1",
              "sysName.0 = OID: nowhere", "no equals sign"}) {
            out["decorated"].push_back(CTrapRenderer::DecorateLine(line));
        }
        return out;
    });
    EXPECT_EQ(result["numeric"],
              json({"1.3.6.1.2.1.1.3.0", "1.3.6.1.6.3.1.1.5.1", "1.3.6.1.4.1.99999.1.1.0",
                    "1.3.6.1.4.1.9.0.3", "UnknowOID", "UnknowOID", "1.3.6.1.2.1.1.5.0", "UnknowOID",
                    "UnknowOID", "UnknowOID"}));
    EXPECT_EQ(result["hostileDecorated"], true);
    EXPECT_EQ(
        result["decorated"],
        json({"sysName.0 { 1.3.6.1.2.1.1.5.0 } = STRING: x",
              "snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: linkDown { 1.3.6.1.6.3.1.1.5.3 }",
              "mystery.0 { UnknowOID } = INTEGER: 1",
              "sysName.0 { 1.3.6.1.2.1.1.5.0 } = OID: nowhere { UnknowOID }", ""}));
}

// The numeric forms are remembered, but never across a change of the loaded MIB modules: a name
// that a reload leaves without its module is unknown from then on, and known again after the next.
TEST(TrapRendererTest, NumericFormsFollowAReloadOfTheMibModules) {
    WITH_MIBS(result, [] {
        json out;
        CSnmpApi api;  // the engine prepared by WithMibs is process-wide: reload through another
        auto lookUp = [&] {
            out.push_back(CTrapRenderer::NumericOid("vormaTestAddress.0"));
            out.push_back(CTrapRenderer::NumericOid("vormaTestAddress.0"));
            out.push_back(CTrapRenderer::DecorateLine("snmpTrapOID.0 = OID: vormaTestAddress"));
        };
        lookUp();
        setenv("MIBS", "SNMPv2-MIB", 1);
        api.LoadMibs("");
        lookUp();
        setenv("MIBS", "ALL", 1);
        api.LoadMibs("");
        lookUp();
        return out;
    });
    const std::string known = "1.3.6.1.4.1.99999.1.1.0";
    const std::string decorated =
        "snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: vormaTestAddress { 1.3.6.1.4.1.99999.1.1 }";
    const std::string unknownDecorated =
        "snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: vormaTestAddress { UnknowOID }";
    EXPECT_EQ(result, json({known, known, decorated, "UnknowOID", "UnknowOID", unknownDecorated,
                            known, known, decorated}));
}

// One variable binding of any type, its value given as the bytes Net-SNMP keeps.
class CTypedVariable {
  public:
    CTypedVariable(const std::string& name, u_char type, const void* value, std::size_t size) {
        oid parsed[MAX_OID_LEN];
        size_t length = MAX_OID_LEN;
        if (read_objid(name.c_str(), parsed, &length) != 0) {
            snmp_varlist_add_variable(&m_list, parsed, length, type, value, size);
        }
    }
    ~CTypedVariable() { snmp_free_varbind(m_list); }
    CTypedVariable(const CTypedVariable&) = delete;
    CTypedVariable& operator=(const CTypedVariable&) = delete;

    const variable_list* Get() const { return m_list; }

  private:
    variable_list* m_list = nullptr;
};

// What Net-SNMP itself prints for a binding, for comparison.
std::string LibraryPrint(const variable_list* variable) {
    std::size_t size = 256;
    std::size_t length = 0;
    auto* buffer = static_cast<u_char*>(std::malloc(size));
    sprint_realloc_variable(&buffer, &size, &length, 1, variable->name, variable->name_length,
                            variable);
    std::string text(reinterpret_cast<const char*>(buffer), length);
    std::free(buffer);
    return text;
}

// The printing that remembers names prints every binding as the library does, the first time
// (looked up) and again (remembered), and across a reload of the MIB modules.
TEST(TrapRendererTest, BindingsPrintAsTheLibraryPrintsThem) {
    WITH_MIBS(result, [] {
        const long up = 1;
        const long bad = 42;
        const unsigned long ticks = 12345;
        const unsigned long speed = 1000;
        const oid coldStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};
        const u_char address[] = {192, 0, 2, 7};
        const counter64 big = {1, 2};
        const std::string text = "core switch";
        std::vector<std::unique_ptr<CTypedVariable>> bindings;
        auto add = [&](const char* name, u_char type, const void* value, std::size_t size) {
            bindings.push_back(std::make_unique<CTypedVariable>(name, type, value, size));
        };
        add("IF-MIB::ifAdminStatus.3", ASN_INTEGER, &up, sizeof up);    // an enumeration
        add("IF-MIB::ifAdminStatus.4", ASN_INTEGER, &bad, sizeof bad);  // not one of its values
        add("SNMPv2-MIB::sysDescr.0", ASN_OCTET_STR, text.data(), text.size());  // a hint
        add("SNMPv2-MIB::sysUpTime.0", ASN_TIMETICKS, &ticks, sizeof ticks);
        add("SNMPv2-MIB::snmpTrapOID.0", ASN_OBJECT_ID, coldStart, sizeof coldStart);
        add("IF-MIB::ifHighSpeed.2", ASN_GAUGE, &speed, sizeof speed);
        add("SNMPv2-MIB::sysName.0", ASN_INTEGER, &up, sizeof up);  // the wrong type
        add("SNMPv2-MIB::sysContact.0", SNMP_NOSUCHOBJECT, nullptr, 0);
        add("SNMPv2-MIB::sysLocation.0", SNMP_NOSUCHINSTANCE, nullptr, 0);
        add(".1.3.6.1.4.1.99999.1.1.0", ASN_IPADDRESS, address, sizeof address);
        add(".1.3.6.1.4.1.99999.77.5", ASN_COUNTER64, &big, sizeof big);  // below a known node
        add(".1.3.6.1.4.1.4242424.1", ASN_OCTET_STR, text.data(), text.size());
        add(".1.3.6.1.2.1.2.2.1", ASN_INTEGER, &up, sizeof up);  // a table entry itself
        json out;
        auto compare = [&](const std::string& phase) {
            for (const auto& binding : bindings) {
                if (binding->Get() == nullptr) {
                    out["unparsed"].push_back(phase);
                    continue;
                }
                const std::string expected = LibraryPrint(binding->Get());
                for (int round = 0; round < 2; ++round) {
                    const std::string printed = CTrapRenderer::PrintVariable(binding->Get());
                    if (printed != expected) {
                        out["differences"].push_back({phase, round, printed, expected});
                    }
                }
                out[phase].push_back(expected);
            }
        };
        compare("loaded");
        CSnmpApi api;  // the engine prepared by WithMibs is process-wide: reload through another
        setenv("MIBS", "SNMPv2-MIB", 1);
        api.LoadMibs("");
        compare("without IF-MIB");
        setenv("MIBS", "ALL", 1);
        api.LoadMibs("");
        compare("reloaded");
        return out;
    });
    EXPECT_FALSE(result.contains("unparsed")) << result["unparsed"];
    EXPECT_FALSE(result.contains("differences")) << result["differences"].dump(1);
    // The cases print what they are meant to show.
    ASSERT_EQ(result["loaded"].size(), 13u);
    EXPECT_EQ(result["loaded"][0], "ifAdminStatus.3 = INTEGER: up(1)");
    EXPECT_EQ(result["loaded"][9],
              "vormaTestAddress.0 = Wrong Type (should be OCTET STRING): IpAddress: 192.0.2.7");
    // Without the modules, names and value forms change: nothing remembered may stay.
    EXPECT_EQ(result["without IF-MIB"][0], "mib-2.2.2.1.7.3 = INTEGER: 1");
    EXPECT_EQ(result["without IF-MIB"][9], "enterprises.99999.1.1.0 = IpAddress: 192.0.2.7");
    EXPECT_EQ(result["reloaded"], result["loaded"]);
}

TEST(TrapRendererTest, OctetStringRules) {
    struct Case {
        const char* name;
        const char* hex;
        const char* line;
    };
    const std::vector<Case> cases{
        // without a textual convention: text bytes only, a NUL only at the end
        {"vormaTestOctets.0", "616263FF",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = Hex-STRING: 61 62 63 FF "},
        {"vormaTestOctets.0", "61626300",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = STRING: abc"},
        {"vormaTestOctets.0", "61620063",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = Hex-STRING: 61 62 00 63 "},
        {"vormaTestOctets.0", "61620963E697A5",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = Hex-STRING: 61 62 09 63 E6 97 A5 "},
        // Net-SNMP breaks long hex lines; the breaks become blanks
        {"vormaTestOctets.0", "0102030405060708090A0B0C0D0E0F101112",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = Hex-STRING: 01 02 03 04 05 06 07 08 "
         "09 0A 0B 0C 0D 0E 0F 10  11 12 "},
        // a display convention: control bytes become blanks
        {"vormaTestDisplayText.0", "E697A5E69CAC0100",
         "vormaTestDisplayText.0 { 1.3.6.1.4.1.99999.1.2.0 } = STRING: 日本  "},
        // an object no MIB names is looked up by its nearest known name
        {"1.3.6.1.4.1.12345.1.0", "93FA967B",
         "enterprises.12345.1.0 { 1.3.6.1.4.1.12345.1.0 } = STRING: 日本"},
        // text that is none of the three encodings stays bytes
        {"vormaTestOctets.0", "A5C6E3",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = "
         "Hex-STRING: A5 C6 E3 "},
        {"vormaTestAddress.0", "00000000000000000000FFFF7F000001",
         "vormaTestAddress.0 { 1.3.6.1.4.1.99999.1.1.0 } = InetAddressIPv6: "
         "0000:0000:0000:0000:0000:ffff:7f00:0001"},
    };
    WITH_MIBS(result, [&] {
        json out = json::array();
        for (const Case& c : cases) {
            CVariable variable(c.name, FromHex(c.hex));
            out.push_back(Readable(CTrapRenderer::RenderVariable(variable.Get())));
        }
        return out;
    });
    ASSERT_EQ(result.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(result[i], cases[i].line) << cases[i].hex;
    }
}

TEST(TrapRendererTest, OctetStringLimits) {
    WITH_MIBS(result, [] {
        json out;
        const std::string prefix = "vormaTestOctets.0 = Hex-STRING: 93";  // "Hex-" at offset 20
        std::string nichi;
        for (int i = 0; i < 1013; ++i) {
            nichi += "\x93\xFA";
        }
        // 20 + 2027 + 1 bytes fit the buffer: converted, and the line is cut within 2,047
        // bytes, between characters
        {
            CVariable variable("vormaTestOctets.0", nichi + "a");
            std::string line = prefix;
            CTrapRenderer::RewriteOctetString(variable.Get(), line);
            out["fitting"] = {line.size(), line.compare(0, 28, "vormaTestOctets.0 = STRING: "),
                              line.substr(28) == nichi.substr(0, line.size() - 28)};
        }
        // 20 + 2028 + 1 do not: the line stays
        {
            CVariable variable("vormaTestOctets.0", nichi + "ab");
            std::string line = prefix;
            CTrapRenderer::RewriteOctetString(variable.Get(), line);
            out["tooLong"] = line == prefix;
        }
        // a long value as Net-SNMP prints it stays within the variable buffer
        {
            CVariable variable("vormaTestSerial.0", std::string(1500, '\x01'));
            out["printedLength"] = CTrapRenderer::RenderVariable(variable.Get()).size();
        }
        return out;
    });
    EXPECT_EQ(result["fitting"], json({2046, 0, true}));
    EXPECT_EQ(result["tooLong"], true);
    // 2,047 bytes printed, the name shortened and decorated with its numeric form
    EXPECT_EQ(result["printedLength"], 2047u + std::strlen(" { 1.3.6.1.4.1.99999.1.4.0 }"));
}

// A PDU built by hand, freed at the end.
class CPdu {
  public:
    explicit CPdu(int command) : m_pdu(snmp_pdu_create(command)) {}
    ~CPdu() { snmp_free_pdu(m_pdu); }
    CPdu(const CPdu&) = delete;
    CPdu& operator=(const CPdu&) = delete;
    snmp_pdu* operator->() { return m_pdu; }
    snmp_pdu* Get() { return m_pdu; }

    void SetCommunity(const std::string& bytes) {
        m_pdu->community = static_cast<u_char*>(std::malloc(bytes.size()));
        std::memcpy(m_pdu->community, bytes.data(), bytes.size());
        m_pdu->community_len = bytes.size();
    }
    void AddVariable(const char* name, u_char type, const void* value, size_t length) {
        oid parsed[MAX_OID_LEN];
        size_t oidLength = MAX_OID_LEN;
        if (snmp_parse_oid(name, parsed, &oidLength) != nullptr) {
            snmp_pdu_add_variable(m_pdu, parsed, oidLength, type, value, length);
        }
    }

  private:
    snmp_pdu* m_pdu;
};

TEST(TrapRendererTest, HeaderLines) {
    WITH_MIBS(result, [] {
        json out;
        {
            CPdu pdu(SNMP_MSG_TRAP);
            const oid enterprise[] = {1, 3, 6, 1, 4, 1, 9, 0};
            pdu->enterprise = snmp_duplicate_objid(enterprise, 8);
            pdu->enterprise_length = 8;
            pdu->trap_type = SNMP_TRAP_ENTERPRISESPECIFIC;
            pdu->specific_type = 3;
            const u_char agent[] = {203, 0, 113, 200};
            std::memcpy(pdu->agent_addr, agent, 4);
            pdu->time = 100;
            pdu.SetCommunity(std::string("pub\0lic", 7));
            out["v1Specific"] = Readable(
                CTrapRenderer::Render(NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE, nullptr, pdu.Get()));
            pdu->trap_type = SNMP_TRAP_LINKDOWN;
            out["v1LinkDown"] = Readable(
                CTrapRenderer::Render(NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE, nullptr, pdu.Get()));
        }
        {
            CPdu pdu(SNMP_MSG_TRAP2);
            pdu->version = SNMP_VERSION_3;
            pdu->securityName = strdup("bob");
            pdu->securityNameLen = 3;
            const u_long ticks = 4711;
            pdu.AddVariable("sysUpTime.0", ASN_TIMETICKS, &ticks, sizeof ticks);
            const oid coldStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};
            pdu.AddVariable("snmpTrapOID.0", ASN_OBJECT_ID, coldStart, sizeof coldStart);
            netsnmp_session session;
            snmp_sess_init(&session);
            out["v3"] = Readable(
                CTrapRenderer::Render(NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE, &session, pdu.Get()));
            session.s_snmp_errno = SNMPERR_USM_AUTHENTICATIONFAILURE;
            out["v3Marked"] = Readable(
                CTrapRenderer::Render(NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE, &session, pdu.Get()));
            out["otherOperation"] =
                CTrapRenderer::Render(NETSNMP_CALLBACK_OP_TIMED_OUT, &session, pdu.Get());
            pdu->command = SNMP_MSG_GET;
            out["get"] =
                CTrapRenderer::Render(NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE, &session, pdu.Get());
        }
        return out;
    });
    EXPECT_EQ(result["v1Specific"],
              "203.0.113.200\t  pub\t  V1\n"
              "\t  sysUpTimeInstance { UnknowOID } = Timeticks: (100) 0 days, 00:00:01.00\n"
              "\t  snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: enterprises.9.0.3 { "
              "1.3.6.1.4.1.9.0.3 }\n");
    EXPECT_EQ(result["v1LinkDown"],
              "203.0.113.200\t  pub\t  V1\n"
              "\t  sysUpTimeInstance { UnknowOID } = Timeticks: (100) 0 days, 00:00:01.00\n"
              "\t  snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: linkDown { "
              "1.3.6.1.6.3.1.1.5.3 }\n");
    const std::string body =
        "\t  sysUpTime.0 { 1.3.6.1.2.1.1.3.0 } = Timeticks: (4711) 0:00:47.11\n"
        "\t  snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: coldStart { 1.3.6.1.6.3.1.1.5.1 }\n";
    // Without a known transport the sender reads 0.0.0.0.
    EXPECT_EQ(result["v3"], "0.0.0.0\t  bob\t  V3\n" + body);
    EXPECT_EQ(result["v3Marked"], "0.0.0.0\t  bob\t  V3\t  認証エラー\n" + body);
    EXPECT_EQ(result["otherOperation"], "");
    EXPECT_EQ(result["get"], "");
}

}  // namespace
