// The Get pass against a real SNMP agent: Debian's snmpd in a private network namespace, asked by
// Debian's snmpget as the installation's tool, with the MIB set loaded as the manager loads it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "getpoll/GetCycle.h"
#include "getpoll/tests/AgentHarness.h"
#include "platform/Text.h"
#include "tests/support/ApplicationLog.h"
#include "tests/support/IsolatedChild.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"
#include "traps/ListEvaluation.h"
#include "traps/SnmpApi.h"

namespace {

using gettest::CTestAgent;
using gettest::CTestInstallation;
namespace fs = std::filesystem;

constexpr char kAppName[] = "VORMA_SNMPTRAP";
constexpr std::uint32_t kGetResult = 0x7D1;
constexpr std::uint32_t kGetFailed = 0xC00017DA;

std::wstring Wide(const fs::path& path) {
    return platform::Utf8ToWide(path.string());
}

std::string Narrow(const std::wstring& text) {
    return platform::WideToUtf8(text);
}

class GetPassAgentTest : public ::testing::Test {
  protected:
    GetPassAgentTest() : m_locale("C.UTF-8") {}

    void SetUp() override {
        const std::string missing = gettest::MissingPrerequisite();
        if (!missing.empty()) {
            GTEST_SKIP() << missing;
        }
        m_installation = std::make_unique<CTestInstallation>();
    }

    // Runs `body` in a private network namespace with the agent listening and Net-SNMP prepared
    // as the manager prepares it. Empty text when it went well, else what went wrong; sets
    // m_skipped when no namespace could be made.
    std::string WithAgent(const std::function<std::string()>& body) {
        test::ChildResult child = test::RunIsolated(true, [&]() -> std::string {
            CTestAgent agent(*m_installation);
            if (!agent.Failure().empty()) {
                throw std::runtime_error(agent.Failure());
            }
            CSnmpApi api;
            api.SetupNetSnmp(kAppName, m_installation->SnmpDir(), {});
            m_api = &api;
            std::string result = body();
            api.ShutdownNetSnmp(kAppName);
            return result;
        });
        m_skipped = child.skipped;
        return child.completed ? child.output : "failed: " + child.output;
    }

    // One pass with the installation's folders, or `installDir` for the tool, decorating as the
    // scheduler does: through the engine, under its library lock.
    void RunPass(const std::function<bool()>& isStopping = {}, fs::path installDir = {}) {
        if (installDir.empty()) {
            installDir = m_installation->InstallDir();
        }
        CGetCycle cycle(
            Wide(installDir), Wide(m_installation->SnmpDir()),
            {[this](const std::wstring& text) { return IsExcluded(text, m_white, m_black); },
             [this](const std::wstring& text) { return GetEventType(text, m_levels); }},
            Wide(m_installation->FilterLogBase()), m_writeMutex,
            isStopping ? isStopping : [] { return false; },
            [this](std::string_view line) { return m_api->DecorateLine(line); });
        cycle.Run();
    }

    test::ScopedLocale m_locale;
    test::TempSysRoot m_root;
    std::unique_ptr<CTestInstallation> m_installation;
    bool m_skipped = false;
    CSnmpApi* m_api = nullptr;  // the engine of the running child
    std::vector<std::wstring> m_white;
    std::vector<std::wstring> m_black;
    EventLevelList m_levels;
    std::mutex m_writeMutex;
};

#define EXPECT_PASS_RAN(outcome)   \
    if (m_skipped) {               \
        GTEST_SKIP() << (outcome); \
    }                              \
    ASSERT_TRUE((outcome).rfind("failed: ", 0) != 0) << (outcome)

std::wstring Result(const std::wstring& header, const std::wstring& value) {
    return header + L"\n\t  " + value + L"\n";
}

TEST_F(GetPassAgentTest, AnswersOfEveryVersionAndSecurityLevel) {
    m_installation->WriteGetOidList({
        "-v:1 -c:public -agent:127.0.0.1 -oid:sysDescr.0",
        "-v:2c -c:public -agent:udp:127.0.0.1:161 -oid:SNMPv2-MIB::sysLocation.0",
        "-v:2c -c:public -agent:127.0.0.1 -oid:sysObjectID.0",
        "-v:2c -c:public -agent:127.0.0.1 -oid:1.3.6.1.4.1.99999.1.0",
        // Privacy without authentication: the request goes out without either.
        "-v:3 -u:plain -x:AES -XP:unused-pass -agent:127.0.0.1 -oid:sysDescr.0",
        "-v:3 -u:md5des -a:MD5 -AP:md5des-auth -agent:127.0.0.1 -oid:sysLocation.0",
        "-v:3 -u:md5des -a:MD5 -AP:md5des-auth -x:DES -XP:md5des-priv -agent:127.0.0.1 "
        "-oid:sysDescr.0",
        "-v:3 -u:shaaes -a:SHA -AP:shaaes-auth -x:AES -XP:shaaes-priv -agent:127.0.0.1 "
        "-oid:1.3.6.1.2.1.1.6.0",
    });
    m_levels = {{4, L"Server room"}};
    const std::string outcome = WithAgent([&] {
        RunPass();
        return std::string("done");
    });
    EXPECT_PASS_RAN(outcome);

    const std::wstring descr = L"sysDescr.0 { 1.3.6.1.2.1.1.1.0 } = STRING: Vorma test agent\n";
    const std::wstring location = L"sysLocation.0 { 1.3.6.1.2.1.1.6.0 } = STRING: Server room 3\n";
    struct Expected {
        std::wstring text;
        int type;
    };
    const Expected expected[] = {
        {Result(L"127.0.0.1\t  public\t  V1", descr), 2},
        {Result(L"udp:127.0.0.1:161\t  public\t  V2c", location), 4},
        {Result(L"127.0.0.1\t  public\t  V2c",
                L"sysObjectID.0 { 1.3.6.1.2.1.1.2.0 } = OID: NET-SNMP-TC::linux "
                L"{ 1.3.6.1.4.1.8072.3.2.10 }\n"),
         2},
        // The two-line dump is one line; its line ends have become blanks.
        {Result(L"127.0.0.1\t  public\t  V2c",
                L"enterprises.99999.1.0 { 1.3.6.1.4.1.99999.1.0 } = Hex-STRING: 80 01 02 03 04 "
                L"05 06 07 08 09 0A 0B 0C 0D 0E 0F  10 11 12 13 14 15  "),
         2},
        {Result(L"127.0.0.1\t  plain\t  V3", descr), 2},
        {Result(L"127.0.0.1\t  md5des\t  V3", location), 4},
        {Result(L"127.0.0.1\t  md5des\t  V3", descr), 2},
        {Result(L"127.0.0.1\t  shaaes\t  V3", location), 4},
    };
    const auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), std::size(expected));
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].eventIdentifier, kGetResult) << i;
        EXPECT_EQ(events[i].eventType, expected[i].type) << i;
        ASSERT_EQ(events[i].strings.size(), 1u);
        EXPECT_EQ(events[i].strings[0], expected[i].text) << i << "\n"
                                                          << Narrow(events[i].strings[0]);
    }
}

TEST_F(GetPassAgentTest, ResultHeldBackByTheFiltersGoesToTheFilterLog) {
    m_installation->WriteGetOidList({
        "-v:2c -c:public -agent:127.0.0.1 -oid:sysDescr.0",
        "-v:2c -c:public -agent:127.0.0.1 -oid:sysLocation.0",
    });
    m_black = {L"Server room"};
    const std::string outcome = WithAgent([&] {
        RunPass();
        return std::string("done");
    });
    EXPECT_PASS_RAN(outcome);

    const auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].strings.at(0).find(L"sysDescr.0"), std::wstring::npos);

    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator(m_installation->SnmpDir() / "logs")) {
        logs.push_back(entry.path());
    }
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(logs[0].filename().string().starts_with("FilterLog_"));
    const std::string log = gettest::ReadFile(logs[0]);
    // One line: the line feeds of the text are written as \n.
    const std::string text =
        "] 127.0.0.1\t  public\t  V2c\\n\t  sysLocation.0 { 1.3.6.1.2.1.1.6.0 } = STRING: Server "
        "room 3\\n\\n\r\n";
    EXPECT_TRUE(log.starts_with("[")) << log;
    EXPECT_TRUE(log.ends_with(text)) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST_F(GetPassAgentTest, FailedRequestsAreReportedAndNothingToAskReportsNothing) {
    m_installation->WriteGetOidList({
        "-v:2c -c:wrong -agent:127.0.0.1 -oid:sysDescr.0",
        "-v:1 -c:public -agent:127.0.0.1 -oid:sysDescr.5",
        "-v:3 -u:shaaes -a:SHA -AP:not-the-pass -x:AES -XP:shaaes-priv -agent:127.0.0.1 "
        "-oid:sysDescr.0",
    });
    const fs::path bare = m_installation->Root() / "bare";
    fs::create_directories(bare);
    const fs::path list = m_installation->SnmpDir() / "Config" / "GetOIDList.txt";
    const std::string outcome = WithAgent([&] {
        RunPass();
        RunPass({}, bare);  // an installation without the tool
        gettest::WriteFile(list, "");
        RunPass();
        fs::remove(list);
        RunPass();
        return std::string("done");
    });
    EXPECT_PASS_RAN(outcome);

    const std::wstring failed = L"snmpgetの実行に失敗しました。";
    const std::wstring notStarted = L"プロセスの生成に失敗しました。[0x00000002]";
    const std::vector<std::wstring> expectedStarts = {
        // The tool timed out: its exit code and its own text.
        failed + L"[1]\r\nTimeout: No Response from 127.0.0.1.\n",
        failed + L"[2]\r\nError in packet\nReason: (noSuchName)",
        failed + L"[1]\r\n",
        notStarted,
        notStarted,
        notStarted,
    };
    const auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), expectedStarts.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].eventIdentifier, kGetFailed) << i;
        EXPECT_EQ(events[i].eventType, 1) << i;
        ASSERT_EQ(events[i].strings.size(), 1u);
        EXPECT_TRUE(events[i].strings[0].starts_with(expectedStarts[i]))
            << i << "\n"
            << Narrow(events[i].strings[0]);
    }
    EXPECT_EQ(events[0].strings[0], expectedStarts[0]);
    EXPECT_NE(events[2].strings[0].find(L"Authentication failure"), std::wstring::npos)
        << Narrow(events[2].strings[0]);
    EXPECT_EQ(events[3].strings[0], notStarted);
}

TEST_F(GetPassAgentTest, StopDuringThePassLeavesTheLaterEntriesUnasked) {
    // Four slow requests (the agent does not answer a wrong community). The tool notes each
    // request it gets, and holds the first one until the stop has been requested, so that the
    // stop comes while a request runs.
    m_installation->WriteGetOidList({
        "-v:2c -c:wrong -agent:127.0.0.1 -oid:sysDescr.0",
        "-v:2c -c:wrong -agent:127.0.0.1 -oid:sysLocation.0",
        "-v:2c -c:wrong -agent:127.0.0.1 -oid:sysContact.0",
        "-v:2c -c:wrong -agent:127.0.0.1 -oid:sysName.0",
    });
    const fs::path asked = m_installation->Root() / "asked";
    const fs::path stopRequested = m_installation->Root() / "stop-requested";
    m_installation->WrapTool("eval \"last=\\${$#}\"; echo \"$last\" >> '" + asked.string() +
                             "'\nwhile [ ! -e '" + stopRequested.string() +
                             "' ]; do sleep 0.05; done");
    const std::string outcome = WithAgent([&] {
        std::atomic<bool> stopping{false};
        std::thread pass([&] { RunPass([&] { return stopping.load(); }); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fs::exists(asked) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stopping = true;
        gettest::WriteFile(stopRequested, "");
        pass.join();  // the pass ends by itself once the running request is done
        return gettest::ReadFile(asked);
    });
    EXPECT_PASS_RAN(outcome);
    EXPECT_EQ(outcome, "sysDescr.0\n");

    const auto events = test::ReadApplicationLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].eventIdentifier, kGetFailed);
    EXPECT_EQ(events[0].strings.at(0),
              L"snmpgetの実行に失敗しました。[1]\r\nTimeout: No Response from 127.0.0.1.\n");
}

}  // namespace
