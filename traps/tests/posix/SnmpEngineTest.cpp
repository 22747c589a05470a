// End-to-end tests of the SNMP engine against independent SNMP implementations: Net-SNMP's
// command-line tools, pysnmp and the npm net-snmp package. Each test runs in a child process in
// a private network namespace, so it owns UDP port 162 on its own loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <span>
#include <sstream>
#include <thread>

#include "tests/support/IsolatedChild.h"
#include "tests/support/SnmpMessages.h"
#include "tests/support/SnmpNotificationSender.h"
#include "traps/CountersFormat.h"
#include "traps/tests/EngineHarness.h"

namespace {

using namespace enginetest;
using nlohmann::json;

constexpr char kEngineA[] = "8000000001020304";
constexpr char kEngineB[] = "80001F88044142";
// The manager's own engine ID (set through its Net-SNMP configuration), which informs use.
constexpr char kLocalEngine[] = "80001F8804766F726D6131";

// A trap text: the header line, then one separator-led line per variable binding.
std::string Trap(const std::string& header, const std::vector<std::string>& lines) {
    std::string text = header + "\n";
    for (const std::string& line : lines) {
        text += "\t  " + line + "\n";
    }
    return text;
}

const std::string kUpTime4711 = "sysUpTime.0 { 1.3.6.1.2.1.1.3.0 } = Timeticks: (4711) 0:00:47.11";
const std::string kColdStart =
    "snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: coldStart { 1.3.6.1.6.3.1.1.5.1 }";

std::string ColdStart(const std::string& header) {
    return Trap(header, {kUpTime4711, kColdStart});
}

// Runs `scenario` in a private network namespace and returns its JSON result; skips the test
// when the prerequisites are missing.
json RunScenario(const std::function<json()>& scenario) {
    json result;
    const std::string missing = MissingPrerequisite();
    if (!missing.empty()) {
        result["skip"] = missing;
        return result;
    }
    test::ChildResult child = test::RunIsolated(true, [&] { return scenario().dump(); });
    if (child.skipped) {
        result["skip"] = child.output;
        return result;
    }
    if (!child.completed) {
        result["failure"] = child.output;
        return result;
    }
    return json::parse(child.output);
}

#define RUN_SCENARIO(result, ...)                          \
    json result = RunScenario(__VA_ARGS__);                \
    if (result.contains("skip")) {                         \
        GTEST_SKIP() << result["skip"].get<std::string>(); \
    }                                                      \
    ASSERT_FALSE(result.contains("failure")) << result["failure"].get<std::string>()

// The UDP datagrams sent in the network namespace so far (both sides of every exchange).
long UdpOutDatagrams() {
    std::ifstream in("/proc/net/snmp");
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(in, line)) {
        if (line.rfind("Udp: ", 0) == 0) {
            rows.push_back(line);
        }
    }
    if (rows.size() < 2) {
        return -1;
    }
    std::istringstream names(rows[0]);
    std::istringstream values(rows[1]);
    std::string name;
    std::string value;
    while (names >> name && values >> value) {
        if (name == "OutDatagrams") {
            return std::atol(value.c_str());
        }
    }
    return -1;
}

std::vector<std::string> NetSnmpV2cTrap(const std::vector<std::string>& varbinds,
                                        const std::string& target = "127.0.0.1:162") {
    std::vector<std::string> args{
        "-v", "2c", "-c", "public", target, "4711", "1.3.6.1.6.3.1.1.5.1"};
    args.insert(args.end(), varbinds.begin(), varbinds.end());
    return args;
}

TEST(SnmpEngineTest, V1TrapsFromNetSnmpAndNode) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        CPeers peers(installation);
        json out;
        CPeer* coldStart =
            peers.NetSnmp("snmptrap", {"-v", "1", "-c", "public", "127.0.0.1:162", "1.3.6.1.4.1.9",
                                       "192.0.2.7", "0", "0", "4711"});
        out["coldStart"] = engine.Receive({coldStart}, 1);
        CPeer* specific = peers.NetSnmp(
            "snmptrap", {"-v", "1", "-c", "public", "127.0.0.1:162", "1.3.6.1.4.1.9", "192.0.2.7",
                         "6", "3", "4711", "1.3.6.1.2.1.2.2.1.1.3", "i", "3"});
        out["specific"] = engine.Receive({specific}, 1);
        // net-snmp (npm) sends an OID's last sub-identifier as the specific number and the rest,
        // here ending in 0, as the enterprise.
        CPeer* node = peers.NodeNetSnmp({{"version", "1"},
                                         {"community", "traps"},
                                         {"notifications",
                                          {{{"kind", "trap"},
                                            {"oid", "1.3.6.1.4.1.9.0.3"},
                                            {"agentAddr", "192.0.2.8"},
                                            {"upTime", 8640000}}}}});
        out["node"] = engine.Receive({node}, 1);
        out["peers"] = PeerReport(peers);
        return out;
    });
    const std::string uptime4711 =
        "sysUpTimeInstance { UnknowOID } = Timeticks: (4711) 0 days, 00:00:47.11";
    EXPECT_EQ(result["coldStart"],
              json::array({Trap("192.0.2.7\t  public\t  V1", {uptime4711, kColdStart})}));
    const std::string specificTrap =
        "snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: enterprises.9.0.3 { 1.3.6.1.4.1.9.0.3 }";
    EXPECT_EQ(result["specific"],
              json::array({Trap("192.0.2.7\t  public\t  V1",
                                {uptime4711, specificTrap,
                                 "ifIndex.3 { 1.3.6.1.2.1.2.2.1.1.3 } = INTEGER: 3"})}));
    EXPECT_EQ(result["node"],
              json::array({Trap("192.0.2.8\t  traps\t  V1",
                                {"sysUpTimeInstance { UnknowOID } = Timeticks: (8640000) 1 days, "
                                 "00:00:00.00",
                                 specificTrap})}))
        << result["peers"].dump();
}

TEST(SnmpEngineTest, V2cTrapsWithEveryCommonTypeFromNetSnmpAndPysnmp) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        CPeers peers(installation);
        json out;
        CPeer* example = peers.NetSnmp("snmptrap", NetSnmpV2cTrap({}));
        out["example"] = engine.Receive({example}, 1);
        const json varbinds = {
            {"1.3.6.1.2.1.2.2.1.1.3", "i", "3"},
            {"1.3.6.1.2.1.2.2.1.7.3", "i", "1"},
            {"1.3.6.1.2.1.2.2.1.5.3", "u", "100000000"},
            {"1.3.6.1.2.1.2.2.1.10.3", "c", "4294967295"},
            {"1.3.6.1.2.1.31.1.1.1.6.3", "C", "12345678901234"},
            {"1.3.6.1.2.1.2.2.1.9.3", "t", "8640000"},
            {"1.3.6.1.2.1.1.1.0", "s", "Linux box"},
            {"1.3.6.1.2.1.1.2.0", "o", "1.3.6.1.4.1.8072.3.2.10"},
            {"1.3.6.1.2.1.4.20.1.1.10.1.2.3", "a", "10.1.2.3"},
            {"1.3.6.1.4.1.12345.1.2.3", "i", "-5"},
        };
        std::vector<std::string> args;
        for (const json& varbind : varbinds) {
            for (const json& part : varbind) {
                args.push_back(part.get<std::string>());
            }
        }
        CPeer* netSnmp = peers.NetSnmp("snmptrap", NetSnmpV2cTrap(args));
        out["netsnmp"] = engine.Receive({netSnmp}, 1);
        json pyVarbinds = {{"1.3.6.1.2.1.1.3.0", "t", "4711"},
                           {"1.3.6.1.6.3.1.1.4.1.0", "o", "1.3.6.1.6.3.1.1.5.1"}};
        pyVarbinds.insert(pyVarbinds.end(), varbinds.begin(), varbinds.end());
        CPeer* pysnmp =
            peers.PySnmp("pysnmp_send.py",
                         {json{{"version", "2c"},
                               {"notifications", {{{"kind", "trap"}, {"varbinds", pyVarbinds}}}}}
                              .dump()});
        out["pysnmp"] = engine.Receive({pysnmp}, 1);
        std::ifstream report(installation.MibReport());
        std::string line;
        out["reportLines"] = json::array();
        while (std::getline(report, line)) {
            if (!line.empty()) {
                out["reportLines"].push_back(line);
            }
        }
        out["peers"] = PeerReport(peers);
        return out;
    });
    EXPECT_EQ(result["example"], json::array({ColdStart("127.0.0.1\t  public\t  V2c")}));
    const std::string expected =
        Trap("127.0.0.1\t  public\t  V2c",
             {kUpTime4711, kColdStart, "ifIndex.3 { 1.3.6.1.2.1.2.2.1.1.3 } = INTEGER: 3",
              "ifAdminStatus.3 { 1.3.6.1.2.1.2.2.1.7.3 } = INTEGER: up(1)",
              "ifSpeed.3 { 1.3.6.1.2.1.2.2.1.5.3 } = Gauge32: 100000000",
              "ifInOctets.3 { 1.3.6.1.2.1.2.2.1.10.3 } = Counter32: 4294967295",
              "ifHCInOctets.3 { 1.3.6.1.2.1.31.1.1.1.6.3 } = Counter64: 12345678901234",
              "ifLastChange.3 { 1.3.6.1.2.1.2.2.1.9.3 } = Timeticks: (8640000) 1 day, 0:00:00.00",
              "sysDescr.0 { 1.3.6.1.2.1.1.1.0 } = STRING: \"Linux box\"",
              "sysObjectID.0 { 1.3.6.1.2.1.1.2.0 } = OID: linux { 1.3.6.1.4.1.8072.3.2.10 }",
              "ipAdEntAddr.10.1.2.3 { 1.3.6.1.2.1.4.20.1.1.10.1.2.3 } = IpAddress: 10.1.2.3",
              "enterprises.12345.1.2.3 { 1.3.6.1.4.1.12345.1.2.3 } = INTEGER: -5"});
    EXPECT_EQ(result["netsnmp"], json::array({expected}));
    EXPECT_EQ(result["pysnmp"], json::array({expected})) << result["peers"].dump();
    // The test MIB set loads without a message.
    EXPECT_EQ(result["reportLines"], json::array());
}

TEST(SnmpEngineTest, V2cInformsAreAnsweredWithTheirRequestIdAndVariables) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        CPeers peers(installation);
        json out;
        CPeer* snmpinform =
            peers.NetSnmp("snmpinform", {"-v", "2c", "-c", "public", "-t", "3", "-r", "0",
                                         "127.0.0.1:162", "4711", "1.3.6.1.6.3.1.1.5.1"});
        out["snmpinform"] = engine.Receive({snmpinform}, 1);
        out["snmpinformExit"] = snmpinform->ExitCode();
        // The display-text value is rewritten in the queued text but must come back unchanged.
        CPeer* raw = peers.PySnmp(
            "pysnmp_raw_inform.py",
            {"4242", "1.3.6.1.2.1.1.3.0=4711", "1.3.6.1.6.3.1.1.4.1.0=1.3.6.1.6.3.1.1.5.1",
             "1.3.6.1.2.1.1.5.0=router-1", std::string("1.3.6.1.4.1.99999.1.2.0=ab\x01") + "c"});
        out["raw"] = engine.Receive({raw}, 1);
        out["rawAnswer"] = json::parse(raw->Output());
        CPeer* node = peers.NodeNetSnmp(
            {{"version", "2c"},
             {"notifications",
              {{{"kind", "inform"}, {"oid", "1.3.6.1.6.3.1.1.5.1"}, {"upTime", 4711}}}}});
        out["node"] = engine.Receive({node}, 1);
        out["nodeOutput"] = node->Output();
        return out;
    });
    EXPECT_EQ(result["snmpinformExit"], 0);
    EXPECT_EQ(result["snmpinform"], json::array({ColdStart("127.0.0.1\t  public\t  V2c")}));

    const json& answer = result["rawAnswer"];
    ASSERT_FALSE(answer["received"].is_null()) << "no answer to the inform";
    EXPECT_EQ(answer["received"]["command"], "ResponsePDU");
    EXPECT_EQ(answer["received"]["requestId"], 4242);
    EXPECT_EQ(answer["received"]["errorStatus"], 0);
    EXPECT_EQ(answer["received"]["errorIndex"], 0);
    EXPECT_EQ(answer["received"]["varbinds"], answer["sent"]["varbinds"]);
    EXPECT_EQ(result["raw"],
              json::array({Trap("127.0.0.1\t  public\t  V2c",
                                {kUpTime4711, kColdStart,
                                 "sysName.0 { 1.3.6.1.2.1.1.5.0 } = STRING: \"router-1\"",
                                 "vormaTestDisplayText.0 { 1.3.6.1.4.1.99999.1.2.0 } = STRING: "
                                 "ab c"})}));

    EXPECT_EQ(result["nodeOutput"], "{\"error\":null}\n");
    EXPECT_EQ(result["node"], json::array({ColdStart("127.0.0.1\t  public\t  V2c")}));
}

TEST(SnmpEngineTest, V3TrapsAndInformsOfConfiguredUsersOnly) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        installation.WriteConfig("VORMA_SNMPTRAP.conf",
                                 std::string("exactEngineID 0x") + kLocalEngine + "\n");
        const std::wstring a = L"8000000001020304";
        const std::wstring b = L"0x80001F88044142";
        const std::wstring local = L"80001F8804766F726D6131";
        CEngineUnderTest engine(installation,
                                {{a, L"alice", L"", L"", L"", L""},
                                 {a, L"bob", L"MD5", L"bobauth123", L"DES", L"bobpriv123"},
                                 {a, L"frank", L"MD5", L"frankauth1", L"", L""},
                                 {b, L"dave", L"SHA", L"daveauth12", L"AES", L"davepriv12"},
                                 {local, L"carol", L"SHA", L"carolauth1", L"AES", L"carolpriv1"},
                                 {local, L"erin", L"MD5", L"erinauth12", L"DES", L"erinpriv12"},
                                 {local, L"gina", L"MD5", L"ginaauth12", L"", L""}});
        engine.Api().OpenListeners();
        CPeers peers(installation);
        auto v3 = [](const std::vector<std::string>& security) {
            std::vector<std::string> args{"-v", "3"};
            args.insert(args.end(), security.begin(), security.end());
            args.insert(args.end(), {"127.0.0.1:162", "4711", "1.3.6.1.6.3.1.1.5.1"});
            return args;
        };
        const std::string engineA = std::string("0x") + kEngineA;
        const std::vector<std::string> alice{"-e", engineA, "-u", "alice", "-l", "noAuthNoPriv"};
        json out;
        out["usersCreated"] = engine.UsersCreated();
        json& texts = out["texts"];
        CPeer* peer = peers.NetSnmp("snmptrap", v3(alice));
        texts.push_back(engine.Receive({peer}, 1));
        peer =
            peers.NetSnmp("snmptrap", v3({"-e", engineA, "-u", "bob", "-l", "authPriv", "-a", "MD5",
                                          "-A", "bobauth123", "-x", "DES", "-X", "bobpriv123"}));
        texts.push_back(engine.Receive({peer}, 1));
        const json tick = {{"1.3.6.1.2.1.1.3.0", "t", "4711"},
                           {"1.3.6.1.6.3.1.1.4.1.0", "o", "1.3.6.1.6.3.1.1.5.1"}};
        peer = peers.PySnmp("pysnmp_send.py",
                            {json{{"version", "3"},
                                  {"engineId", kEngineB},
                                  {"user",
                                   {{"name", "dave"},
                                    {"auth", "SHA"},
                                    {"authKey", "daveauth12"},
                                    {"priv", "AES"},
                                    {"privKey", "davepriv12"}}},
                                  {"notifications", {{{"kind", "trap"}, {"varbinds", tick}}}}}
                                 .dump()});
        texts.push_back(engine.Receive({peer}, 1));
        peer = peers.NodeNetSnmp(
            {{"version", "3"},
             {"engineId", kEngineB},
             {"user",
              {{"name", "dave"},
               {"auth", "SHA"},
               {"authKey", "daveauth12"},
               {"priv", "AES"},
               {"privKey", "davepriv12"}}},
             {"notifications",
              {{{"kind", "trap"}, {"oid", "1.3.6.1.6.3.1.1.5.1"}, {"upTime", 4711}}}}});
        texts.push_back(engine.Receive({peer}, 1));
        // Informs: the sender learns the manager's engine ID and uses the users of that engine.
        CPeer* inform = peers.NetSnmp("snmpinform", {"-v",
                                                     "3",
                                                     "-u",
                                                     "carol",
                                                     "-l",
                                                     "authPriv",
                                                     "-a",
                                                     "SHA",
                                                     "-A",
                                                     "carolauth1",
                                                     "-x",
                                                     "AES",
                                                     "-X",
                                                     "carolpriv1",
                                                     "-t",
                                                     "3",
                                                     "-r",
                                                     "0",
                                                     "127.0.0.1:162",
                                                     "4711",
                                                     "1.3.6.1.6.3.1.1.5.1"});
        texts.push_back(engine.Receive({inform}, 1));
        out["snmpinformExit"] = inform->ExitCode();
        CPeer* pyInform = peers.PySnmp(
            "pysnmp_send.py", {json{{"version", "3"},
                                    {"user",
                                     {{"name", "erin"},
                                      {"auth", "MD5"},
                                      {"authKey", "erinauth12"},
                                      {"priv", "DES"},
                                      {"privKey", "erinpriv12"}}},
                                    {"notifications", {{{"kind", "inform"}, {"varbinds", tick}}}}}
                                   .dump()});
        texts.push_back(engine.Receive({pyInform}, 1));
        out["pysnmpInform"] = pyInform->Output();
        // Wrong pass phrases, an unknown user and a removed user. Of an authNoPriv message with
        // a wrong key Net-SNMP still gives the PDU: it is queued with the mark. An authPriv one
        // stays enciphered and gives nothing. Each case is followed by a trap that arrives after
        // it and authenticates, which must not carry the mark.
        struct Rejected {
            std::vector<std::string> security;
            std::vector<std::string> next;
        };
        const std::vector<std::string> frankRight{
            "-e", engineA, "-u", "frank", "-l", "authNoPriv", "-a", "MD5", "-A", "frankauth1"};
        const std::vector<Rejected> rejected{
            {{"-e", engineA, "-u", "frank", "-l", "authNoPriv", "-a", "MD5", "-A", "wrongpass1"},
             frankRight},
            {{"-e", engineA, "-u", "bob", "-l", "authPriv", "-a", "MD5", "-A", "wrongpass1", "-x",
              "DES", "-X", "bobpriv123"},
             alice},
            {{"-e", engineA, "-u", "mallory", "-l", "noAuthNoPriv"}, alice},
            {frankRight, alice},
        };
        for (std::size_t i = 0; i < rejected.size(); ++i) {
            if (i == 3) {
                engine.Api().DeleteUsmUser(a, L"frank");
            }
            CPeer* bad = peers.NetSnmp("snmptrap", v3(rejected[i].security));
            while (!bad->Finished()) {
                engine.Api().ReceiveRound(kRoundWait);
            }
            CPeer* next = peers.NetSnmp("snmptrap", v3(rejected[i].next));
            out["rejected"].push_back(engine.Receive({next}, i == 0 ? 2 : 1));
        }
        // An inform with a wrong key is queued with the mark and not answered: the sender gets
        // Net-SNMP's report of the wrong digest instead of the response, never both. Every
        // datagram of the namespace is counted.
        auto informOf = [&](const std::string& key) {
            const long before = UdpOutDatagrams();
            CPeer* sender =
                peers.PySnmp("pysnmp_send.py",
                             {json{{"version", "3"},
                                   {"user", {{"name", "gina"}, {"auth", "MD5"}, {"authKey", key}}},
                                   {"notifications", {{{"kind", "inform"}, {"varbinds", tick}}}}}
                                  .dump()});
            json exchange;
            exchange["texts"] = engine.Receive({sender}, 1);
            exchange["output"] = sender->Output();
            exchange["datagrams"] = UdpOutDatagrams() - before;
            return exchange;
        };
        out["rightInform"] = informOf("ginaauth12");
        out["wrongInform"] = informOf("wrongpass1");
        out["peers"] = PeerReport(peers);
        return out;
    });
    EXPECT_EQ(result["usersCreated"], json::array({true, true, true, true, true, true, true}));
    const std::vector<std::string> names{"alice", "bob", "dave", "dave", "carol", "erin"};
    ASSERT_EQ(result["texts"].size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(result["texts"][i],
                  json::array({ColdStart("127.0.0.1\t  " + names[i] + "\t  V3")}))
            << "notification " << i << "; peers: " << result["peers"].dump();
    }
    EXPECT_EQ(result["snmpinformExit"], 0);
    EXPECT_EQ(result["pysnmpInform"], "{\"error\": null, \"errorStatus\": 0}\n");
    const std::string alice = ColdStart("127.0.0.1\t  alice\t  V3");
    const std::vector<json> rejected{
        json::array({ColdStart("127.0.0.1\t  frank\t  V3\t  認証エラー"),
                     ColdStart("127.0.0.1\t  frank\t  V3")}),
        json::array({alice}),
        json::array({alice}),
        json::array({alice}),
    };
    ASSERT_EQ(result["rejected"].size(), rejected.size());
    for (std::size_t i = 0; i < rejected.size(); ++i) {
        EXPECT_EQ(result["rejected"][i], rejected[i]) << "rejected case " << i;
    }
    const json& right = result["rightInform"];
    const json& wrong = result["wrongInform"];
    EXPECT_EQ(right["texts"], json::array({ColdStart("127.0.0.1\t  gina\t  V3")}));
    EXPECT_EQ(right["output"], "{\"error\": null, \"errorStatus\": 0}\n");
    EXPECT_EQ(wrong["texts"], json::array({ColdStart("127.0.0.1\t  gina\t  V3\t  認証エラー")}));
    EXPECT_NE(wrong["output"], right["output"]) << "the wrong key's inform was acknowledged";
    // The sender's discovery probe and the manager's report of its engine ID, the inform and
    // the report of the wrong digest; a response besides would be a fifth.
    EXPECT_EQ(wrong["datagrams"], 4) << "right key: " << right["datagrams"];
}

TEST(SnmpEngineTest, Ipv6SenderShowsTheBareAddress) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        CPeers peers(installation);
        json out;
        CPeer* netSnmp = peers.NetSnmp("snmptrap", NetSnmpV2cTrap({}, "udp6:[::1]:162"));
        out["netsnmp"] = engine.Receive({netSnmp}, 1);
        CPeer* pysnmp = peers.PySnmp(
            "pysnmp_send.py", {json{{"version", "2c"},
                                    {"target", "::1"},
                                    {"community", "v6"},
                                    {"notifications",
                                     {{{"kind", "trap"},
                                       {"varbinds",
                                        {{"1.3.6.1.2.1.1.3.0", "t", "4711"},
                                         {"1.3.6.1.6.3.1.1.4.1.0", "o", "1.3.6.1.6.3.1.1.5.1"}}}}}}}
                                   .dump()});
        out["pysnmp"] = engine.Receive({pysnmp}, 1);
        out["peers"] = PeerReport(peers);
        return out;
    });
    EXPECT_EQ(result["netsnmp"], json::array({ColdStart("::1\t  public\t  V2c")}));
    EXPECT_EQ(result["pysnmp"], json::array({ColdStart("::1\t  v6\t  V2c")}))
        << result["peers"].dump();
}

TEST(SnmpEngineTest, OctetStringsOfJapaneseTextBinaryAndAddresses) {
    struct Case {
        const char* oid;
        const char* hex;
        const char* line;
    };
    const std::vector<Case> cases{
        // 日本語 in UTF-8, Shift-JIS and EUC-JP
        {"1.3.6.1.4.1.99999.1.5.0", "E697A5E69CACE8AA9E",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = STRING: 日本語"},
        {"1.3.6.1.4.1.99999.1.5.0", "93FA967B8CEA",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = STRING: 日本語"},
        {"1.3.6.1.4.1.99999.1.5.0", "C6FCCBDCB8EC",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = STRING: 日本語"},
        // 監視OK, and half-width katakana, in UTF-8
        {"1.3.6.1.4.1.99999.1.5.0", "E79BA3E8A696204F4B",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = STRING: 監視 OK"},
        {"1.3.6.1.4.1.99999.1.5.0", "EFBDB1EFBDB2EFBDB3",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = STRING: ｱｲｳ"},
        // "abc" and 0x01: not text
        {"1.3.6.1.4.1.99999.1.5.0", "61626301",
         "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = Hex-STRING: 61 62 63 01 "},
        {"1.3.6.1.4.1.99999.1.1.0", "C0A80101",
         "vormaTestAddress.0 { 1.3.6.1.4.1.99999.1.1.0 } = InetAddressIPv4: 192.168.1.1"},
        {"1.3.6.1.4.1.99999.1.1.0", "20010DB8000000000000FF0000420001",
         "vormaTestAddress.0 { 1.3.6.1.4.1.99999.1.1.0 } = InetAddressIPv6: "
         "2001:0db8:0000:0000:0000:ff00:0042:0001"},
        // 5 bytes are no address; the convention is not a display one, so they stay bytes
        {"1.3.6.1.4.1.99999.1.1.0", "C0A8010101",
         "vormaTestAddress.0 { 1.3.6.1.4.1.99999.1.1.0 } = Hex-STRING: C0 A8 01 01 01 "},
        {"1.3.6.1.4.1.99999.1.2.0", "61620163",
         "vormaTestDisplayText.0 { 1.3.6.1.4.1.99999.1.2.0 } = STRING: ab c"},
        {"1.3.6.1.4.1.99999.1.4.0", "E697A5",
         "vormaTestSerial.0 { 1.3.6.1.4.1.99999.1.4.0 } = Hex-STRING: E6 97 A5 "},
    };
    RUN_SCENARIO(result, [&] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        CPeers peers(installation);
        std::vector<std::string> args;
        for (const Case& c : cases) {
            args.insert(args.end(), {c.oid, "x", c.hex});
        }
        CPeer* peer = peers.NetSnmp("snmptrap", NetSnmpV2cTrap(args));
        return json{{"texts", engine.Receive({peer}, 1)}, {"peers", PeerReport(peers)}};
    });
    std::vector<std::string> lines{kUpTime4711, kColdStart};
    for (const Case& c : cases) {
        lines.push_back(c.line);
    }
    EXPECT_EQ(result["texts"], json::array({Trap("127.0.0.1\t  public\t  V2c", lines)}))
        << result["peers"].dump();
}

TEST(SnmpEngineTest, GetRequestOnTheTrapPortQueuesNothing) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        CPeers peers(installation);
        CPeer* get = peers.NetSnmp("snmpget", {"-v", "2c", "-c", "public", "-t", "0.3", "-r", "0",
                                               "127.0.0.1:162", "1.3.6.1.2.1.1.5.0"});
        while (!get->Finished()) {
            engine.Api().ReceiveRound(kRoundWait);
        }
        CPeer* trap = peers.NetSnmp("snmptrap", NetSnmpV2cTrap({}));
        json out{{"texts", engine.Receive({trap}, 1)}, {"getExit", get->ExitCode()}};
        return out;
    });
    EXPECT_NE(result["getExit"], 0) << "the get request was answered";
    EXPECT_EQ(result["texts"], json::array({ColdStart("127.0.0.1\t  public\t  V2c")}));
}

// A community (or user name) with a line feed would end the header line inside it: the
// notification is not rendered, but it is counted under its own reason, its sender is listed with
// the name as it came, and an inform of it is answered like any other.
TEST(SnmpEngineTest, ANameWithALineFeedIsCountedListedAndItsInformAnswered) {
    using namespace test::ber;
    const struct {
        const char* name;
        std::string datagram;
        std::int32_t informId;  // 0: not an inform
    } cases[] = {
        {"SNMPv2c trap",
         test::EncodeV2cNotification(test::kTrapPdu, "pub\nlic", 11, 4711, "1.3.6.1.6.3.1.1.5.1"),
         0},
        {"SNMPv1 trap of agent 192.0.2.44",
         test::EncodeCommunityMessage(
             0, "v1\ncommunity",
             Tlv(0xA4, ObjectId("1.3.6.1.4.1.99999") +
                           Tlv(0x40, std::string("\xc0\x00\x02\x2c", 4)) + Integer(0) + Integer(0) +
                           Unsigned(4711, 0x43) + Tlv(0x30, ""))),
         0},
        {"SNMPv2c inform",
         test::EncodeV2cNotification(test::kInformPdu, "inform\n", 4242, 4711,
                                     "1.3.6.1.6.3.1.1.5.1"),
         4242},
    };
    RUN_SCENARIO(result, [&] {
        CTestInstallation installation;
        CTrapCounters counters;
        CEngineUnderTest engine(installation);
        engine.Api().SetCounters(&counters);
        engine.Api().OpenListeners();
        CPeers peers(installation);
        test::CNotificationSender sender("127.0.0.1");
        json out;
        out["sent"] = true;
        for (const auto& c : cases) {
            out["sent"] = out["sent"].get<bool>() && sender.Send(c.datagram);
        }
        // Read in order: once this trap is queued, the ones before it have been read.
        CPeer* marker = peers.NetSnmp("snmptrap", NetSnmpV2cTrap({}));
        out["texts"] = engine.Receive({marker}, 1);
        out["responses"] = sender.TakeResponses();
        const TrapCountersSnapshot snapshot = counters.Snapshot();
        out["lineFeedInName"] = snapshot[TrapCount::kLineFeedInName];
        out["informsAnswered"] = snapshot[TrapCount::kInformsAnswered];
        out["notificationsV1"] = snapshot[TrapCount::kNotificationsV1];
        out["notificationsV2c"] = snapshot[TrapCount::kNotificationsV2c];
        out["rejected"] = json::array();
        for (const RejectedSender& rejected : snapshot.rejected) {
            out["rejected"].push_back({rejected.address, rejected.identity,
                                       CCountersFormat::ReasonName(rejected.reason),
                                       rejected.count});
        }
        return out;
    });
    EXPECT_TRUE(result["sent"]);
    // Only the marker trap is rendered; nothing of the refused ones reaches the queue.
    EXPECT_EQ(result["texts"], json::array({ColdStart("127.0.0.1\t  public\t  V2c")}));
    EXPECT_EQ(result["responses"], json::array({4242}));
    EXPECT_EQ(result["lineFeedInName"], 3);
    EXPECT_EQ(result["informsAnswered"], 1);
    EXPECT_EQ(result["notificationsV1"], 0);
    EXPECT_EQ(result["notificationsV2c"], 1);
    EXPECT_EQ(result["rejected"], json::parse(R"([["127.0.0.1", "inform\n", "line_feed_in_name", 1],
                              ["192.0.2.44", "v1\ncommunity", "line_feed_in_name", 1],
                              ["127.0.0.1", "pub\nlic", "line_feed_in_name", 1]])"));
}

TEST(SnmpEngineTest, TheQueueTellsTheMostTextItHeldAtOnce) {
    constexpr int kTraps = 20;
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        CSnmpApi& api = engine.Api();
        api.OpenListeners();
        json out;
        out["before"] = api.TakeQueuePeakBytes();
        // Traps of growing size, all in the socket before the first round (loopback delivers at
        // once); the rounds queue them all before any is taken out.
        test::CNotificationSender sender("127.0.0.1");
        for (int i = 0; i < kTraps; ++i) {
            sender.SendTrap(
                "public", 4711, "1.3.6.1.6.3.1.1.5.1",
                {{"1.3.6.1.2.1.1.5.0", 's', std::string(static_cast<std::size_t>(i) * 50, 'x')}});
        }
        for (int round = 0; round < 10; ++round) {
            api.ReceiveRound(kRoundWait);
        }
        std::size_t queuedBytes = 0;
        int taken = 0;
        for (std::wstring text = api.PopTrapText(); !text.empty(); text = api.PopTrapText()) {
            queuedBytes += text.size() * sizeof(wchar_t);
            ++taken;
        }
        out["taken"] = taken;
        out["queuedBytes"] = queuedBytes;
        out["peak"] = api.TakeQueuePeakBytes();
        // Taken: the next peak starts from the empty queue.
        out["peakAfterTaking"] = api.TakeQueuePeakBytes();
        // One more, taken out at once: its own size is the peak.
        sender.SendTrap("public", 4711, "1.3.6.1.6.3.1.1.5.1");
        std::size_t singleBytes = 0;
        for (int round = 0; round < 100 && singleBytes == 0; ++round) {
            api.ReceiveRound(kRoundWait);
            singleBytes = api.PopTrapText().size() * sizeof(wchar_t);
        }
        out["singleBytes"] = singleBytes;
        out["singlePeak"] = api.TakeQueuePeakBytes();
        return out;
    });
    EXPECT_EQ(result["before"], 0);
    ASSERT_EQ(result["taken"], kTraps);
    EXPECT_GT(result["queuedBytes"], 0);
    EXPECT_EQ(result["peak"], result["queuedBytes"]);
    EXPECT_EQ(result["peakAfterTaking"], 0);
    EXPECT_GT(result["singleBytes"], 0);
    EXPECT_EQ(result["singlePeak"], result["singleBytes"]);
}

// Occupies a UDP port on one family the way another program would.
class CPortBlocker {
  public:
    CPortBlocker(int family, std::uint16_t port) : m_fd(socket(family, SOCK_DGRAM, 0)) {
        int result = -1;
        if (family == AF_INET) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            result = bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        } else {
            const int only = 1;
            setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_port = htons(port);
            result = bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        m_bound = result == 0;
    }
    ~CPortBlocker() { close(m_fd); }
    bool Bound() const { return m_bound; }

  private:
    int m_fd;
    bool m_bound = false;
};

TEST(SnmpEngineTest, EachFamilyListensWhenTheOtherPortIsTaken) {
    struct Case {
        int blockedFamily;
        const char* target;
        const char* header;
    };
    for (const Case& c : {Case{AF_INET, "udp6:[::1]:162", "::1\t  public\t  V2c"},
                          Case{AF_INET6, "127.0.0.1:162", "127.0.0.1\t  public\t  V2c"}}) {
        RUN_SCENARIO(result, [&] {
            CTestInstallation installation;
            CPortBlocker blocker(c.blockedFamily, 162);
            CEngineUnderTest engine(installation);
            json out{{"blocked", blocker.Bound()}, {"both", engine.Api().OpenListeners()}};
            out["ipv4"] = engine.Api().HasIpv4Listener();
            out["ipv6"] = engine.Api().HasIpv6Listener();
            CPeers peers(installation);
            CPeer* trap = peers.NetSnmp("snmptrap", NetSnmpV2cTrap({}, c.target));
            out["texts"] = engine.Receive({trap}, 1);
            return out;
        });
        SCOPED_TRACE(c.target);
        ASSERT_EQ(result["blocked"], true);
        EXPECT_EQ(result["both"], false);
        EXPECT_EQ(result["ipv4"], c.blockedFamily != AF_INET);
        EXPECT_EQ(result["ipv6"], c.blockedFamily != AF_INET6);
        EXPECT_EQ(result["texts"], json::array({ColdStart(c.header)}));
    }
}

TEST(SnmpEngineTest, ListenersOpenedDuringReceiveRounds) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        std::atomic<bool> opened{false};
        std::thread listener([&] {
            engine.Api().OpenListeners();
            opened = true;
        });
        while (!opened) {
            engine.Api().ReceiveRound(kRoundWait);
        }
        listener.join();
        CPeers peers(installation);
        CPeer* trap = peers.NetSnmp("snmptrap", NetSnmpV2cTrap({}));
        return json{{"texts", engine.Receive({trap}, 1)}};
    });
    EXPECT_EQ(result["texts"], json::array({ColdStart("127.0.0.1\t  public\t  V2c")}));
}

// A v2c coldStart trap of "public" that carries `marker` as sysName.0.
std::string MarkedTrap(const std::string& marker) {
    return test::EncodeV2cNotification(test::kTrapPdu, "public", 1, 4711, "1.3.6.1.6.3.1.1.5.1",
                                       {{"1.3.6.1.2.1.1.5.0", 's', marker}});
}

TEST(SnmpEngineTest, AWaitingRoundEndsForADatagramOrAWakeUpOnly) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        // Opening the listeners woke the rounds; this one takes that wake-up.
        engine.Api().ReceiveRound(kRoundWait);
        json out;
        test::CNotificationSender sender("127.0.0.1");
        // A round without a time-out of its own ends when the trap arrives, with it queued. The
        // waiting thread keeps its result apart: `out` is only written on this thread.
        bool roundForTrap = false;
        std::thread waiting([&] { roundForTrap = engine.Api().ReceiveRound(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        out["sent"] = sender.Send(MarkedTrap("waited-for"));
        waiting.join();
        out["roundForTrap"] = roundForTrap;
        out["queued"] = platform::WideToUtf8(engine.Api().PopTrapText());
        // And when it is woken, with nothing queued.
        bool roundForWakeUp = false;
        std::thread woken([&] { roundForWakeUp = engine.Api().ReceiveRound(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        engine.Api().WakeReceiveRound();
        woken.join();
        out["roundForWakeUp"] = roundForWakeUp;
        out["afterWakeUp"] = platform::WideToUtf8(engine.Api().PopTrapText());
        return out;
    });
    EXPECT_TRUE(result["sent"]);
    EXPECT_TRUE(result["roundForTrap"]);
    EXPECT_NE(result["queued"].get<std::string>().find("STRING: \"waited-for\""), std::string::npos)
        << result["queued"];
    EXPECT_TRUE(result["roundForWakeUp"]);
    EXPECT_EQ(result["afterWakeUp"], "");
}

TEST(SnmpEngineTest, TheDispatchSideWaitsForAQueuedTextOrAWakeUp) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        engine.Api().ReceiveRound(kRoundWait);  // takes the wake-up of the opening
        json out;
        test::CNotificationSender sender("127.0.0.1");
        // The receiving side queues a text on its own thread: the waiting side wakes with it.
        // The waiting thread keeps its result apart: `out` is only written on this thread.
        bool waitForText = false;
        std::thread dispatching([&] { waitForText = engine.Api().WaitForTrapText(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        out["sent"] = sender.Send(MarkedTrap("handed-over"));
        out["round"] = engine.Api().ReceiveRound();
        dispatching.join();
        out["waitForText"] = waitForText;
        out["taken"] = platform::WideToUtf8(engine.Api().PopTrapText());
        // A wake-up that comes before the wait ends it all the same, with nothing queued.
        engine.Api().WakeTrapTextWait();
        out["waitAfterWakeUp"] = engine.Api().WaitForTrapText();
        // A round that waits for room in a full queue reads on once a text is taken.
        engine.Api().SetQueueLimit(1);
        out["sentFirst"] = sender.Send(MarkedTrap("room-1"));
        engine.Api().ReceiveRound();
        out["sentSecond"] = sender.Send(MarkedTrap("room-2"));
        std::thread receiving([&] { engine.Api().ReceiveRound(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string first = platform::WideToUtf8(engine.Api().PopTrapText());
        receiving.join();
        const std::string second = platform::WideToUtf8(engine.Api().PopTrapText());
        out["first"] = first.find("room-1") != std::string::npos;
        out["second"] = second.find("room-2") != std::string::npos;
        return out;
    });
    EXPECT_TRUE(result["sent"]);
    EXPECT_TRUE(result["waitForText"]);
    EXPECT_TRUE(result["round"]);
    EXPECT_NE(result["taken"].get<std::string>().find("STRING: \"handed-over\""), std::string::npos)
        << result["taken"];
    EXPECT_FALSE(result["waitAfterWakeUp"]);
    EXPECT_TRUE(result["sentFirst"]);
    EXPECT_TRUE(result["sentSecond"]);
    EXPECT_TRUE(result["first"]);
    EXPECT_TRUE(result["second"]);
}

TEST(SnmpEngineTest, AFullQueueLeavesTheDatagramsInTheSocketUntilThereIsRoom) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        engine.Api().SetQueueLimit(1);  // one trap text fills it
        test::CNotificationSender sender("127.0.0.1");
        json out;
        bool sent = true;
        for (int i = 1; i <= 4; ++i) {
            sent = sender.Send(MarkedTrap("full-" + std::to_string(i))) && sent;
        }
        out["sent"] = sent;
        // Every datagram is in the socket's buffer: rounds take one, then nothing more.
        for (int i = 0; i < 20; ++i) {
            engine.Api().ReceiveRound(kRoundWait);
        }
        auto take = [&engine] {
            std::vector<std::string> values;
            for (std::wstring text = engine.Api().PopTrapText(); !text.empty();
                 text = engine.Api().PopTrapText()) {
                const std::string utf8 = platform::WideToUtf8(text);
                const std::size_t at = utf8.find("full-");
                values.push_back(at == std::string::npos ? utf8 : utf8.substr(at, 6));
            }
            return values;
        };
        out["whileFull"] = take();
        // Each text taken makes room for the next datagram, in the order they came.
        for (int i = 0; i < 3; ++i) {
            engine.Api().ReceiveRound(kRoundWait);
            out["oneByOne"].push_back(take());
        }
        return out;
    });
    EXPECT_TRUE(result["sent"]);
    EXPECT_EQ(result["whileFull"], json::array({"full-1"}));
    EXPECT_EQ(result["oneByOne"], json::parse(R"([["full-2"], ["full-3"], ["full-4"]])"));
}

constexpr int kTraps = 1000;
constexpr int kInformEvery = 50;

TEST(SnmpEngineTest, BurstKeepsTheOrderOfArrival) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        engine.Api().OpenListeners();
        CPeers peers(installation);
        CPeer* node = peers.NodeNetSnmp(
            {{"version", "2c"}, {"burst", {{"count", kTraps}, {"informEvery", kInformEvery}}}});
        std::vector<std::string> texts = engine.Receive({node}, kTraps + kTraps / kInformEvery);
        // Keep the result small: the value of each text's last line.
        const std::regex value("STRING: \"(\\w+)\"\n$");
        json values = json::array();
        std::smatch match;
        for (const std::string& text : texts) {
            values.push_back(std::regex_search(text, match, value) ? match[1].str() : text);
        }
        return json{{"values", values},
                    {"sample", texts.empty() ? "" : texts.front()},
                    {"peer", node->Output()}};
    });
    json expected = json::array();
    for (int i = 0; i < kTraps; ++i) {
        expected.push_back("n" + std::to_string(i));
        if ((i + 1) % kInformEvery == 0) {
            expected.push_back("barrier" + std::to_string(i));
        }
    }
    EXPECT_EQ(result["peer"], "{\"error\":null}\n");
    EXPECT_EQ(result["values"], expected);
    EXPECT_EQ(result["sample"],
              Trap("127.0.0.1\t  public\t  V2c",
                   {"sysUpTime.0 { 1.3.6.1.2.1.1.3.0 } = Timeticks: (100) 0:00:01.00",
                    "snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: vormaTestEvent { "
                    "1.3.6.1.4.1.99999.0.1 }",
                    "vormaTestOctets.0 { 1.3.6.1.4.1.99999.1.5.0 } = STRING: \"n0\""}));
}

// The datagrams of the fuzz seeds (fuzz/capture-datagrams.sh), sent by snmptrap and snmpinform,
// with the SNMPv3 users and local engine ID they were made for.
std::string SeedDatagram(const std::string& name) {
    std::ifstream in(TestDir() / ".." / ".." / "fuzz" / "corpus" / "datagram" / name,
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring RenderBytes(CSnmpApi& api, const std::string& bytes) {
    return api.RenderDatagram(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(SnmpEngineTest, ADatagramRendersAsItDoesWhenReceived) {
    struct Case {
        const char* file;
        const char* header;  // of the text received over the network; empty: nothing is queued
    };
    // Authenticated traps of one engine in the order they were sent: an older one is refused.
    const std::vector<Case> cases{
        {"v1-enterprise.bin", "192.0.2.1\t  public\t  V1"},
        {"v1-linkdown.bin", "192.0.2.2\t  pub lic\t  V1"},
        {"v2c-trap.bin", "127.0.0.1\t  public\t  V2c"},
        {"v2c-inform.bin", "127.0.0.1\t  private\t  V2c"},
        {"v3-noauth.bin", "127.0.0.1\t  fuzzplain\t  V3"},
        {"v3-authnopriv-md5.bin", "127.0.0.1\t  fuzzmd5\t  V3"},
        {"v3-authpriv-sha-aes.bin", "127.0.0.1\t  fuzzsha\t  V3"},
        {"v3-authpriv-md5-des.bin", "127.0.0.1\t  fuzzmd5\t  V3"},
        {"v3-authpriv-wrongkey.bin", ""},
        {"v3-inform-noauth.bin", "127.0.0.1\t  fuzzplain\t  V3"},
        {"v3-inform-probe.bin", ""},
    };
    RUN_SCENARIO(result, [&] {
        CTestInstallation installation;
        installation.WriteConfig("VORMA_SNMPTRAP.conf", "exactEngineID 0x80001f88805646554a5a\n");
        std::vector<UsmUser> users;
        for (const wchar_t* engine : {L"0x8000000001020304", L""}) {
            users.push_back({engine, L"fuzzplain", L"", L"", L"", L""});
            users.push_back({engine, L"fuzzmd5", L"MD5", L"fuzzauthpass", L"DES", L"fuzzprivpass"});
            users.push_back({engine, L"fuzzsha", L"SHA", L"fuzzauthpass", L"AES", L"fuzzprivpass"});
        }
        CEngineUnderTest engine(installation, users);
        engine.Api().OpenListeners();
        const int sender = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(162);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto send = [&](const std::string& bytes) {
            sendto(sender, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to);
        };
        // Each datagram is followed by a marker trap: what arrives before it is the datagram's.
        const std::string marker = SeedDatagram("v2c-coldstart.bin");
        const std::string markerText = platform::WideToUtf8(RenderBytes(engine.Api(), marker));
        json out = json::array();
        for (const Case& c : cases) {
            const std::string bytes = SeedDatagram(c.file);
            json one{{"direct", platform::WideToUtf8(RenderBytes(engine.Api(), bytes))},
                     {"received", json::array()},
                     {"size", bytes.size()}};
            send(bytes);
            send(marker);
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            bool markerSeen = false;
            while (!markerSeen && std::chrono::steady_clock::now() < limit) {
                engine.Api().ReceiveRound(kRoundWait);
                for (std::wstring text = engine.Api().PopTrapText(); !text.empty();
                     text = engine.Api().PopTrapText()) {
                    std::string utf8 = platform::WideToUtf8(text);
                    if (utf8 == "127.0.0.1" + markerText.substr(std::strlen("0.0.0.0"))) {
                        markerSeen = true;
                    } else {
                        one["received"].push_back(utf8);
                    }
                }
            }
            out.push_back(one);
        }
        close(sender);
        return out;
    });
    ASSERT_EQ(result.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const json& one = result[i];
        const std::string header = cases[i].header;
        ASSERT_GT(one["size"], 0u) << cases[i].file << " is missing";
        if (header.empty()) {
            EXPECT_EQ(one["received"], json::array()) << cases[i].file;
            EXPECT_EQ(one["direct"], "") << cases[i].file;
            continue;
        }
        ASSERT_EQ(one["received"].size(), 1u) << cases[i].file << "\n" << one.dump(1);
        const std::string received = one["received"][0];
        EXPECT_EQ(received.substr(0, header.size() + 1), header + "\n") << cases[i].file;
        // The direct rendering has no sender: its SNMPv2c and SNMPv3 texts show 0.0.0.0.
        std::string direct = one["direct"];
        if (header.find("\t  V1") == std::string::npos) {
            direct.replace(0, std::strlen("0.0.0.0"), "127.0.0.1");
        }
        EXPECT_EQ(direct, received) << cases[i].file;
    }
}

TEST(SnmpEngineTest, DatagramsThatAreNoNotificationRenderNothing) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        const std::string trap = SeedDatagram("v2c-coldstart.bin");
        // The PDU tag of the SNMPv2 trap (0xA7) as another PDU type.
        auto retagged = [&](char tag) {
            std::string bytes = trap;
            const std::size_t at = bytes.find('\xA7');
            if (at != std::string::npos) {
                bytes[at] = tag;
            }
            return bytes;
        };
        json out;
        out["trap"] = platform::WideToUtf8(RenderBytes(engine.Api(), trap));
        for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
                 {"empty", ""},
                 {"truncated", trap.substr(0, trap.size() / 2)},
                 {"lastByteMissing", trap.substr(0, trap.size() - 1)},
                 {"get", retagged('\xA0')},
                 {"response", retagged('\xA2')},
                 {"report", retagged('\xA8')},
                 {"notSnmp", std::string("GET / HTTP/1.0\r\n\r\n")}}) {
            out["others"][name] = platform::WideToUtf8(RenderBytes(engine.Api(), bytes));
        }
        // Nothing of it reached the trap queue.
        out["queue"] = platform::WideToUtf8(engine.Api().PopTrapText());
        return out;
    });
    // The datagram as it came renders; no sender is known.
    EXPECT_EQ(result["trap"],
              Trap("0.0.0.0\t  public\t  V2c",
                   {"sysUpTime.0 { 1.3.6.1.2.1.1.3.0 } = Timeticks: (0) 0:00:00.00", kColdStart}));
    for (const auto& [name, text] : result["others"].items()) {
        EXPECT_EQ(text, "") << name;
    }
    EXPECT_EQ(result["queue"], "");
}

TEST(SnmpEngineTest, UsersAreCreatedAndRemoved) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        CEngineUnderTest engine(installation);
        CSnmpApi& api = engine.Api();
        json out;
        out["created"] =
            api.CreateUsmUser(L"0x8000000001020304", L"bob", L"SHA bobauth123", L"AES bobpriv123");
        out["sameEngineOtherSpelling"] = api.HasUsmUser(L"8000000001020304", L"bob");
        out["otherEngine"] = api.HasUsmUser(L"8000000001020305", L"bob");
        out["local"] = api.CreateUsmUser(L"", L"carol", L"", L"");
        out["localFound"] = api.HasUsmUser(L"", L"carol");
        out["badProtocol"] = api.CreateUsmUser(L"8000000001020304", L"dave", L"XYZ dave12345", L"");
        out["shortPassphrase"] = api.CreateUsmUser(L"8000000001020304", L"erin", L"MD5 short", L"");
        api.DeleteUsmUser(L"8000000001020304", L"");
        api.DeleteUsmUser(L"8000000001020304", L"nobody");
        out["afterNoOps"] = api.HasUsmUser(L"8000000001020304", L"bob");
        api.DeleteUsmUser(L"8000000001020304", L"bob");
        out["afterDelete"] = api.HasUsmUser(L"8000000001020304", L"bob");
        api.DeleteUsmUser(L"", L"carol");
        out["localAfterDelete"] = api.HasUsmUser(L"", L"carol");
        out["emptyQueue"] = api.PopTrapText().empty();
        return out;
    });
    EXPECT_EQ(result["created"], true);
    EXPECT_EQ(result["sameEngineOtherSpelling"], true);
    EXPECT_EQ(result["otherEngine"], false);
    EXPECT_EQ(result["local"], true);
    EXPECT_EQ(result["localFound"], true);
    EXPECT_EQ(result["badProtocol"], false);
    EXPECT_EQ(result["shortPassphrase"], false);
    EXPECT_EQ(result["afterNoOps"], true);
    EXPECT_EQ(result["afterDelete"], false);
    EXPECT_EQ(result["localAfterDelete"], false);
    EXPECT_EQ(result["emptyQueue"], true);
}

TEST(SnmpEngineTest, ShutdownLeavesNothingToCloseTwice) {
    RUN_SCENARIO(result, [] {
        CTestInstallation installation;
        auto api = std::make_unique<CSnmpApi>();
        api->SetupNetSnmp(kAppName, installation.SnmpDir(), installation.MibReport());
        json out{{"opened", api->OpenListeners()}};
        api->ShutdownNetSnmp(kAppName);
        out["ipv4"] = api->HasIpv4Listener();
        out["ipv6"] = api->HasIpv6Listener();
        api.reset();  // the destructor finds no session left
        // The port is free again.
        CPortBlocker v4(AF_INET, 162);
        CPortBlocker v6(AF_INET6, 162);
        out["freed"] = v4.Bound() && v6.Bound();
        return out;
    });
    EXPECT_EQ(result["opened"], true);
    EXPECT_EQ(result["ipv4"], false);
    EXPECT_EQ(result["ipv6"], false);
    EXPECT_EQ(result["freed"], true);
}

}  // namespace
