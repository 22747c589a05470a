// A datagram that reaches port 162, through Net-SNMP's parse and the whole rendering of the SNMP
// engine: SNMPv1 traps, SNMPv2c and SNMPv3 traps and informs. The SNMPv3 users and the local
// engine ID are those of the seeds that fuzz/capture-datagrams.sh captures, so that seeds with
// authentication and privacy are deciphered and rendered.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <net-snmp/library/lcd_time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzInstallation.h"
#include "platform/Text.h"
#include "traps/SnmpApi.h"

namespace {

CSnmpApi* g_api = nullptr;
bool g_print = false;  // VORMA_FUZZ_PRINT set: each text is printed (to look at a corpus)

void CreateUser(const wchar_t* engineId, const wchar_t* name, const wchar_t* auth,
                const wchar_t* priv) {
    if (!g_api->CreateUsmUser(engineId, name, auth, priv)) {
        std::fprintf(stderr, "datagram fuzzer: the SNMPv3 user %ls was not created\n", name);
        std::abort();
    }
}

// Net-SNMP remembers the boots and time of each sending engine and then refuses older ones;
// forgetting them makes every input count on its own. The record of the local engine, which
// Net-SNMP makes at start and informs need, is made again.
void ForgetEngineTimes() {
    free_etimelist();
    u_char engine[64];
    const size_t length = snmpv3_get_engineID(engine, sizeof engine);
    set_enginetime(engine, length, snmpv3_local_snmpEngineBoots(), snmpv3_local_snmpEngineTime(),
                   TRUE);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    static CFuzzInstallation installation(true);
    // The engine ID that the SNMPv3 inform seeds address.
    installation.WriteSnmpConfig(std::string(CFuzzInstallation::kAppName) + ".conf",
                                 "exactEngineID 0x80001f88805646554a5a\n");
    static CSnmpApi api;
    g_api = &api;
    // Setting up loads the MIB modules already. LoadMibs is left out: it loads them again and
    // Net-SNMP keeps a table of the first load that it never frees, which the leak check at the
    // end of a run would report.
    api.SetupNetSnmp(CFuzzInstallation::kAppName, installation.SnmpDir(), installation.MibReport());
    // Net-SNMP's complaints about bad datagrams would flood the fuzzer's output.
    snmp_disable_log();
    snmp_enable_filelog("/dev/null", 1);
    g_print = getenv("VORMA_FUZZ_PRINT") != nullptr;

    const wchar_t kAgentEngine[] = L"0x8000000001020304";
    for (const wchar_t* engine : {kAgentEngine, L""}) {
        CreateUser(engine, L"fuzzplain", L"", L"");
        CreateUser(engine, L"fuzzmd5", L"MD5 fuzzauthpass", L"DES fuzzprivpass");
        CreateUser(engine, L"fuzzsha", L"SHA fuzzauthpass", L"AES fuzzprivpass");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ForgetEngineTimes();
    const std::wstring text = g_api->RenderDatagram(std::span<const std::uint8_t>(data, size));
    if (g_print) {
        std::printf("%s\n", platform::WideToUtf8(text).c_str());
    }
    // A trap text is a header line and a line per variable binding, each ended by a line feed.
    if (!text.empty() && text.back() != L'\n') {
        std::fprintf(stderr, "datagram fuzzer: a trap text without its last line feed\n");
        std::abort();
    }
    return 0;
}
