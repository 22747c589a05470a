// The helper library without a server: initialisation, the in-process answers of its embedded
// default, and its message texts. (The SOAP exchanges are tested with the connection, in
// product/tests.)
#include "product/helper/Vorma6Helper.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "product/helper/MxhLogger.h"
#include "product/helper/ProductStore.h"
#include "tests/support/TempSysRoot.h"

namespace {

class HelperTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_config = m_root.path() / "Environment" / "Config";
        std::filesystem::create_directories(m_config);
        std::ofstream(m_config / "SNMP_MANAGER.ini")
            << "NumberOfElements=1\nAddr001=192.0.2.1\nAddr001=ignored later\n";
        m_header.ns1__kind = 6;
    }
    void TearDown() override {
        soap_destroy(&m_soap);
        soap_end(&m_soap);
        Mxh_Fini();
    }

    std::wstring Dir() const { return platform::LocaleToWide(m_root.path().string()); }

    // Calls on the test's context, with the header record pointing at m_header, as the
    // connection does.
    int Login() {
        m_soap.header = &m_header;
        char empty[] = "";
        return ns1__Login(&m_soap, empty, empty, nullptr);
    }
    int GetAppConfig(const wchar_t* section, std::vector<std::wstring>* items) {
        m_soap.header = &m_header;
        ns1__Config config;
        std::wstring name = section;
        int result = ns1__GetAppConfig(&m_soap, name.data(), &config);
        for (const ns1__ConfigItem& item : config.item) {
            items->push_back(item.name + L"=" + item.value);
        }
        return result;
    }
    int Logoff() {
        m_soap.header = &m_header;
        return ns1__Logoff(&m_soap, nullptr);
    }

    test::TempSysRoot m_root;
    std::filesystem::path m_config;
    struct soap m_soap;
    SOAP_ENV__Header m_header;
};

TEST_F(HelperTest, InitNeedsAnExistingFolder) {
    EXPECT_EQ(Mxh_GetClientSoapObj(), nullptr);
    EXPECT_FALSE(Mxh_Init((Dir() + L"/missing").c_str(), false));
    EXPECT_FALSE(Mxh_Init(L"", false));
    EXPECT_FALSE(Mxh_Init(nullptr, false));
    EXPECT_EQ(Mxh_GetClientSoapObj(), nullptr);
    char empty[] = "";
    EXPECT_EQ(ns1__Login(&m_soap, empty, empty, nullptr), SOAP_FATAL_ERROR);

    EXPECT_TRUE(Mxh_Init(Dir().c_str(), false));
    EXPECT_NE(Mxh_GetClientSoapObj(), nullptr);
    EXPECT_TRUE(Mxh_SetPrivilege());
    Mxh_Fini();
    EXPECT_EQ(Mxh_GetClientSoapObj(), nullptr);
}

TEST_F(HelperTest, TheEmbeddedDefaultAnswersLikeTheServer) {
    // An endpoint that is empty is no endpoint.
    std::ofstream(m_config / "MxHelper.ini") << "[Server]\nEndpoint=\n";
    ASSERT_TRUE(Mxh_Init(Dir().c_str(), false));

    std::vector<std::wstring> items;
    EXPECT_EQ(GetAppConfig(L"Environment\\Config\\SNMP_MANAGER", &items), 12);
    ASSERT_NE(m_soap.fault, nullptr);
    EXPECT_STREQ(m_soap.fault->faultstring, "Not logged on");
    ASSERT_NE(m_soap.fault->detail, nullptr);
    EXPECT_EQ(m_soap.fault->detail->ns1__errorNumber, 5);
    EXPECT_TRUE(items.empty());

    ASSERT_EQ(Login(), 0);
    ASSERT_NE(m_soap.header, nullptr);
    EXPECT_EQ(m_soap.header->ns1__session.size(), 32u);
    EXPECT_EQ(m_soap.header->ns1__accessClass, L"SharedClass");

    EXPECT_EQ(GetAppConfig(L"Environment\\Config\\SNMP_MANAGER", &items), 0);
    EXPECT_EQ(items, (std::vector<std::wstring>{L"NumberOfElements=1", L"Addr001=192.0.2.1",
                                                L"Addr001=ignored later"}));
    items.clear();
    EXPECT_EQ(GetAppConfig(L"Environment\\Config\\NO_SUCH_SECTION", &items), 0);
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(GetAppConfig(L"..\\..\\etc\\passwd", &items), 12);
    EXPECT_EQ(m_soap.fault->detail->ns1__errorNumber, 87);
    std::filesystem::create_directory(m_config / "FOLDER.ini");
    EXPECT_EQ(GetAppConfig(L"Environment\\Config\\FOLDER", &items), 2);
    EXPECT_EQ(m_soap.fault->detail->ns1__errorNumber, 13);

    EXPECT_EQ(Logoff(), 0);
    EXPECT_EQ(m_soap.header->ns1__session, "");
    EXPECT_EQ(Logoff(), 12);
}

TEST_F(HelperTest, AnUnreadableSettingsFileFailsInit) {
    std::filesystem::create_directory(m_config / "MxHelper.ini");
    EXPECT_FALSE(Mxh_Init(Dir().c_str(), false));
    CMxhLogger::DestroyInstance();
}

TEST(HelperMessagesTest, EveryNumberHasItsText) {
    std::set<std::wstring> distinct;
    for (int number : {1499, 1500, 1507, 1520, 1525, 1528, 1563}) {
        std::wstring text = Mxh_GetMessageW(number);
        EXPECT_FALSE(text.empty()) << number;
        EXPECT_EQ(Mxh_GetMessageA(number), platform::WideToUtf8(text));
        distinct.insert(text);
    }
    EXPECT_EQ(distinct.size(), 7u);
    EXPECT_NE(Mxh_GetMessageW(1904).find(L"1904"), std::wstring::npos);
}

TEST(ProductStoreTest, SessionsBeyondTheLimitPushTheOldestOut) {
    CProductStore store("/nonexistent");
    CStoreFault fault;
    std::string first;
    ASSERT_EQ(store.Login("", "", &first, &fault), 0);
    std::string last;
    for (std::size_t i = 1; i < CProductStore::kMaxSessions; ++i) {
        ASSERT_EQ(store.Login("any", "thing", &last, &fault), 0);
    }
    EXPECT_TRUE(store.HasSession(first));
    ASSERT_EQ(store.Login("", "", &last, &fault), 0);
    EXPECT_FALSE(store.HasSession(first));
    EXPECT_TRUE(store.HasSession(last));
    EXPECT_FALSE(store.HasSession(""));
}

}  // namespace
