#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Text.h"
#include "platform/Win32Error.h"
#include "platform/win32/WindowsHeaders.h"

namespace {

using namespace platform;

// A key of its own below HKEY_LOCAL_MACHINE\SOFTWARE for each test, removed afterwards.
class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_path = L"SOFTWARE\\VormaPlatformTest" + std::to_wstring(::GetCurrentProcessId());
    }
    void TearDown() override { DeleteRegistryTree(kHkeyLocalMachine, m_path); }

    std::wstring m_path;
};

std::vector<std::uint8_t> Utf16Z(std::wstring_view text) {
    std::vector<std::uint8_t> out = WideToUtf16Le(text);
    out.push_back(0);
    out.push_back(0);
    return out;
}

TEST_F(RegistryTest, ValuesRoundTripWithTheirTypesAndSizes) {
    RegKey key = 0;
    bool created = false;
    ASSERT_EQ(CreateRegistryKey(kHkeyLocalMachine, m_path + L"\\Sub\\Deeper", kKeyAllAccess, &key,
                                &created),
              0u);
    EXPECT_TRUE(created);
    const std::vector<std::uint8_t> dword = {0x11, 0x04, 0, 0};
    const struct {
        const wchar_t* name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    } values[] = {
        {L"InstallDir", kRegSz, Utf16Z(L"C:\\Program Files\\VORMA\\")},
        {L"EventMessageFile", kRegExpandSz, Utf16Z(L"%SystemRoot%\\x.exe")},
        {L"LCID", kRegDword, dword},
        {L"Blob", kRegBinary, {1, 2, 3}},
        {L"", kRegSz, Utf16Z(L"既定値")},
    };
    for (const auto& v : values) {
        ASSERT_EQ(SetRegistryValue(key, v.name, v.type, v.data.data(),
                                   static_cast<std::uint32_t>(v.data.size())),
                  0u)
            << v.name;
    }
    for (const auto& v : values) {
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        ASSERT_EQ(QueryRegistryValue(key, v.name, &type, nullptr, &size), 0u) << v.name;
        EXPECT_EQ(size, v.data.size()) << v.name;
        std::vector<std::uint8_t> data(size);
        ASSERT_EQ(QueryRegistryValue(key, v.name, &type, data.data(), &size), 0u);
        EXPECT_EQ(type, v.type) << v.name;
        EXPECT_EQ(data, v.data) << v.name;
        if (size > 1) {
            std::uint32_t small = size - 1;
            EXPECT_EQ(QueryRegistryValue(key, v.name, &type, data.data(), &small), kErrorMoreData);
            EXPECT_EQ(small, size);
        }
    }
    // Value names ignore case; a missing value is "file not found".
    std::uint32_t size = 4;
    std::uint8_t buffer[4];
    EXPECT_EQ(QueryRegistryValue(key, L"lcid", nullptr, buffer, &size), 0u);
    EXPECT_EQ(QueryRegistryValue(key, L"Missing", nullptr, buffer, &size), kErrorFileNotFound);
    EXPECT_EQ(CloseRegistryKey(key), 0u);

    ASSERT_EQ(
        CreateRegistryKey(kHkeyLocalMachine, m_path + L"\\SUB\\deeper", kKeyRead, &key, &created),
        0u);
    EXPECT_FALSE(created);
    EXPECT_EQ(CloseRegistryKey(key), 0u);
}

TEST_F(RegistryTest, KeysLiveInThe32BitViewOfTheRegistry) {
    RegKey key = 0;
    bool created = false;
    ASSERT_EQ(CreateRegistryKey(kHkeyLocalMachine, m_path, kKeyAllAccess, &key, &created), 0u);
    CloseRegistryKey(key);
    // A 64-bit program sees the 32-bit view of SOFTWARE under Wow6432Node.
    HKEY raw = nullptr;
    std::wstring redirected = L"SOFTWARE\\Wow6432Node" + m_path.substr(8);
    EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, redirected.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                              &raw),
              ERROR_SUCCESS);
    if (raw != nullptr) {
        ::RegCloseKey(raw);
    }
    EXPECT_EQ(
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &raw),
        ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, DeleteTreeRemovesSubkeysAndMissingKeysAreNotFound) {
    RegKey key = 0;
    bool created = false;
    ASSERT_EQ(
        CreateRegistryKey(kHkeyLocalMachine, m_path + L"\\A\\B\\C", kKeyAllAccess, &key, &created),
        0u);
    CloseRegistryKey(key);
    EXPECT_EQ(DeleteRegistryTree(kHkeyLocalMachine, m_path + L"\\A"), 0u);
    EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, m_path + L"\\A\\B", kKeyRead, &key),
              kErrorFileNotFound);
    EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, m_path, kKeyRead, &key), 0u);
    CloseRegistryKey(key);
    EXPECT_EQ(DeleteRegistryTree(kHkeyLocalMachine, m_path + L"\\A"), kErrorFileNotFound);
    EXPECT_NE(DeleteRegistryTree(kHkeyLocalMachine, L""), 0u);
    // The predefined roots are never closed.
    EXPECT_EQ(CloseRegistryKey(kHkeyLocalMachine), 0u);
    EXPECT_TRUE(IsPredefinedRegKey(kHkeyLocalMachine));
    std::wstring problems = L"x";
    EXPECT_EQ(CheckRegistryStore(&problems), 0u);
    EXPECT_TRUE(problems.empty());
}

}  // namespace
