#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/RegFile.h"
#include "platform/Text.h"

namespace {

using platform::CRegFile;
using platform::RegFileValue;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list) {
        out.push_back(static_cast<std::uint8_t>(b));
    }
    return out;
}

std::vector<std::uint8_t> Utf16Z(std::wstring_view text) {
    std::vector<std::uint8_t> out = platform::WideToUtf16Le(text);
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::string Describe(const CRegFile& file) {
    return platform::WideToUtf8(file.DescribeProblems(L"test.reg"));
}

TEST(RegFileTest, ReadsAHandWrittenExportWithExpandStringsAndContinuedLines) {
    // As the registry editor writes it (CR LF, a byte order mark), with a comment added.
    const std::string text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\r\n"
        "; installed by hand\r\n"
        "\"InstallDir\"=\"C:\\\\Program Files\\\\VORMA \\\"6\\\"\\\\\"\r\n"
        "\"LCID\"=dword:00000411\r\n"
        "\"Path\"=hex(2):25,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,46,00,69,00,6c,\\\r\n"
        "  00,65,00,73,00,25,00,5c,00,56,00,00,00\r\n"
        "@=\"\xE6\x97\xA5\xE6\x9C\xAC\"\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  03\r\n"
        "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\Action]\r\n"
        "\"TimeOut\"=dword:0000001e\r\n"
        "\r\n";
    CRegFile file = CRegFile::Parse(text);
    ASSERT_FALSE(file.HasProblems()) << Describe(file);
    ASSERT_EQ(file.Keys().size(), 2u);

    const std::wstring key = L"hkey_local_machine\\software\\QUILLON\\vormaw6";
    struct Expect {
        const wchar_t* name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    const Expect expected[] = {
        {L"installdir", 1, Utf16Z(L"C:\\Program Files\\VORMA \"6\"\\")},
        {L"LCID", 4, Bytes({0x11, 0x04, 0, 0})},
        {L"PATH", 2, Utf16Z(L"%ProgramFiles%\\V")},
        {L"", 1, Utf16Z(L"\u65E5\u672C")},
        {L"blob", 3, Bytes({1, 2, 3})},
        {L"q", 11, Bytes({1, 0, 0, 0, 0, 0, 0, 0})},
    };
    for (const Expect& e : expected) {
        const RegFileValue* value = file.FindValue(key, e.name);
        ASSERT_NE(value, nullptr) << platform::WideToUtf8(e.name);
        EXPECT_EQ(value->type, e.type) << platform::WideToUtf8(e.name);
        EXPECT_EQ(value->data, e.data) << platform::WideToUtf8(e.name);
    }
    EXPECT_EQ(file.FindValue(key, L"InstallDi"), nullptr);
    const RegFileValue* timeout = file.FindValue(key + L"\\ACTION", L"timeout");
    ASSERT_NE(timeout, nullptr);
    EXPECT_EQ(timeout->data, Bytes({0x1e, 0, 0, 0}));
}

TEST(RegFileTest, WritesTheRegistryEditorFormat) {
    CRegFile file;
    ASSERT_TRUE(file.CreateKey(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6"));
    const std::wstring key = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6";
    ASSERT_TRUE(file.SetValue(key, {L"InstallDir", 1, Utf16Z(L"C:\\V \"x\"")}));
    ASSERT_TRUE(file.SetValue(key, {L"LCID", 4, Bytes({0x11, 0x04, 0, 0})}));
    ASSERT_TRUE(file.SetValue(key, {L"E", 2, Utf16Z(L"A")}));
    ASSERT_TRUE(file.SetValue(key, {L"", 3, {}}));
    ASSERT_TRUE(file.SetValue(key, {L"Q", 11, Bytes({0xAB, 0, 0, 0, 0, 0, 0, 0})}));
    EXPECT_EQ(file.Serialize(),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n"
              "\"InstallDir\"=\"C:\\\\V \\\"x\\\"\"\n"
              "\"LCID\"=dword:00000411\n"
              "\"E\"=hex(2):41,00,00,00\n"
              "@=hex:\n"
              "\"Q\"=hex(b):ab,00,00,00,00,00,00,00\n"
              "\n");
}

TEST(RegFileTest, EveryValueSurvivesAWriteAndReadBack) {
    std::vector<std::uint8_t> long_binary;
    for (int i = 0; i < 300; ++i) {
        long_binary.push_back(static_cast<std::uint8_t>(i * 7));
    }
    const RegFileValue values[] = {
        {L"plain", 1, Utf16Z(L"C:\\Program Files\\VORMA\\")},
        {L"quotes \"and\" \\backslashes\\", 1, Utf16Z(L"\"\\\"")},
        {L"japanese", 1, Utf16Z(L"\u65E5\u672C\u8A9E\u30C6\u30AD\u30B9\u30C8")},
        {L"beyond BMP", 1, Utf16Z(L"\U0001F600")},
        {L"line breaks", 1, Utf16Z(L"a\r\nb")},                    // kept as hex(1)
        {L"no terminator", 1, Bytes({0x41, 0x00})},                // kept as hex(1)
        {L"inner NUL", 1, Bytes({0x41, 0, 0, 0, 0x42, 0, 0, 0})},  // kept as hex(1)
        {L"lone surrogate", 1, Bytes({0x00, 0xD8, 0, 0})},         // kept as hex(1)
        {L"empty text", 1, Utf16Z(L"")},
        {L"dword", 4, Bytes({0xFF, 0xFE, 0xFD, 0xFC})},
        {L"short dword", 4, Bytes({1, 2})},  // kept as hex(4)
        {L"expand", 2, Utf16Z(L"%SystemRoot%\\system32\\\u65E5.dll")},
        {L"empty binary", 3, {}},
        {L"long binary", 3, long_binary},
        {L"multi", 7, Utf16Z(std::wstring(L"a\0b\0", 4))},
        {L"type beyond the table", 0x12345678u, Bytes({9})},
        {L"none", 0, {}},
        {L"", 1, Utf16Z(L"default")},
    };
    CRegFile file;
    const std::wstring key = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\T";
    ASSERT_TRUE(file.CreateKey(key));
    for (const RegFileValue& v : values) {
        ASSERT_TRUE(file.SetValue(key, v));
    }
    const std::string text = file.Serialize();

    // Long hex lines are continued, none wider than the registry editor writes them.
    std::istringstream lines(text);
    std::string line;
    int continued = 0;
    while (std::getline(lines, line)) {
        EXPECT_LE(line.size(), 80u) << line;
        continued += !line.empty() && line.back() == '\\';
    }
    EXPECT_GE(continued, 12);

    CRegFile back = CRegFile::Parse(text);
    ASSERT_FALSE(back.HasProblems()) << Describe(back) << text;
    ASSERT_EQ(back.Keys().size(), 2u);
    for (const RegFileValue& v : values) {
        const RegFileValue* read = back.FindValue(key, v.name);
        ASSERT_NE(read, nullptr) << platform::WideToUtf8(v.name);
        EXPECT_EQ(read->name, v.name);
        EXPECT_EQ(read->type, v.type) << platform::WideToUtf8(v.name);
        EXPECT_EQ(read->data, v.data) << platform::WideToUtf8(v.name);
    }
    EXPECT_EQ(back.Serialize(), text);
}

TEST(RegFileTest, KeysAreWrittenInTreeOrder) {
    CRegFile file;
    for (const wchar_t* key : {L"HKEY_LOCAL_MACHINE\\B\\x", L"HKEY_LOCAL_MACHINE\\A b",
                               L"HKEY_LOCAL_MACHINE\\a\\z", L"HKEY_CURRENT_USER\\K"}) {
        file.CreateKey(key);
    }
    EXPECT_EQ(file.Serialize(),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\K]\n\n"
              "[HKEY_LOCAL_MACHINE\\a]\n\n"
              "[HKEY_LOCAL_MACHINE\\a\\z]\n\n"
              "[HKEY_LOCAL_MACHINE\\A b]\n\n"
              "[HKEY_LOCAL_MACHINE\\B]\n\n"
              "[HKEY_LOCAL_MACHINE\\B\\x]\n\n");
}

TEST(RegFileTest, KeysExistThroughTheirSubkeysAndKeepTheirStoredCase) {
    CRegFile file = CRegFile::Parse(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\Action]\n"
        "\"TimeOut\"=dword:00000001\n\n");
    ASSERT_FALSE(file.HasProblems()) << Describe(file);
    EXPECT_TRUE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\software"));
    EXPECT_TRUE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\quillon\\vormaw6"));
    EXPECT_FALSE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quill"));
    EXPECT_FALSE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\Act"));
    EXPECT_FALSE(file.KeyExists(L"HKEY_CURRENT_USER\\SOFTWARE"));

    // An existing key is not created again; a new one takes the stored case of its parents.
    EXPECT_FALSE(file.CreateKey(L"HKEY_LOCAL_MACHINE\\software\\QUILLON"));
    EXPECT_TRUE(file.CreateKey(L"HKEY_LOCAL_MACHINE\\software\\QUILLON\\vormaw6\\LinuxOption"));
    EXPECT_TRUE(file.SetValue(L"HKEY_LOCAL_MACHINE\\software\\quillon\\VORMAW6",
                              {L"InstallDir", 1, Utf16Z(L"/opt/vorma")}));
    EXPECT_FALSE(file.SetValue(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", {L"x", 4, Bytes({0})}));
    std::vector<std::wstring> paths;
    for (const auto& key : file.Keys()) {
        paths.push_back(key.path);
    }
    // Creating a key writes the blocks of its parents that had none.
    EXPECT_EQ(paths, (std::vector<std::wstring>{
                         L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\Action",
                         L"HKEY_LOCAL_MACHINE\\SOFTWARE",
                         L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon",
                         L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6",
                         L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\LinuxOption",
                     }));

    // Setting a value of the same name in other case replaces it and keeps the stored name.
    EXPECT_TRUE(file.SetValue(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6\\ACTION",
                              {L"TIMEOUT", 4, Bytes({2, 0, 0, 0})}));
    const auto& action = file.Keys()[0];
    ASSERT_EQ(action.values.size(), 1u);
    EXPECT_EQ(action.values[0].name, L"TimeOut");
    EXPECT_EQ(action.values[0].data, Bytes({2, 0, 0, 0}));
}

TEST(RegFileTest, DeletingAKeyTakesItsSubkeysAndLeavesItsParent) {
    CRegFile file = CRegFile::Parse(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\S\\App]\n\"v\"=dword:00000001\n\n"
        "[HKEY_LOCAL_MACHINE\\S\\App\\Sub\\Deep]\n\n"
        "[HKEY_LOCAL_MACHINE\\S\\Apple]\n\n");
    ASSERT_FALSE(file.HasProblems()) << Describe(file);
    EXPECT_FALSE(file.DeleteKeyTree(L"HKEY_LOCAL_MACHINE\\S\\Ap"));
    EXPECT_TRUE(file.DeleteKeyTree(L"HKEY_LOCAL_MACHINE\\s\\app"));
    EXPECT_FALSE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\S\\App"));
    EXPECT_FALSE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\S\\App\\Sub"));
    EXPECT_TRUE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\S\\Apple"));

    // The parent stays even when the deleted key was what made it exist.
    EXPECT_TRUE(file.DeleteKeyTree(L"HKEY_LOCAL_MACHINE\\S\\Apple"));
    EXPECT_TRUE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\S"));
    ASSERT_EQ(file.Keys().size(), 1u);
    EXPECT_EQ(file.Keys()[0].path, L"HKEY_LOCAL_MACHINE\\S");
}

TEST(RegFileTest, MalformedLinesAreReportedWithTheirLineAndTheRestIsKept) {
    struct Case {
        const char* line;
        const char* why;
    };
    const Case cases[] = {
        {"[HKEY_LOCAL_MACHINE\\X", "must end with"},
        {"[HKEY_LOCAL_MACHIN\\X]", "registry root"},
        {"[HKEY_LOCAL_MACHINE\\X\\\\Y]", "empty name"},
        {"[HKEY_LOCAL_MACHINE\\X\\]", "empty name"},
        {"[HKEY_LOCAL_MACHINE\\\\X]", "empty name"},
        {"[-HKEY_LOCAL_MACHINE\\X]", "deletion"},
        {"\"a\"=\"no end", "closing quote"},
        {"\"a\"=\"C:\\Program Files\"", "backslash"},
        {"\"a\"=\"x\" y", "follows the closing quote"},
        {"\"a\"=dword:123456789", "1 to 8 hex digits"},
        {"\"a\"=dword:", "1 to 8 hex digits"},
        {"\"a\"=dword:12g4", "1 to 8 hex digits"},
        {"\"a\"=hex:01,zz", "two hex digits"},
        {"\"a\"=hex:01,,02", "two hex digits"},
        {"\"a\"=hex:01,", "two hex digits"},
        {"\"a\"=hex:100", "two hex digits"},
        {"\"a\"=hex(2:00", "type number"},
        {"\"a\"=hex(123456789):00", "type number"},
        {"\"a\"=hex 00", "hex:"},
        {"\"a\"=-", "deletion"},
        {"\"a\"=12", "value data"},
        {"\"a\" \"x\"", "followed by"},
        {"\"\"=\"x\"", "written @"},
        {"InstallDir=x", "neither"},
        {"\"bad\xff\"=\"x\"", "UTF-8"},
        {"\"a\"=\"\xed\xa0\x80\"", "UTF-8"},  // an encoded surrogate
    };
    for (const Case& c : cases) {
        const std::string text = std::string("Windows Registry Editor Version 5.00\n\n") +
                                 "[HKEY_LOCAL_MACHINE\\A]\n" + "\"before\"=dword:00000001\n" +
                                 c.line + "\n" + "\"after\"=dword:00000002\n\n" +
                                 "[HKEY_LOCAL_MACHINE\\B]\n\"b\"=\"kept\"\n";
        CRegFile file = CRegFile::Parse(text);
        ASSERT_EQ(file.Problems().size(), 1u) << c.line << "\n" << Describe(file);
        EXPECT_EQ(file.Problems()[0].line, 5u) << c.line;
        EXPECT_NE(Describe(file).find(std::string("test.reg line 5: ")), std::string::npos);
        EXPECT_NE(Describe(file).find(c.why), std::string::npos)
            << c.line << ": " << Describe(file);
        EXPECT_NE(file.FindValue(L"HKEY_LOCAL_MACHINE\\B", L"b"), nullptr) << c.line;
        if (c.line[0] != '[') {
            // A bad value line costs only that value.
            EXPECT_NE(file.FindValue(L"HKEY_LOCAL_MACHINE\\A", L"before"), nullptr) << c.line;
            EXPECT_NE(file.FindValue(L"HKEY_LOCAL_MACHINE\\A", L"after"), nullptr) << c.line;
        }
    }
}

// Found by fuzzing: a key with an empty name after its root was read, and a key then created
// below it added the block "HKEY_LOCAL_MACHINE\" that the written file could not read back.
TEST(RegFileTest, AnEmptyNameAfterTheRootIsAProblem) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\\\Software\\\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e]\n"
        "\"\xe5\x90\x8d\xe5\x89\x8d\"=\"\xe5\x80\xa4\x64\\\"\"\n";
    CRegFile file = CRegFile::Parse(text);
    ASSERT_EQ(file.Problems().size(), 1u) << Describe(file);
    EXPECT_EQ(file.Problems()[0].line, 3u);
    EXPECT_NE(Describe(file).find("empty name"), std::string::npos) << Describe(file);
    EXPECT_TRUE(file.Keys().empty());
}

TEST(RegFileTest, StructuralProblems) {
    struct Case {
        const char* text;
        std::size_t line;
        const char* why;
    };
    const Case cases[] = {
        {"", 1, "empty"},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n", 1, "does not begin"},
        {"[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:1\n", 1, "does not begin"},
        {"Windows Registry Editor Version 5.00\n\n\"v\"=dword:1\n", 3, "outside a [key]"},
        {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\n\"v\"=dword:1\n", 5,
         "outside a [key]"},
        {"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:01,\\\n", 4,
         "nothing follows"},
    };
    for (const Case& c : cases) {
        CRegFile file = CRegFile::Parse(c.text);
        ASSERT_FALSE(file.Problems().empty()) << c.text;
        EXPECT_EQ(file.Problems()[0].line, c.line) << c.text;
        EXPECT_NE(Describe(file).find(c.why), std::string::npos) << c.text << Describe(file);
    }
    // Values of a key line that did not parse are dropped with it, without a report of their own.
    CRegFile file = CRegFile::Parse(
        "Windows Registry Editor Version 5.00\n\n[NOWHERE\\A]\n\"v\"=dword:1\n\"w\"=dword:2\n");
    EXPECT_EQ(file.Problems().size(), 1u) << Describe(file);
    EXPECT_TRUE(file.Keys().empty());
}

TEST(RegFileTest, RepeatedBlocksAndValuesMerge) {
    CRegFile file = CRegFile::Parse(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:00000001\n\"y\"=\"1\"\n\n"
        "[hkey_local_machine\\a]\n\"X\"=dword:00000002\n\n");
    ASSERT_FALSE(file.HasProblems()) << Describe(file);
    ASSERT_EQ(file.Keys().size(), 1u);
    EXPECT_EQ(file.Keys()[0].values.size(), 2u);
    EXPECT_EQ(file.FindValue(L"HKEY_LOCAL_MACHINE\\A", L"x")->data, Bytes({2, 0, 0, 0}));
}

}  // namespace

namespace {

// A text as the registry editor exports it: UTF-16LE behind its byte-order mark, CR LF line ends.
std::string Utf16LeExport(std::wstring_view text) {
    std::string out = "\xFF\xFE";
    for (wchar_t c : text) {
        if (c == L'\n') {
            out += std::string("\r\0\n\0", 4);
            continue;
        }
        std::vector<std::uint8_t> units = platform::WideToUtf16Le(std::wstring_view(&c, 1));
        out.append(units.begin(), units.end());
    }
    return out;
}

TEST(RegFileTest, TheRegistryEditorsUtf16ExportReadsAsItsUtf8Form) {
    const std::wstring text =
        L"Windows Registry Editor Version 5.00\n\n"
        L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n"
        L"\"InstallDir\"=\"C:\\\\Program Files\\\\VORMA\\\\監視\\\\\"\n"
        L"\"Emoji\"=\"\U0001F600\"\n"
        L"\"LCID\"=dword:00000411\n\n";
    CRegFile fromUtf16 = CRegFile::Parse(Utf16LeExport(text));
    EXPECT_FALSE(fromUtf16.HasProblems()) << Describe(fromUtf16);
    CRegFile fromUtf8 = CRegFile::Parse(platform::WideToUtf8(text));
    EXPECT_EQ(fromUtf16.Serialize(), fromUtf8.Serialize());
    const RegFileValue* dir =
        fromUtf16.FindValue(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6", L"InstallDir");
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(dir->data, Utf16Z(L"C:\\Program Files\\VORMA\\監視\\"));
    // Written back in UTF-8.
    EXPECT_EQ(fromUtf16.Serialize().rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
}

TEST(RegFileTest, MalformedUtf16IsReportedWithItsLine) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string problem;
    };
    const std::string header = Utf16LeExport(L"Windows Registry Editor Version 5.00\n\n");
    const std::string key = Utf16LeExport(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n").substr(2);
    const Case cases[] = {
        {"an unpaired surrogate",
         header + key + Utf16LeExport(L"\"A\"=\"").substr(2) + std::string("\x00\xD8", 2) +
             Utf16LeExport(L"\"\n").substr(2),
         "test.reg line 4: the line is not valid UTF-16"},
        {"an odd number of bytes", header + key + "x",
         "test.reg line 1: the UTF-16 file ends in half a character"},
    };
    for (const Case& c : cases) {
        CRegFile file = CRegFile::Parse(c.bytes);
        EXPECT_NE(Describe(file).find(c.problem), std::string::npos) << c.what << Describe(file);
        EXPECT_TRUE(file.KeyExists(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\A")) << c.what;
    }
}

}  // namespace
