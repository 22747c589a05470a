#include "product/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Win32Error.h"
#include "tests/support/TempSysRoot.h"

namespace {

using platform::kHkeyLocalMachine;

constexpr std::uint32_t kNotFound = 0x80070002u;

void WriteStore(const test::TempSysRoot& root, const std::string& body) {
    std::filesystem::create_directories(root.path() / "registry");
    std::ofstream(root.path() / "registry" / "HKLM.reg", std::ios::binary)
        << "Windows Registry Editor Version 5.00\n\n"
        << body;
}

std::string ReadStore(const test::TempSysRoot& root) {
    std::ifstream in(root.path() / "registry" / "HKLM.reg", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CRegistryTest, CreateReportsWhetherTheKeyIsNewAndSetValuesHaveTheirTypes) {
    test::TempSysRoot root;
    CRegistry reg;
    const std::wstring source =
        L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VORMASNMPManagerService";
    ASSERT_EQ(reg.Create(kHkeyLocalMachine, source), 0u);
    EXPECT_TRUE(reg.IsOpen());
    EXPECT_EQ(reg.SetExpandStringValue(L"EventMessageFile", L"/opt/vorma/VormaSnmpManager"), 0u);
    EXPECT_EQ(reg.SetDWORDValue(L"TypesSupported", 7), 0u);
    EXPECT_EQ(reg.Create(kHkeyLocalMachine, source), 1u);

    const std::string text = ReadStore(root);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\"
                        "Application\\VORMASNMPManagerService]\n"
                        "\"EventMessageFile\"=hex(2):2f,00,6f,00,70,00,74,00,"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("65,00,72,00,00,00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"TypesSupported\"=dword:00000007\n"), std::string::npos) << text;

    // Read back through a reading handle.
    ASSERT_EQ(reg.Open(kHkeyLocalMachine, source), 0u);
    std::wstring path;
    EXPECT_EQ(reg.QueryStringValue(L"eventmessagefile", path), 0u);
    EXPECT_EQ(path, L"/opt/vorma/VormaSnmpManager");
    std::uint32_t types = 0;
    EXPECT_EQ(reg.QueryDWORDValue(L"TypesSupported", types), 0u);
    EXPECT_EQ(types, 7u);
    // A reading handle cannot write.
    EXPECT_EQ(reg.SetDWORDValue(L"TypesSupported", 1), 0x80070005u);

    // Uninstall removes the source's key with everything below it; its parent stays.
    ASSERT_EQ(reg.Create(kHkeyLocalMachine, source + L"\\Sub"), 0u);
    reg.Close();
    EXPECT_EQ(CRegistry::DeleteKey(kHkeyLocalMachine, source), 0u);
    EXPECT_EQ(reg.Open(kHkeyLocalMachine, source), kNotFound);
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_EQ(CRegistry::DeleteKey(kHkeyLocalMachine, source), kNotFound);
    EXPECT_EQ(
        reg.Open(kHkeyLocalMachine, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"),
        0u);
}

TEST(CRegistryTest, ArgumentsAndClosedKeys) {
    test::TempSysRoot root;
    CRegistry reg;
    std::wstring text = L"unchanged";
    std::uint32_t number = 42;
    // No key open.
    EXPECT_EQ(reg.QueryStringValue(L"x", text), platform::kEFail);
    EXPECT_EQ(reg.QueryDWORDValue(L"x", number), platform::kEFail);
    EXPECT_EQ(reg.SetExpandStringValue(L"x", L"y"), platform::kEFail);
    EXPECT_EQ(reg.SetDWORDValue(L"x", 1), platform::kEFail);
    EXPECT_EQ(reg.Open(kHkeyLocalMachine, L"SOFTWARE\\Missing"), kNotFound);
    EXPECT_EQ(reg.QueryStringValue(L"x", text), platform::kEFail);

    ASSERT_EQ(reg.Create(kHkeyLocalMachine, L"SOFTWARE\\Test"), 0u);
    EXPECT_EQ(reg.QueryStringValue(nullptr, text), platform::kEInvalidArg);
    EXPECT_EQ(reg.QueryDWORDValue(nullptr, number), platform::kEInvalidArg);
    EXPECT_EQ(reg.SetExpandStringValue(nullptr, L"y"), platform::kEInvalidArg);
    EXPECT_EQ(reg.SetDWORDValue(nullptr, 1), platform::kEInvalidArg);
    EXPECT_EQ(reg.QueryStringValue(L"missing", text), kNotFound);
    EXPECT_EQ(reg.QueryDWORDValue(L"missing", number), kNotFound);
    EXPECT_EQ(text, L"unchanged");
    EXPECT_EQ(number, 42u);

    reg.Close();
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_EQ(reg.SetDWORDValue(L"x", 1), platform::kEFail);
    reg.Close();  // closing twice is harmless
}

TEST(CRegistryTest, ValuesOfAnyTypeAreReadAsTheyAreStored) {
    test::TempSysRoot root;
    WriteStore(root,
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n"
               "\"Sz\"=\"\xE6\x97\xA5\xE6\x9C\xAC \\\\ \\\"\"\n"
               "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\n"
               "\"InnerNul\"=hex(1):41,00,00,00,42,00,00,00\n"
               "\"NoTerminator\"=hex:41,00,42,00\n"
               "\"Odd\"=hex:41,00,42\n"
               "\"Empty\"=hex:\n"
               "\"Dword\"=dword:00000411\n"
               "\"One\"=\"1\"\n"
               "\"Long\"=\"1041\"\n"
               "\"Short\"=hex:01,02\n"
               "\"Eight\"=hex(b):01,00,00,00,00,00,00,00\n"
               "\"BigEndian\"=hex(5):00,00,04,11\n"
               "@=\"default\"\n");
    CRegistry reg;
    ASSERT_EQ(reg.Open(kHkeyLocalMachine, L"SOFTWARE\\T"), 0u);

    struct TextCase {
        const wchar_t* name;
        std::uint32_t rc;
        std::wstring text;
    };
    const TextCase texts[] = {
        {L"Sz", 0, L"\u65E5\u672C \\ \""},
        {L"Expand", 0, L"%PATH%"},  // taken literally, nothing expanded
        {L"InnerNul", 0, L"A"},     // up to the first NUL
        {L"NoTerminator", 0, L"AB"},
        {L"Odd", 0, L"A"},  // size / 2 characters
        {L"Empty", 0, L""},
        {L"Dword", 0, L"\u0411"},  // the bytes 11 04 00 00 are "\u0411" and a NUL
        {L"", 0, L"default"},
    };
    for (const TextCase& c : texts) {
        std::wstring text = L"?";
        EXPECT_EQ(reg.QueryStringValue(c.name, text), c.rc) << c.name;
        EXPECT_EQ(text, c.text) << c.name;
    }

    struct NumberCase {
        const wchar_t* name;
        std::uint32_t rc;
        std::uint32_t value;
    };
    const NumberCase numbers[] = {
        {L"Dword", 0, 0x411},
        {L"One", 0, 0x31},  // "1" and its terminator are exactly 4
                            // bytes
        {L"BigEndian", 0, 0x11040000},
        {L"Long", 0x800700EAu, 7},
        {L"Eight", 0x800700EAu, 7},
        {L"Short", 0x8007000Du, 7},
        {L"Empty", 0x8007000Du, 7},
    };
    for (const NumberCase& c : numbers) {
        std::uint32_t value = 7;
        EXPECT_EQ(reg.QueryDWORDValue(c.name, value), c.rc) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }
}

TEST(CRegistryTest, ExpandStringsAreStoredWithTheirTerminator) {
    test::TempSysRoot root;
    CRegistry reg;
    ASSERT_EQ(reg.Create(kHkeyLocalMachine, L"SOFTWARE\\T"), 0u);
    // A character beyond the BMP is two UTF-16 units.
    ASSERT_EQ(reg.SetExpandStringValue(L"E", L"a\U0001F600"), 0u);
    ASSERT_EQ(reg.SetExpandStringValue(L"Empty", L""), 0u);
    const std::string text = ReadStore(root);
    EXPECT_NE(text.find("\"E\"=hex(2):61,00,3d,d8,00,de,00,00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Empty\"=hex(2):00,00\n"), std::string::npos) << text;
    std::wstring back;
    EXPECT_EQ(reg.QueryStringValue(L"E", back), 0u);
    EXPECT_EQ(back, L"a\U0001F600");
}

}  // namespace
