// The manager settings read from the stand-in product server on loopback (and from the helper's
// embedded default), and the agent lookup.
#include "product/ManagerSettings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "product/tests/ProductServerProcess.h"
#include "product/tests/TestInstallation.h"
#include "tests/support/LoopbackNetwork.h"

namespace {

std::string Entry(int i, const char* listen, const char* dispName, const char* addr,
                  const char* community) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d", i);
    std::string n = number;
    return "IsListen" + n + "=" + listen + "\nDispName" + n + "=" + dispName + "\nAddr" + n + "=" +
           addr + "\nCommunityName" + n + "=" + community + "\n";
}

// One entry as text: listen flag, names, and the numeric address in hex.
std::wstring Describe(const CAgentEntry& entry) {
    std::wstring bytes;
    for (std::uint8_t b : entry.m_address) {
        wchar_t hex[3];
        std::swprintf(hex, 3, L"%02x", b);
        bytes += hex;
    }
    return std::to_wstring(entry.m_listen) + L"|" + entry.m_dispName + L"|" + entry.m_addr + L"|" +
           entry.m_communityName + L"|" + bytes;
}

std::vector<std::wstring> DescribeAll(const CManagerSettings& settings) {
    std::vector<std::wstring> out;
    for (const auto& entry : settings.Agents()) {
        out.push_back(Describe(*entry));
    }
    return out;
}

// FindAgent with a fresh lookup record; the record afterwards, or nothing.
struct Lookup {
    int found;
    CAgentEntry record;
};

Lookup Find(const CManagerSettings& settings, const wchar_t* addr, const wchar_t* community) {
    Lookup lookup{0, {}};
    lookup.record.m_addr = addr;
    lookup.record.m_communityName = community;
    lookup.found = FindAgent(lookup.record, settings);
    return lookup;
}

class ManagerSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(test::EnterPrivateLoopbackNetwork(), ""); }
    void TearDown() override { StopServer(); }

    void StartServer(const std::vector<std::string>& options = {}) {
        StopServer();
        m_server = std::make_unique<test::CProductServerProcess>(m_install.Dir(), options);
        ASSERT_TRUE(m_server->Started()) << m_server->Output();
        m_install.UseServer(m_server->Endpoint());
    }

    // Startup over the server of a fresh settings object with the section `text`.
    std::unique_ptr<CManagerSettings> StartupWith(const std::string& text, int expected = 1) {
        m_install.WriteManagerSection(text);
        auto settings = std::make_unique<CManagerSettings>();
        EXPECT_EQ(settings->Startup(m_install.InstallDir()), expected);
        return settings;
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

const std::string kFullSection =
    "NumberOfElements=4\n" + Entry(1, "TRUE", "ルーター", "192.0.2.1", "public") +
    Entry(2, "FALSE", "スイッチ", "2001:db8::10", "(ALL)") +
    Entry(3, "TRUE", "その他", "(ALL)", "(ALL)") + Entry(4, "TRUE", "v6", "fe80::1", "private");

TEST_F(ManagerSettingsTest, StartupReadsExactAllCommunityAndWildcardEntries) {
    StartServer();
    m_install.WriteManagerSection("; the agents of the SNMP manager\n" + kFullSection);
    CManagerSettings settings;
    // Trailing separators of the installation folder are dropped.
    ASSERT_EQ(settings.Startup(m_install.InstallDir() + L"/"), 1);

    EXPECT_EQ(DescribeAll(settings),
              (std::vector<std::wstring>{
                  L"1|ルーター|192.0.2.1|public|c0000201000000000000000000000000",
                  L"0|スイッチ|2001:db8::10|(ALL)|20010db8000000000000000000000010",
                  L"1|その他|(ALL)|(ALL)|00000000000000000000000000000000",
                  L"1|v6|fe80::1|private|fe800000000000000000000000000001",
              }));
    EXPECT_EQ(settings.WildcardPresent(), 1);
    EXPECT_EQ(settings.WildcardListens(), 1);
    EXPECT_EQ(settings.WildcardDispName(), L"その他");
    EXPECT_EQ(settings.HelperIniPath(),
              m_install.InstallDir() + L"/Environment/Config/MxHelper.ini");

    // Logged on, read, logged off: the session is closed before Startup returns.
    ASSERT_NE(settings.Connection(), nullptr);
    EXPECT_EQ(settings.Connection()->GetSession(), "");
    EXPECT_EQ(m_server->Lines().size(), 3u);

    // The lookups dispatch makes: exact, then the address with community "(ALL)".
    Lookup exact = Find(settings, L"192.0.2.1", L"public");
    EXPECT_EQ(exact.found, 1);
    EXPECT_EQ(exact.record.m_dispName, L"ルーター");
    EXPECT_EQ(exact.record.m_listen, 1);
    EXPECT_EQ(Find(settings, L"192.0.2.1", L"Public").found, 0);
    EXPECT_EQ(Find(settings, L"2001:db8::10", L"public").found, 0);
    Lookup anyCommunity = Find(settings, L"2001:0db8:0:0::0010", L"(ALL)");
    EXPECT_EQ(anyCommunity.found, 1);
    EXPECT_EQ(anyCommunity.record.m_addr, L"2001:db8::10");
    EXPECT_EQ(anyCommunity.record.m_dispName, L"スイッチ");
    EXPECT_EQ(anyCommunity.record.m_listen, 0);
    EXPECT_EQ(Find(settings, L"(ALL)", L"(ALL)").record.m_dispName, L"その他");

    settings.Shutdown();
    EXPECT_TRUE(settings.Agents().empty());
    EXPECT_EQ(settings.Connection(), nullptr);
    EXPECT_EQ(Mxh_GetClientSoapObj(), nullptr);
}

TEST_F(ManagerSettingsTest, ACountThatIsNotPositiveGivesSuccessWithAnEmptyList) {
    StartServer();
    const struct {
        const char* countLine;
        std::size_t entries;
    } cases[] = {
        {"", 0},
        {"NumberOfElements=\n", 0},
        {"NumberOfElements=0\n", 0},
        {"NumberOfElements=-2\n", 0},
        {"NumberOfElements=two\n", 0},
        {"numberofelements=2\n", 0},  // names are case-sensitive
        {"NumberOfElements= \t2\n", 2},
        {"NumberOfElements=+1\n", 1},
        {"NumberOfElements=2 agents\n", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.countLine);
        auto settings =
            StartupWith(std::string(c.countLine) + Entry(1, "TRUE", "a", "(ALL)", "(ALL)") +
                        Entry(2, "TRUE", "b", "192.0.2.2", "public"));
        EXPECT_EQ(settings->Agents().size(), c.entries);
        EXPECT_EQ(settings->WildcardPresent(), c.entries > 0 ? 1 : 0);
        settings->Shutdown();
    }
}

TEST_F(ManagerSettingsTest, ListenFlagAndWildcardAreCaseSensitive) {
    StartServer();
    auto settings =
        StartupWith("NumberOfElements=2\n" + Entry(1, "true", "lower", "192.0.2.1", "public") +
                    Entry(2, "TRUE", "not wild", "(all)", "(ALL)"));
    EXPECT_EQ(settings->Agents().at(0)->m_listen, 0);
    EXPECT_EQ(settings->WildcardPresent(), 0);
    EXPECT_EQ(settings->WildcardListens(), 0);
    EXPECT_EQ(settings->WildcardDispName(), L"");
    // "(all)" does not parse: all zero, so it matches "(ALL)" and unparsable query addresses.
    EXPECT_EQ(Describe(*settings->Agents().at(1)),
              L"1|not wild|(all)|(ALL)|00000000000000000000000000000000");
    EXPECT_EQ(Find(*settings, L"(ALL)", L"(ALL)").record.m_dispName, L"not wild");
    EXPECT_EQ(Find(*settings, L"garbage", L"(ALL)").record.m_dispName, L"not wild");
    EXPECT_EQ(Find(*settings, L"192.0.2.7", L"(ALL)").found, 0);
}

TEST_F(ManagerSettingsTest, AddressFormsMatchByTheirNumericValue) {
    StartServer();
    auto settings =
        StartupWith("NumberOfElements=4\n" + Entry(1, "TRUE", "v4", "192.0.2.1", "public") +
                    Entry(2, "TRUE", "mapped", "::ffff:192.0.2.2", "public") +
                    Entry(3, "TRUE", "link", "fe80::1", "public") +
                    Entry(4, "TRUE", "zero", "192.168.001.1", "public"));
    EXPECT_EQ(Describe(*settings->Agents().at(1)),
              L"1|mapped|::ffff:192.0.2.2|public|00000000000000000000ffffc0000202");
    EXPECT_EQ(Describe(*settings->Agents().at(3)),
              L"1|zero|192.168.001.1|public|00000000000000000000000000000000");
    const struct {
        const wchar_t* query;
        const wchar_t* found;  // display name, or null for no match
    } cases[] = {
        {L"192.0.2.1", L"v4"},
        {L"::ffff:192.0.2.1", nullptr},  // the mapped form is another address
        {L"192.0.2.2", nullptr},
        {L"::FFFF:c000:0202", L"mapped"},
        {L"fe80::1%12", L"link"},  // the zone index is cut
        {L"fe80:0:0:0:0:0:0:1", L"link"},
        {L"fe80::2", nullptr},
        {L"192.168.001.1", L"zero"},  // unparsable, as the entry is
        {L"192.168.1.1", nullptr},
        {L"no address", L"zero"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << platform::WideToUtf8(c.query));
        Lookup lookup = Find(*settings, c.query, L"public");
        EXPECT_EQ(lookup.found, c.found != nullptr ? 1 : 0);
        EXPECT_EQ(lookup.record.m_dispName, c.found != nullptr ? c.found : L"");
    }
}

TEST_F(ManagerSettingsTest, DuplicatesAndMissingEntries) {
    StartServer();
    // Entry 002 is missing; 003 and 004 are the same agent.
    auto settings =
        StartupWith("NumberOfElements=4\n" + Entry(1, "TRUE", "first", "192.0.2.1", "public") +
                    Entry(3, "TRUE", "dup 1", "192.0.2.3", "public") +
                    Entry(4, "FALSE", "dup 2", "192.0.2.3", "public"));
    ASSERT_EQ(settings->Agents().size(), 4u);
    EXPECT_EQ(Describe(*settings->Agents().at(1)), L"0||||00000000000000000000000000000000");
    Lookup dup = Find(*settings, L"192.0.2.3", L"public");
    EXPECT_EQ(dup.record.m_dispName, L"dup 1");
    EXPECT_EQ(dup.record.m_listen, 1);
    // The empty entry matches only an empty community with an address that is all zero.
    Lookup empty = Find(*settings, L"junk", L"");
    EXPECT_EQ(empty.found, 1);
    EXPECT_EQ(empty.record.m_addr, L"");
    EXPECT_EQ(Find(*settings, L"192.0.2.9", L"").found, 0);
    EXPECT_EQ(Find(*settings, L"junk", L"public").found, 0);
}

TEST_F(ManagerSettingsTest, AHugeCountBuildsOnlyTheEntriesThatCanMatch) {
    StartServer();
    auto settings = StartupWith("NumberOfElements=2000000000\n" +
                                Entry(1, "TRUE", "one", "192.0.2.1", "public") +
                                Entry(1000, "TRUE", "thousand", "192.0.2.100", "public"));
    // Entry 1, entry 2 (empty, standing for every empty one), entry 1000.
    EXPECT_EQ(DescribeAll(*settings),
              (std::vector<std::wstring>{
                  L"1|one|192.0.2.1|public|c0000201000000000000000000000000",
                  L"0||||00000000000000000000000000000000",
                  L"1|thousand|192.0.2.100|public|c0000264000000000000000000000000",
              }));
    EXPECT_EQ(Find(*settings, L"192.0.2.100", L"public").record.m_dispName, L"thousand");
    EXPECT_EQ(Find(*settings, L"junk", L"").found, 1);
}

TEST_F(ManagerSettingsTest, AFailedLookupLeavesTheRecordAsItWas) {
    StartServer();
    auto settings = StartupWith(kFullSection);
    CAgentEntry record;
    record.m_listen = 7;
    record.m_dispName = L"unchanged";
    record.m_addr = L"198.51.100.1";
    record.m_communityName = L"public";
    EXPECT_EQ(FindAgent(record, *settings), 0);
    EXPECT_EQ(Describe(record),
              L"7|unchanged|198.51.100.1|public|00000000000000000000000000000000");
}

TEST_F(ManagerSettingsTest, AServerThatIsNotRunningFailsStartup) {
    StartServer();
    EXPECT_EQ(m_server->Stop(), 0);  // SIGTERM stops it cleanly; the port is closed now
    EXPECT_EQ(m_server->Lines().back(), "stopped");
    auto settings = StartupWith(kFullSection, 0);
    EXPECT_TRUE(settings->Agents().empty());
    ASSERT_NE(settings->Connection(), nullptr);
    EXPECT_EQ(settings->Connection()->GetLastResult(), 28);  // SOAP_TCP_ERROR
    EXPECT_EQ(settings->Connection()->GetErrorNumber(), 1528);
    settings->Shutdown();
}

TEST_F(ManagerSettingsTest, AFailedReadFailsStartupAndClosesTheSession) {
    for (const char* failure : {"GetAppConfig=2", "GetAppConfig=reset"}) {
        SCOPED_TRACE(failure);
        StartServer({"--fail", failure});
        auto settings = StartupWith(kFullSection, 0);
        EXPECT_TRUE(settings->Agents().empty());
        EXPECT_EQ(settings->Connection()->GetSession(), "");
        ASSERT_EQ(m_server->Lines().size(), 3u);
        EXPECT_EQ(m_server->Lines()[2], "Logoff result=0");
        settings->Shutdown();
    }
}

TEST_F(ManagerSettingsTest, AFailedLoginFailsStartupWithoutSession) {
    StartServer({"--fail", "Login=12"});
    auto settings = StartupWith(kFullSection, 0);
    EXPECT_EQ(m_server->Lines().size(), 1u);
    settings->Shutdown();
    EXPECT_EQ(m_server->Lines().size(), 1u);
}

TEST_F(ManagerSettingsTest, TheEmbeddedDefaultGivesTheSameListAsTheServer) {
    StartServer();
    auto remote = StartupWith(kFullSection);
    std::vector<std::wstring> fromServer = DescribeAll(*remote);
    remote->Shutdown();
    ASSERT_EQ(fromServer.size(), 4u);
    std::size_t requests = m_server->Lines().size();

    m_install.UseEmbedded();
    auto local = StartupWith(kFullSection);
    EXPECT_EQ(DescribeAll(*local), fromServer);
    EXPECT_EQ(local->WildcardDispName(), L"その他");
    EXPECT_EQ(local->Connection()->GetSession(), "");
    EXPECT_EQ(m_server->Lines().size(), requests);
    local->Shutdown();
}

TEST_F(ManagerSettingsTest, WithoutTheHelperLibraryStartupGoesOnWithNoAgents) {
    CManagerSettings settings;
    EXPECT_EQ(settings.Startup(m_install.InstallDir() + L"/missing"), 1);
    EXPECT_TRUE(settings.Agents().empty());
    EXPECT_EQ(settings.WildcardPresent(), 0);
    EXPECT_EQ(settings.Connection(), nullptr);
    Lookup lookup = Find(settings, L"192.0.2.1", L"public");
    EXPECT_EQ(lookup.found, 0);
    settings.Shutdown();
}

}  // namespace
