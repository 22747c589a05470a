// The text work of trap rendering on arbitrary lines and values, with the MIB modules loaded:
// ShortenObjectName, DecorateLine (which parses object names through the MIBs), SenderAddress,
// RewriteOctetString on any line and value, and RenderVariable on variable bindings of every
// type with arbitrary names and values, as the receive callback renders them.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/ObjectName.h"
#include "fuzz/FuzzInstallation.h"
#include "traps/SnmpApi.h"
#include "traps/TrapRenderer.h"

namespace {

// Object names to start from: the test module's objects with and without textual conventions,
// standard objects, and names that no MIB knows.
const std::vector<std::vector<oid>> kPrefixes = {
    {1, 3, 6, 1, 4, 1, 99999, 1, 1},  // vormaTestAddress (InetAddress)
    {1, 3, 6, 1, 4, 1, 99999, 1, 2},  // vormaTestDisplayText (a display convention)
    {1, 3, 6, 1, 4, 1, 99999, 1, 3},  // vormaTestDisplayString
    {1, 3, 6, 1, 4, 1, 99999, 1, 4},  // vormaTestSerial (another convention)
    {1, 3, 6, 1, 4, 1, 99999, 1, 5},  // vormaTestOctets (no convention)
    {1, 3, 6, 1, 2, 1, 1, 5},         // sysName
    {1, 3, 6, 1, 2, 1, 2, 2, 1, 2},   // ifDescr
    {1, 3, 6, 1, 6, 3, 1, 1, 4, 1},   // snmpTrapOID
    {1, 3, 6, 1, 4, 1, 12345},        // an enterprise no MIB names
    {},
};

constexpr u_char kTypes[] = {
    ASN_OCTET_STR, ASN_OCTET_STR,     ASN_OCTET_STR,       ASN_INTEGER,
    ASN_UNSIGNED,  ASN_TIMETICKS,     ASN_COUNTER,         ASN_COUNTER64,
    ASN_IPADDRESS, ASN_OBJECT_ID,     ASN_OPAQUE,          ASN_BIT_STR,
    ASN_NULL,      SNMP_NOSUCHOBJECT, SNMP_NOSUCHINSTANCE, SNMP_ENDOFMIBVIEW};

// A variable binding list of one variable, freed at the end.
class CVariable {
  public:
    CVariable(const std::vector<oid>& name, u_char type, const void* value, size_t length) {
        snmp_varlist_add_variable(&m_list, name.data(), name.size(), type, value, length);
    }
    ~CVariable() { snmp_free_varbind(m_list); }
    CVariable(const CVariable&) = delete;
    CVariable& operator=(const CVariable&) = delete;
    variable_list* Get() { return m_list; }

  private:
    variable_list* m_list = nullptr;
};

// A variable of `type` whose value is well formed for the type, as Net-SNMP's parser makes them.
void RenderVariableOfType(FuzzedDataProvider& input, const std::vector<oid>& name, u_char type) {
    switch (type) {
        case ASN_INTEGER:
        case ASN_UNSIGNED:
        case ASN_TIMETICKS:
        case ASN_COUNTER: {
            const long value = input.ConsumeIntegral<long>();
            CVariable variable(name, type, &value, sizeof value);
            CTrapRenderer::RenderVariable(variable.Get());
            break;
        }
        case ASN_COUNTER64: {
            counter64 value{input.ConsumeIntegral<u_long>(), input.ConsumeIntegral<u_long>()};
            value.high &= 0xFFFFFFFFu;
            value.low &= 0xFFFFFFFFu;
            CVariable variable(name, type, &value, sizeof value);
            CTrapRenderer::RenderVariable(variable.Get());
            break;
        }
        case ASN_IPADDRESS: {
            const std::string bytes = input.ConsumeBytesAsString(4);
            if (bytes.size() == 4) {
                CVariable variable(name, type, bytes.data(), bytes.size());
                CTrapRenderer::RenderVariable(variable.Get());
            }
            break;
        }
        case ASN_OBJECT_ID: {
            std::vector<oid> value;
            const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, MAX_OID_LEN);
            for (std::size_t i = 0; i < count; ++i) {
                value.push_back(input.ConsumeIntegral<std::uint32_t>());
            }
            CVariable variable(name, type, value.data(), value.size() * sizeof(oid));
            CTrapRenderer::RenderVariable(variable.Get());
            break;
        }
        case ASN_NULL:
        case SNMP_NOSUCHOBJECT:
        case SNMP_NOSUCHINSTANCE:
        case SNMP_ENDOFMIBVIEW: {
            CVariable variable(name, type, nullptr, 0);
            CTrapRenderer::RenderVariable(variable.Get());
            break;
        }
        default: {
            const std::string bytes = input.ConsumeRandomLengthString(1600);
            CVariable variable(name, type, bytes.data(), bytes.size());
            CTrapRenderer::RenderVariable(variable.Get());
            // The line as it comes, or as Net-SNMP would print it.
            std::string line = input.ConsumeRandomLengthString(256);
            CTrapRenderer::RewriteOctetString(variable.Get(), line);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    static CFuzzInstallation installation(true);
    static CSnmpApi api;
    api.SetupNetSnmp(CFuzzInstallation::kAppName, installation.SnmpDir(), installation.MibReport());
    snmp_disable_log();
    snmp_enable_filelog("/dev/null", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);

    const std::string line = input.ConsumeRandomLengthString(512);
    ShortenObjectName(line);
    CTrapRenderer::DecorateLine(line);
    CTrapRenderer::SenderAddress(line);

    std::vector<oid> name =
        kPrefixes[input.ConsumeIntegralInRange<std::size_t>(0, kPrefixes.size() - 1)];
    const std::size_t extra = input.ConsumeIntegralInRange<std::size_t>(0, 8);
    for (std::size_t i = 0; i < extra && name.size() < MAX_OID_LEN; ++i) {
        name.push_back(input.ConsumeIntegral<std::uint32_t>());
    }
    if (name.empty()) {
        name.push_back(0);
    }
    RenderVariableOfType(input, name, input.PickValueInArray(kTypes));
    return 0;
}
