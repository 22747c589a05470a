// The product-server connection over real exchanges with the stand-in server on loopback.
#include "product/MxhConLocal.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "product/tests/ProductServerProcess.h"
#include "product/tests/TestInstallation.h"
#include "tests/support/LoopbackNetwork.h"

namespace {

constexpr wchar_t kSection[] = L"Environment\\Config\\SNMP_MANAGER";

class MxhConTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(test::EnterPrivateLoopbackNetwork(), "");
        m_install.WriteManagerSection("NumberOfElements=1\nAddr001=192.0.2.1\n");
    }
    void TearDown() override {
        Mxh_Fini();
        StopServer();
    }

    // Starts a server with `options` and points the helper library at it.
    void StartServer(const std::vector<std::string>& options = {}) {
        StopServer();
        m_server = std::make_unique<test::CProductServerProcess>(m_install.Dir(), options);
        ASSERT_TRUE(m_server->Started()) << m_server->Output();
        m_install.UseServer(m_server->Endpoint());
        ASSERT_TRUE(Mxh_Init(m_install.InstallDir().c_str(), false));
    }

    // GetAppConfig of the manager's section into a fresh holder context.
    int ReadSection(CMxhCon& connection, std::vector<std::wstring>* names = nullptr) {
        struct soap context;
        ns1__Config* config = soap_new_ns1__Config(&context, -1);
        std::wstring section = kSection;
        int result = connection.GetAppConfig(section.data(), config);
        if (names != nullptr) {
            for (const ns1__ConfigItem& item : config->item) {
                names->push_back(item.name + L"=" + item.value);
            }
        }
        soap_delete(&context, nullptr);
        return result;
    }

    // Every server must stop cleanly on SIGTERM, whatever it was told to do.
    void StopServer() {
        if (m_server) {
            EXPECT_EQ(m_server->Stop(), 0) << m_server->Output();
            m_server.reset();
        }
    }

    test::CTestInstallation m_install;
    std::unique_ptr<test::CProductServerProcess> m_server;
};

TEST_F(MxhConTest, LogsOnReadsAndLogsOffCarryingTheSessionInTheHeader) {
    StartServer();
    CMxhConLocal connection;
    EXPECT_EQ(connection.GetServerName(), "local");
    ASSERT_EQ(connection.Connect(), 0);
    EXPECT_EQ(connection.GetSession().size(), 32u);
    EXPECT_GT(connection.GetHeaderNumber(), 0);
    EXPECT_EQ(connection.GetAccessClass(), L"SharedClass");

    std::vector<std::wstring> items;
    ASSERT_EQ(ReadSection(connection, &items), 0);
    EXPECT_EQ(items, (std::vector<std::wstring>{L"NumberOfElements=1", L"Addr001=192.0.2.1"}));

    EXPECT_EQ(connection.Disconnect(), 0);
    EXPECT_EQ(connection.GetSession(), "");
    EXPECT_EQ(m_server->Lines(),
              (std::vector<std::string>{
                  "Login account=\"\" result=0",
                  "GetAppConfig section=\"Environment\\\\Config\\\\SNMP_MANAGER\" items=2 result=0",
                  "Logoff result=0"}));
}

TEST_F(MxhConTest, WithoutSessionTheServerRefusesWithItsFaultDetail) {
    StartServer();
    CMxhConLocal connection;
    EXPECT_EQ(ReadSection(connection), 12);
    EXPECT_EQ(connection.GetLastResult(), 12);
    EXPECT_EQ(connection.GetFaultText(), "Not logged on");
    EXPECT_EQ(connection.GetErrorNumber(), 5);
    EXPECT_EQ(connection.GetMessage(), L"ログオンしていません。");
    EXPECT_EQ(connection.GetSource(), L"VormaProductServer");
    EXPECT_EQ(connection.GetMessage2(), kSection);
    EXPECT_FALSE(connection.IsBlocked());
}

TEST_F(MxhConTest, AnAccountOtherThanTheRequiredOneIsRefused) {
    StartServer({"--account", "manager", "--password", "secret"});
    CMxhConLocal connection;
    EXPECT_EQ(connection.Connect(), 12);
    EXPECT_EQ(connection.GetErrorNumber(), 1326);
    EXPECT_EQ(connection.GetSession(), "");
    connection.SetAccountName("manager");
    connection.SetPassword("secret");
    EXPECT_EQ(connection.Connect(), 0);
    EXPECT_FALSE(connection.GetSession().empty());
}

struct FailureCase {
    const char* failure;  // --fail GetAppConfig=...
    int result;
    int errorNumber;
    bool blocks;
};

TEST_F(MxhConTest, EveryFailedResultBecomesAnErrorNumberWithTheHelpersTexts) {
    const FailureCase cases[] = {
        {"-1", -1, 1499, false},     // closed without an answer: no system error
        {"reset", -1, 1500, false},  // reset: the system error ECONNRESET
        {"1", 1, 1501, false},      {"7", 7, 1507, false},  {"19", 19, 1519, false},
        {"20", 20, 1520, true},     {"21", 21, 1521, true}, {"22", 22, 1522, true},
        {"23", 23, 1523, true},     {"24", 24, 1524, true}, {"25", 25, 1525, true},
        {"26", 26, 1526, false},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.failure);
        StartServer({"--fail", std::string("GetAppConfig=") + c.failure});
        CMxhConLocal connection;
        ASSERT_EQ(connection.Connect(), 0);
        EXPECT_EQ(ReadSection(connection), c.result);
        EXPECT_EQ(connection.GetLastResult(), c.result);
        EXPECT_EQ(connection.GetErrorNumber(), c.errorNumber);
        EXPECT_EQ(connection.GetMessage(), Mxh_GetMessageW(c.errorNumber));
        EXPECT_EQ(connection.GetMessage2(), Mxh_GetMessageW(c.errorNumber));
        EXPECT_EQ(connection.GetSource(), L"ヘルパー");
        EXPECT_EQ(connection.GetFaultText(), Mxh_GetMessageA(c.errorNumber));
        EXPECT_EQ(connection.IsBlocked(), c.blocks);
        EXPECT_EQ(m_server->Lines().size(), 2u);
        Mxh_Fini();
    }
}

TEST_F(MxhConTest, FaultsTwoAndTwelveFillTheDetailFields) {
    for (int result : {2, 12}) {
        SCOPED_TRACE(result);
        StartServer({"--fail", "GetAppConfig=" + std::to_string(result)});
        CMxhConLocal connection;
        ASSERT_EQ(connection.Connect(), 0);
        EXPECT_EQ(ReadSection(connection), result);
        EXPECT_EQ(connection.GetFaultText(), "Injected failure of GetAppConfig");
        EXPECT_EQ(connection.GetErrorNumber(), 9000 + result);
        EXPECT_EQ(connection.GetMessage(), L"試験のために失敗を返しました。");
        EXPECT_EQ(connection.GetSource(), L"VormaProductServer");
        EXPECT_EQ(connection.GetMessage2(), L"GetAppConfig");
        EXPECT_FALSE(connection.IsBlocked());
        Mxh_Fini();
    }
}

TEST_F(MxhConTest, ResultTwentyBlocksEveryCallUntilConnect) {
    StartServer({"--fail", "GetAppConfig=20"});
    CMxhConLocal connection;
    ASSERT_EQ(connection.Connect(), 0);
    EXPECT_EQ(ReadSection(connection), 20);
    EXPECT_TRUE(connection.IsBlocked());
    ASSERT_EQ(m_server->Lines().size(), 2u);

    // Refused locally: the server sees nothing.
    EXPECT_EQ(ReadSection(connection), 63);
    EXPECT_EQ(connection.Logoff(), 63);
    EXPECT_EQ(connection.GetLastResult(), 63);
    EXPECT_EQ(connection.GetErrorNumber(), 1563);
    EXPECT_EQ(connection.GetMessage(), Mxh_GetMessageW(1563));
    EXPECT_EQ(m_server->Lines().size(), 2u);

    // Connect clears the block and reaches the server again.
    EXPECT_EQ(connection.Connect(), 0);
    EXPECT_FALSE(connection.IsBlocked());
    EXPECT_EQ(ReadSection(connection), 20);
    EXPECT_EQ(m_server->Lines().size(), 4u);
    EXPECT_TRUE(connection.IsBlocked());

    // So does Disconnect: its Logoff is refused, but the session is dropped and the block ends.
    EXPECT_EQ(connection.Disconnect(), 63);
    EXPECT_EQ(connection.GetSession(), "");
    EXPECT_FALSE(connection.IsBlocked());
    EXPECT_EQ(m_server->Lines().size(), 4u);
}

TEST_F(MxhConTest, DisconnectWithoutSessionMakesNoCall) {
    StartServer({"--fail", "Login=2"});
    CMxhConLocal connection;
    EXPECT_EQ(connection.Disconnect(), 0);
    EXPECT_TRUE(m_server->Lines().empty());

    // A failed login leaves no session either.
    EXPECT_EQ(connection.Connect(), 2);
    EXPECT_EQ(connection.GetSession(), "");
    EXPECT_EQ(connection.Disconnect(), 0);
    EXPECT_EQ(m_server->Lines(), (std::vector<std::string>{"Login result=2 injected"}));
}

TEST_F(MxhConTest, ASuccessLeavesTheDetailsOfTheLastFailure) {
    StartServer();
    CMxhConLocal connection;
    ASSERT_EQ(ReadSection(connection), 12);
    ASSERT_EQ(connection.Connect(), 0);
    EXPECT_EQ(connection.GetLastResult(), 0);
    EXPECT_EQ(connection.GetErrorNumber(), 5);
    EXPECT_EQ(connection.GetFaultText(), "Not logged on");
}

TEST_F(MxhConTest, DestroyingALoggedOnConnectionLogsOff) {
    StartServer();
    {
        CMxhConLocal connection;
        ASSERT_EQ(connection.Connect(), 0);
    }
    EXPECT_EQ(m_server->Lines(),
              (std::vector<std::string>{"Login account=\"\" result=0", "Logoff result=0"}));
}

TEST_F(MxhConTest, GivingUpExclusiveAccessCallsTheClassChangeCallback) {
    StartServer();
    CMxhConLocal connection;
    int calls = 0;
    connection.SetClassChangeCallback([&calls] { ++calls; });
    connection.SetAccessClass(L"ExclusiveClass");
    ASSERT_EQ(connection.Connect(), 0);
    EXPECT_EQ(connection.GetAccessClass(), L"ExclusiveClass");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(connection.Disconnect(), 0);
    EXPECT_EQ(connection.GetAccessClass(), L"SharedClass");
    EXPECT_EQ(calls, 1);
    // From shared to shared is no change.
    ASSERT_EQ(connection.Connect(), 0);
    EXPECT_EQ(connection.Disconnect(), 0);
    EXPECT_EQ(calls, 1);
}

TEST_F(MxhConTest, WithoutTheLibrarysContextConstructionThrowsBadAlloc) {
    Mxh_Fini();
    try {
        CMxhConLocal connection;
        FAIL() << "constructed without a library context";
    } catch (const std::bad_alloc& error) {
        EXPECT_STREQ(error.what(), "soap_copy memory allocate Fail in CMxhCon:constractor.");
    }
}

}  // namespace
