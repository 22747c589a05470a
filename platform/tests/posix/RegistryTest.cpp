#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "platform/Win32Error.h"
#include "tests/support/TempSysRoot.h"

namespace {

using namespace platform;

constexpr std::uint32_t kKeyWrite = 0x20006u;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::filesystem::path StoreFile(const test::TempSysRoot& root) {
    return root.path() / "registry" / "HKLM.reg";
}

// A key created (or opened) with all access; closed at the end of the scope.
class Key {
  public:
    Key(RegKey root, const std::wstring& subkey, bool create = true) {
        bool created = false;
        m_rc = create ? CreateRegistryKey(root, subkey, kKeyAllAccess, &m_key, &created)
                      : OpenRegistryKey(root, subkey, kKeyAllAccess, &m_key);
    }
    ~Key() {
        if (m_rc == 0) {
            CloseRegistryKey(m_key);
        }
    }
    std::uint32_t rc() const { return m_rc; }
    RegKey get() const { return m_key; }

  private:
    RegKey m_key = 0;
    std::uint32_t m_rc = 1;
};

std::vector<std::uint8_t> Utf16Z(std::wstring_view text) {
    std::vector<std::uint8_t> out = WideToUtf16Le(text);
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::uint32_t Set(RegKey key, const wchar_t* name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data) {
    return SetRegistryValue(key, name, type, data.data(), static_cast<std::uint32_t>(data.size()));
}

std::uint32_t Get(RegKey key, const wchar_t* name, std::uint32_t* type,
                  std::vector<std::uint8_t>* data) {
    std::uint32_t size = 0;
    std::uint32_t rc = QueryRegistryValue(key, name, type, nullptr, &size);
    if (rc != 0) {
        return rc;
    }
    data->assign(size, 0);
    return QueryRegistryValue(key, name, type, data->data(), &size);
}

TEST(RegistryTest, ValuesWrittenAreReadBackThroughANewHandle) {
    test::TempSysRoot root;
    struct Value {
        const wchar_t* name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    const std::vector<Value> values = {
        {L"InstallDir", kRegSz, Utf16Z(L"/opt/vorma \"6\"\\")},
        {L"EventMessageFile", kRegExpandSz, Utf16Z(L"%SystemRoot%\\\u65E5\u672C.dll")},
        {L"TypesSupported", kRegDword, {7, 0, 0, 0}},
        {L"Blob", kRegBinary, std::vector<std::uint8_t>(200, 0xA5)},
        {L"", kRegSz, Utf16Z(L"default")},
    };
    {
        bool created = false;
        RegKey key = 0;
        ASSERT_EQ(CreateRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMAW6", kKeyAllAccess,
                                    &key, &created),
                  0u);
        EXPECT_TRUE(created);
        for (const Value& v : values) {
            EXPECT_EQ(Set(key, v.name, v.type, v.data), 0u);
        }
        EXPECT_EQ(CloseRegistryKey(key), 0u);
        EXPECT_EQ(CloseRegistryKey(key), kErrorInvalidHandle);
    }
    const std::string text = ReadText(StoreFile(root));
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u) << text;
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"TypesSupported\"=dword:00000007\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"EventMessageFile\"=hex(2):25,00,53,00,"), std::string::npos) << text;

    RegKey key = 0;
    ASSERT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMAW6", kKeyRead, &key),
              0u);
    for (const Value& v : values) {
        std::uint32_t type = 99;
        std::vector<std::uint8_t> data;
        ASSERT_EQ(Get(key, v.name, &type, &data), 0u) << WideToUtf8(v.name);
        EXPECT_EQ(type, v.type);
        EXPECT_EQ(data, v.data);
    }
    // A null name is the default value too.
    std::vector<std::uint8_t> data;
    ASSERT_EQ(Get(key, nullptr, nullptr, &data), 0u);
    EXPECT_EQ(data, Utf16Z(L"default"));
    CloseRegistryKey(key);
}

TEST(RegistryTest, QueryFollowsTheWin32Contract) {
    test::TempSysRoot root;
    Key key(kHkeyLocalMachine, L"SOFTWARE\\Q");
    ASSERT_EQ(key.rc(), 0u);
    ASSERT_EQ(Set(key.get(), L"Text", kRegSz, Utf16Z(L"abc")), 0u);

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(QueryRegistryValue(key.get(), L"Text", &type, nullptr, &size), 0u);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, kRegSz);

    std::uint8_t small[4] = {};
    size = sizeof(small);
    type = 0;
    EXPECT_EQ(QueryRegistryValue(key.get(), L"Text", &type, small, &size), kErrorMoreData);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, kRegSz);

    std::uint8_t big[16] = {};
    size = sizeof(big);
    EXPECT_EQ(QueryRegistryValue(key.get(), L"Text", nullptr, big, &size), 0u);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(big, big + 8), Utf16Z(L"abc"));

    EXPECT_EQ(QueryRegistryValue(key.get(), L"Missing", nullptr, nullptr, &size),
              kErrorFileNotFound);
    EXPECT_EQ(QueryRegistryValue(key.get(), L"Text", nullptr, big, nullptr),
              kErrorInvalidParameter);
}

TEST(RegistryTest, ResultCodesOfKeysAndHandles) {
    test::TempSysRoot root;
    Key made(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMAW6");
    ASSERT_EQ(made.rc(), 0u);
    RegKey key = 0;
    std::uint32_t size = 0;
    const std::uint8_t four[4] = {1, 2, 3, 4};

    // Missing keys, other roots, malformed paths.
    EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Nothing", kKeyRead, &key),
              kErrorFileNotFound);
    EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMA", kKeyRead, &key),
              kErrorFileNotFound);
    EXPECT_EQ(OpenRegistryKey(kHkeyCurrentUser, L"SOFTWARE", kKeyRead, &key), kErrorFileNotFound);
    EXPECT_EQ(CreateRegistryKey(kHkeyUsers, L"X", kKeyAllAccess, &key, nullptr),
              kErrorFileNotFound);
    for (const wchar_t* bad : {L"\\SOFTWARE", L"SOFTWARE\\\\Quillon", L"SOFT\nWARE"}) {
        EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, bad, kKeyRead, &key), 161u);
        EXPECT_EQ(CreateRegistryKey(kHkeyLocalMachine, bad, kKeyAllAccess, &key, nullptr), 161u);
    }

    // Handles that are not open.
    const RegKey never = 0x12345;
    EXPECT_EQ(QueryRegistryValue(never, L"x", nullptr, nullptr, &size), kErrorInvalidHandle);
    EXPECT_EQ(SetRegistryValue(never, L"x", kRegDword, four, 4), kErrorInvalidHandle);
    EXPECT_EQ(OpenRegistryKey(never, L"", kKeyRead, &key), kErrorInvalidHandle);
    EXPECT_EQ(CloseRegistryKey(never), kErrorInvalidHandle);
    EXPECT_EQ(CloseRegistryKey(kHkeyLocalMachine), 0u);
    EXPECT_TRUE(IsPredefinedRegKey(kHkeyPerformanceNlsText));
    EXPECT_FALSE(IsPredefinedRegKey(made.get()));

    // A read handle cannot write; a write handle cannot read.
    ASSERT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMAW6", kKeyRead, &key),
              0u);
    EXPECT_EQ(SetRegistryValue(key, L"x", kRegDword, four, 4), kErrorAccessDenied);
    CloseRegistryKey(key);
    ASSERT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMAW6", kKeyWrite, &key),
              0u);
    EXPECT_EQ(SetRegistryValue(key, L"x", kRegDword, four, 4), 0u);
    EXPECT_EQ(QueryRegistryValue(key, L"x", nullptr, nullptr, &size), kErrorAccessDenied);
    CloseRegistryKey(key);

    // Keys below an open key, a trailing backslash, the root reopened.
    ASSERT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\", kKeyRead, &key), 0u);
    RegKey below = 0;
    EXPECT_EQ(OpenRegistryKey(key, L"VORMAW6", kKeyAllAccess, &below), 0u);
    EXPECT_EQ(QueryRegistryValue(below, L"x", nullptr, nullptr, &size), 0u);
    EXPECT_EQ(size, 4u);
    CloseRegistryKey(below);
    CloseRegistryKey(key);
    ASSERT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"", kKeyRead, &key), 0u);
    EXPECT_EQ(OpenRegistryKey(key, L"SOFTWARE", kKeyRead, &below), 0u);
    CloseRegistryKey(below);
    CloseRegistryKey(key);

    // Creating a key that exists opens it.
    bool created = true;
    ASSERT_EQ(
        CreateRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon", kKeyAllAccess, &key, &created),
        0u);
    EXPECT_FALSE(created);
    CloseRegistryKey(key);
}

TEST(RegistryTest, NamesCompareWithoutCaseAndKeepTheirStoredCase) {
    test::TempSysRoot root;
    {
        Key key(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMAW6");
        ASSERT_EQ(key.rc(), 0u);
        ASSERT_EQ(Set(key.get(), L"InstallDir", kRegSz, Utf16Z(L"/a")), 0u);
    }
    bool created = true;
    RegKey key = 0;
    ASSERT_EQ(CreateRegistryKey(kHkeyLocalMachine, L"software\\QUILLON\\vormaw6", kKeyAllAccess,
                                &key, &created),
              0u);
    EXPECT_FALSE(created);
    EXPECT_EQ(Set(key, L"INSTALLDIR", kRegSz, Utf16Z(L"/b")), 0u);
    CloseRegistryKey(key);

    ASSERT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"Software\\quillon\\VormaW6", kKeyRead, &key),
              0u);
    std::vector<std::uint8_t> data;
    ASSERT_EQ(Get(key, L"installdir", nullptr, &data), 0u);
    EXPECT_EQ(data, Utf16Z(L"/b"));
    CloseRegistryKey(key);

    const std::string text = ReadText(StoreFile(root));
    EXPECT_NE(
        text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n\"InstallDir\"=\"/b\"\n\n"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.find("vormaw6"), std::string::npos) << text;
    EXPECT_EQ(text.find("INSTALLDIR"), std::string::npos) << text;
}

TEST(RegistryTest, DeletingAKeyTreeTakesItsSubkeys) {
    test::TempSysRoot root;
    for (const wchar_t* path :
         {L"SYSTEM\\EventLog\\Application\\Source\\Sub", L"SYSTEM\\EventLog\\Application\\Other"}) {
        Key key(kHkeyLocalMachine, path);
        ASSERT_EQ(key.rc(), 0u);
        ASSERT_EQ(Set(key.get(), L"v", kRegDword, {1, 0, 0, 0}), 0u);
    }
    Key held(kHkeyLocalMachine, L"SYSTEM\\EventLog\\Application\\Source", false);
    ASSERT_EQ(held.rc(), 0u);

    EXPECT_EQ(DeleteRegistryTree(kHkeyLocalMachine, L"system\\eventlog\\application\\source"), 0u);
    RegKey key = 0;
    EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SYSTEM\\EventLog\\Application\\Source\\Sub",
                              kKeyRead, &key),
              kErrorFileNotFound);
    EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SYSTEM\\EventLog\\Application\\Source", kKeyRead,
                              &key),
              kErrorFileNotFound);
    {
        Key other(kHkeyLocalMachine, L"SYSTEM\\EventLog\\Application\\Other", false);
        EXPECT_EQ(other.rc(), 0u);
    }
    // A handle to the deleted key is still a handle, to a key that is gone.
    std::uint32_t size = 0;
    EXPECT_EQ(QueryRegistryValue(held.get(), L"v", nullptr, nullptr, &size), 1018u);
    EXPECT_EQ(SetRegistryValue(held.get(), L"v", kRegDword, nullptr, 0), 1018u);

    EXPECT_EQ(DeleteRegistryTree(kHkeyLocalMachine, L"SYSTEM\\EventLog\\Application\\Source"),
              kErrorFileNotFound);
    EXPECT_EQ(DeleteRegistryTree(kHkeyLocalMachine, L""), kErrorAccessDenied);
    // Through an open parent.
    Key parent(kHkeyLocalMachine, L"SYSTEM\\EventLog", false);
    ASSERT_EQ(parent.rc(), 0u);
    EXPECT_EQ(DeleteRegistryTree(parent.get(), L"Application"), 0u);
    EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SYSTEM\\EventLog\\Application", kKeyRead, &key),
              kErrorFileNotFound);
    Key stays(kHkeyLocalMachine, L"SYSTEM\\EventLog", false);
    EXPECT_EQ(stays.rc(), 0u);
}

// The registry editor's export (UTF-16LE with its byte-order mark) is read; the first change
// writes the file in UTF-8.
TEST(RegistryTest, TheRegistryEditorsUtf16ExportIsReadAndRewrittenInUtf8) {
    test::TempSysRoot root;
    const std::u16string text =
        u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\r\n"
        u"\"InstallDir\"=\"/opt/監視\"\r\n\r\n";
    std::string bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    WriteText(StoreFile(root), bytes);
    EXPECT_EQ(CheckRegistryStore(nullptr), 0u);
    RegKey key = 0;
    ASSERT_EQ(
        OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMAW6", kKeyAllAccess, &key), 0u);
    std::vector<std::uint8_t> data;
    EXPECT_EQ(Get(key, L"InstallDir", nullptr, &data), 0u);
    EXPECT_EQ(data, Utf16Z(L"/opt/監視"));
    EXPECT_EQ(Set(key, L"LCID", kRegDword, {0x11, 4, 0, 0}), 0u);
    CloseRegistryKey(key);
    std::ifstream in(StoreFile(root), std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    EXPECT_EQ(written.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(written.find("\"InstallDir\"=\"/opt/監視\""), std::string::npos);
}

TEST(RegistryTest, AMalformedFileIsReadButNeverRewritten) {
    test::TempSysRoot root;
    const std::string text =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n"
        "\"InstallDir\"=\"/opt/vorma\"\n"
        "\"LCID\"=dword:zz\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"
        "\"Kept\"=dword:00000001\n";
    WriteText(StoreFile(root), text);

    std::wstring problems;
    EXPECT_EQ(CheckRegistryStore(&problems), kErrorRegistryCorrupt);
    EXPECT_NE(problems.find(L"HKLM.reg line 5: dword:"), std::wstring::npos)
        << WideToUtf8(problems);

    // What parsed can be read; the bad value is missing.
    RegKey key = 0;
    ASSERT_EQ(
        OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Quillon\\VORMAW6", kKeyAllAccess, &key), 0u);
    std::vector<std::uint8_t> data;
    EXPECT_EQ(Get(key, L"InstallDir", nullptr, &data), 0u);
    EXPECT_EQ(data, Utf16Z(L"/opt/vorma"));
    EXPECT_EQ(Get(key, L"LCID", nullptr, &data), kErrorFileNotFound);

    // Every change is refused and the file stays as it was.
    EXPECT_EQ(Set(key, L"LCID", kRegDword, {0x11, 4, 0, 0}), kErrorRegistryCorrupt);
    CloseRegistryKey(key);
    bool created = true;
    EXPECT_EQ(CreateRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\New", kKeyAllAccess, &key, &created),
              kErrorRegistryCorrupt);
    EXPECT_EQ(DeleteRegistryTree(kHkeyLocalMachine, L"SOFTWARE\\Other"), kErrorRegistryCorrupt);
    EXPECT_EQ(ReadText(StoreFile(root)), text);

    // Opening an existing key with create writes nothing, so it works.
    ASSERT_EQ(
        CreateRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Other", kKeyAllAccess, &key, &created),
        0u);
    EXPECT_FALSE(created);
    CloseRegistryKey(key);

    // Once the line is mended, writes go through again.
    std::string mended = text;
    mended.replace(mended.find("dword:zz"), 8, "dword:00000411");
    WriteText(StoreFile(root), mended);
    EXPECT_EQ(CheckRegistryStore(&problems), 0u);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(DeleteRegistryTree(kHkeyLocalMachine, L"SOFTWARE\\Other"), 0u);
}

TEST(RegistryTest, AnUnwritableStoreGivesAccessDenied) {
    test::TempSysRoot root;
    // The registry folder cannot be made: a file holds its name.
    WriteText(root.path() / "registry", "");
    RegKey key = 0;
    EXPECT_EQ(CreateRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\X", kKeyAllAccess, &key, nullptr),
              kErrorAccessDenied);
    EXPECT_EQ(OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\X", kKeyRead, &key),
              kErrorFileNotFound);
}

TEST(RegistryTest, WritersInTwoProcessesLoseNothing) {
    test::TempSysRoot root;
    constexpr int kValues = 60;
    {
        Key key(kHkeyLocalMachine, L"SOFTWARE\\Shared");
        ASSERT_EQ(key.rc(), 0u);
    }
    std::vector<pid_t> children;
    for (wchar_t writer : {L'A', L'B'}) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            RegKey key = 0;
            // Each writer also makes a key of its own, which must not drop the other's values.
            failures +=
                CreateRegistryKey(kHkeyLocalMachine, std::wstring(L"SOFTWARE\\Shared\\") + writer,
                                  kKeyAllAccess, &key, nullptr) != 0;
            CloseRegistryKey(key);
            failures +=
                OpenRegistryKey(kHkeyLocalMachine, L"SOFTWARE\\Shared", kKeyAllAccess, &key) != 0;
            for (int i = 0; i < kValues; ++i) {
                std::wstring name = std::wstring(1, writer) + std::to_wstring(i);
                failures += Set(key, name.c_str(), kRegSz, Utf16Z(name + L"-data")) != 0;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(CheckRegistryStore(nullptr), 0u);
    Key key(kHkeyLocalMachine, L"SOFTWARE\\Shared", false);
    ASSERT_EQ(key.rc(), 0u);
    int found = 0;
    for (wchar_t writer : {L'A', L'B'}) {
        Key own(key.get(), std::wstring(1, writer), false);
        EXPECT_EQ(own.rc(), 0u);
        for (int i = 0; i < kValues; ++i) {
            std::wstring name = std::wstring(1, writer) + std::to_wstring(i);
            std::vector<std::uint8_t> data;
            if (Get(key.get(), name.c_str(), nullptr, &data) == 0 &&
                data == Utf16Z(name + L"-data")) {
                ++found;
            }
        }
    }
    EXPECT_EQ(found, 2 * kValues);
    // No temporary file is left behind.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root.path() / "registry")) {
        files += entry.is_regular_file();
    }
    EXPECT_EQ(files, 2);  // HKLM.reg and HKLM.reg.lock
}

}  // namespace
