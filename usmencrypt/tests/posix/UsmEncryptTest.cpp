// The settings encryption tool, run as a process against temporary installations.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <locale>
#include <stdexcept>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "common/Crypt.h"
#include "getpoll/GetOidList.h"
#include "platform/NamedMutex.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "product/Registry.h"
#include "product/RegistryRoot.h"
#include "settings/SnmpV3Settings.h"
#include "tests/support/ScopedLocale.h"
#include "tests/support/TempSysRoot.h"
#include "usmencrypt/UsmEncrypt.h"
#include "usmencrypt/tests/ToolProcess.h"

namespace {

namespace fs = std::filesystem;

// Known answers of the settings cipher (OpenSSL's MD5 and RC2 with the built-in pass phrase).
constexpr char kPassword[] = "AhKYwoX5n5A=";                      // "password"
constexpr char kPassphrase9[] = "cnmJ723B/iRjL8A+CJOC0A==";       // "passphrase9"
constexpr char kAbcdefgh12345678[] = "23yrVLw9iQyMJg79tEYHjQ==";  // "abcdefgh12345678"

const std::wstring kSucceeded = L"SNMP指定ファイルの変換に成功しました。\n";
const std::wstring kGetOidListFailed = L"Get対象OID指定ファイルの変換に失敗しました。\n";
const std::wstring kSnmpV3Failed = L"SNMPv3用受信指定ファイルの変換に失敗しました。\n";
const std::wstring kError = L"エラーが発生しました。\n";

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Lines as the tool writes them: each ended by CR LF.
std::string CrLfLines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

std::wstring Output(const test::ToolResult& result) {
    return platform::Utf8ToWide(result.output);
}

std::wstring FileSystemError(std::errc error) {
    return L"エラーが発生しました。[" +
           platform::LocaleToWide(std::make_error_code(error).message()) + L"]\n";
}

class UsmEncryptTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_install = m_root.path() / "Vorma 6";
        m_config = m_install / "Common" / "snmp" / "Config";
        fs::create_directories(m_config);
        // As the Linux installer writes it: without a separator at the end.
        SetInstallDir(platform::WidePath(m_install));
    }

    static void SetInstallDir(const std::wstring& dir) {
        CRegistry reg;
        ASSERT_EQ(reg.Create(platform::kHkeyLocalMachine, CRegistryRoot::kProductKey) & 0x80000000u,
                  0u);
        ASSERT_EQ(reg.SetExpandStringValue(L"InstallDir", dir), 0u);
    }

    fs::path GetOidList() const { return m_config / "GetOIDList.txt"; }
    fs::path GetOidListBackup() const { return m_config / "GetOIDList_back.txt"; }
    fs::path SnmpV3() const { return m_config / "SnmpV3Setting.txt"; }
    fs::path SnmpV3Backup() const { return m_config / "SnmpV3Setting_back.txt"; }

    test::TempSysRoot m_root;
    fs::path m_install;
    fs::path m_config;
};

TEST_F(UsmEncryptTest, SecondInstanceExitsWith1AndTouchesNothing) {
    const std::string original = "-v:3 -u:monitor -a:SHA -AP:password -agent:h -oid:o\n";
    WriteBytes(GetOidList(), original);
    platform::NamedMutex held = platform::NamedMutex::OpenOrCreate(kUsmEncryptMutexName);
    ASSERT_EQ(held.TryAcquire(), platform::NamedMutex::WaitResult::kAcquired);

    test::ToolResult run = test::RunTool();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Output(run), L"すでに起動しているため、終了します。\n");
    EXPECT_EQ(ReadBytes(GetOidList()), original);
    EXPECT_FALSE(fs::exists(GetOidListBackup()));

    held.Release();
    EXPECT_EQ(test::RunTool().status, 0);  // the mutex is free again
}

TEST_F(UsmEncryptTest, WithoutInstallationFolderExitsWith100) {
    const char* const stores[] = {
        "",  // no product key
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n\"BinDir\"=\"/opt/vorma/bin\"\n\n",
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillon\\VORMAW6]\n\"InstallDir\"=\"\"\n\n",
    };
    for (const char* store : stores) {
        WriteBytes(m_root.path() / "registry" / "HKLM.reg",
                   std::string("Windows Registry Editor Version 5.00\n\n") + store);
        test::ToolResult run = test::RunTool();
        EXPECT_EQ(run.status, 100) << store;
        EXPECT_EQ(Output(run), L"VORMAがインストールされていません。\n") << store;
    }
}

TEST_F(UsmEncryptTest, WritesEveryAcceptedLineInTheToolsFormat) {
    struct Case {
        std::string line;
        std::string written;
    };
    const std::string p = kPassword;
    const std::string p9 = kPassphrase9;
    const Case getCases[] = {
        // The example line of a version 3 request.
        {"-v:3 -u:monitor -e:8000000001020304 -a:SHA -AP:password -x:AES -XP:passphrase9 "
         "-agent:udp6:[fe80::1]:161 -oid:sysUpTime.0",
         "-v:3 -u:\"monitor\" -e:8000000001020304 -a:SHA -A:\"" + p + "\" -x:AES -X:\"" + p9 +
             "\" -agent:udp6:[fe80::1]:161 -oid:sysUpTime.0"},
        {"-v:1 -c:public -agent:10.0.0.1 -oid:1.3.6.1.2.1.1.3.0",
         "-v:1 -c:\"public\" -agent:10.0.0.1 -oid:1.3.6.1.2.1.1.3.0"},
        // SNMPv3 and unknown options of a 2c line are not written; quotes around values go.
        {"word /v:2c --c:\"private\" -u:someone -AP:password -agent:\"udp:10.0.0.2:1161\" "
         "-oid:sysName.0 -z:unknown",
         "-v:2c -c:\"private\" -agent:udp:10.0.0.2:1161 -oid:sysName.0"},
        {"-v:2c -agent:host -oid:sysDescr.0", "-v:2c -agent:host -oid:sysDescr.0"},
        // AP wins over A; the community of a version 3 line is not written.
        {"-v:3 -c:public -u:monitor -a:MD5 -AP:passphrase9 -A:" + p + " -agent:h -oid:o",
         "-v:3 -u:\"monitor\" -a:MD5 -A:\"" + p9 + "\" -agent:h -oid:o"},
        {"-v:3 -u:monitor -a:SHA -A:" + p + " -x:DES -X:\"" + p9 + "\" -agent:h -oid:o",
         "-v:3 -u:\"monitor\" -a:SHA -A:\"" + p + "\" -x:DES -X:\"" + p9 + "\" -agent:h -oid:o"},
        // An A that does not decipher reads as no pass phrase.
        {"-v:3 -u:monitor -a:SHA -A:not*base64 -agent:h -oid:o",
         "-v:3 -u:\"monitor\" -a:SHA -agent:h -oid:o"},
        {"-v:3 -u:guest -x:AES -agent:h -oid:o", "-v:3 -u:\"guest\" -x:AES -agent:h -oid:o"},
        // Values with quotes, blanks and backslashes read back as they were read.
        {"-v:2c -c:\"say \\\"hi\\\"\" -agent:\"udp:host name\" -oid:x\\y",
         "-v:2c -c:\"say \\\"hi\\\"\" -agent:\"udp:host name\" -oid:x\\y"},
        {"-v:1 -c:pub\\ -agent:a\\\"b -oid:o", "-v:1 -c:\"pub\\\\\" -agent:\"a\\\"b\" -oid:o"},
        {"-v:3 -u:\"a\\\"b\\\\\" -agent:h -oid:o", "-v:3 -u:\"a\\\"b\\\\\" -agent:h -oid:o"},
        // Empty agent and OID are kept: the readers need both options.
        {"-v:2c -agent: -oid:", "-v:2c -agent: -oid:"},
    };
    const Case usmCases[] = {
        {"-e:8000000001020304 -u:monitor -a:SHA -AP:password -x:AES -XP:passphrase9",
         "-u:\"monitor\" -e:8000000001020304 -a:SHA -A:\"" + p + "\" -x:AES -X:\"" + p9 + "\""},
        {"-e:8000000001020304 -u:u2 -a:MD5 -AP:abcdefgh12345678 -A:" + p,
         "-u:\"u2\" -e:8000000001020304 -a:MD5 -A:\"" + std::string(kAbcdefgh12345678) + "\""},
        {"--u:u3 /e:80000000010203040506 -x:DES -X:" + p9 + " -a:SHA -A:\"" + p + "\"",
         "-u:\"u3\" -e:80000000010203040506 -a:SHA -A:\"" + p + "\" -x:DES -X:\"" + p9 + "\""},
        {"-u:plain -e:8000000001020304", "-u:\"plain\" -e:8000000001020304"},
        {"-e:8000000001020304 -u:u5 -a:SHA -A:%%%", "-u:\"u5\" -e:8000000001020304 -a:SHA"},
        {"-e: -u:\"\"", "-u:\"\" -e:"},
    };
    std::string getText;
    std::string getExpected;
    for (const Case& c : getCases) {
        getText += c.line + "\n";
        getExpected += c.written + "\r\n";
    }
    std::string usmText;
    std::string usmExpected;
    for (const Case& c : usmCases) {
        usmText += c.line + "\r\n";
        usmExpected += c.written + "\r\n";
    }
    WriteBytes(GetOidList(), getText);
    WriteBytes(SnmpV3(), usmText);

    test::ToolResult run = test::RunTool();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Output(run), kSucceeded);
    EXPECT_EQ(ReadBytes(GetOidList()), getExpected);
    EXPECT_EQ(ReadBytes(SnmpV3()), usmExpected);
}

TEST_F(UsmEncryptTest, KeepsTheOriginalsAsBackupsAndASecondRunChangesNothing) {
    const std::string get = "\n-v:3 -u:monitor -a:SHA -AP:password -agent:h -oid:o\n\n";
    const std::string usm = "-e:8000000001020304 -u:monitor -x:AES -XP:passphrase9\n";
    WriteBytes(GetOidList(), get);
    WriteBytes(SnmpV3(), usm);
    fs::permissions(GetOidList(), fs::perms::owner_read | fs::perms::owner_write);

    ASSERT_EQ(test::RunTool().status, 0);
    EXPECT_EQ(ReadBytes(GetOidListBackup()), get);
    EXPECT_EQ(ReadBytes(SnmpV3Backup()), usm);
    const std::string getConverted = ReadBytes(GetOidList());
    const std::string usmConverted = ReadBytes(SnmpV3());
    EXPECT_EQ(getConverted, CrLfLines({"-v:3 -u:\"monitor\" -a:SHA -A:\"" + std::string(kPassword) +
                                       "\" -agent:h -oid:o"}));
    EXPECT_EQ(usmConverted, CrLfLines({"-u:\"monitor\" -e:8000000001020304 -x:AES -X:\"" +
                                       std::string(kPassphrase9) + "\""}));
    // A settings file that holds pass phrases keeps its permissions.
    EXPECT_EQ(fs::status(GetOidList()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    // The second run deciphers and enciphers again with the same key: the same files, and the
    // backups now hold the first run's output.
    ASSERT_EQ(test::RunTool().status, 0);
    EXPECT_EQ(ReadBytes(GetOidList()), getConverted);
    EXPECT_EQ(ReadBytes(SnmpV3()), usmConverted);
    EXPECT_EQ(ReadBytes(GetOidListBackup()), getConverted);
    EXPECT_EQ(ReadBytes(SnmpV3Backup()), usmConverted);
}

TEST_F(UsmEncryptTest, FindsTheFilesWithOrWithoutSeparatorAfterTheInstallationFolder) {
    const std::wstring install = platform::WidePath(m_install);
    for (const std::wstring& dir : {install, install + L"/", install + L"//"}) {
        SetInstallDir(dir);
        WriteBytes(GetOidList(), "-v:3 -u:monitor -a:SHA -AP:password -agent:h -oid:o\n");
        test::ToolResult run = test::RunTool();
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(Output(run), kSucceeded);
        EXPECT_EQ(ReadBytes(GetOidList()),
                  CrLfLines({"-v:3 -u:\"monitor\" -a:SHA -A:\"" + std::string(kPassword) +
                             "\" -agent:h -oid:o"}))
            << platform::WideToUtf8(dir);
    }
}

TEST_F(UsmEncryptTest, FileWithoutAcceptedLinesIsLeftAloneWithoutBackup) {
    struct Case {
        std::string line;
        std::wstring message;
    };
    const Case getCases[] = {
        {"-v:2C -agent:a -oid:o", L"SNMP Getのバージョン指定が不正です。"},
        {"   ", L"SNMP Getのバージョン指定が不正です。"},
        {"-c:public -agent:a -oid:o", L"SNMP Getのバージョン指定が不正です。"},
        {"-v:1 -oid:o", L"SNMP Getのエージェント指定が不正です。"},
        {"-v:2c -agent:a", L"SNMP GetのOID指定が不正です。"},
        {"-v:3 -AP:password -agent:a -oid:o", L"SNMP Getの認証情報指定が不正です。"},
        {"-v:3 -u:x -a:sha -agent:a -oid:o", L"SNMP Getの認証情報指定が不正です。"},
        {"-v:3 -u:x -x:3DES -agent:a -oid:o", L"SNMP Getの認証情報指定が不正です。"},
    };
    const std::string usmLines[] = {
        "-u:monitor -a:SHA -AP:password",  // the engine ID is required here
        "-e:8000000001020304 -a:SHA -AP:password",
        "-e:8000000001020304 -u:x -a:md5",
        "-e:8000000001020304 -u:x -x:aes",
    };
    std::string get = "\n\r\n";
    std::wstring expected;
    for (const Case& c : getCases) {
        get += c.line + "\r\n\n";
        expected += c.message + L"\r\n" + platform::Utf8ToWide(c.line) + L"\n";
    }
    std::string usm;
    for (const std::string& line : usmLines) {
        usm += line + "\n";
        expected += L"SNMPv3認証情報指定が不正です。\r\n" + platform::Utf8ToWide(line) + L"\n";
    }
    WriteBytes(GetOidList(), get);
    WriteBytes(SnmpV3(), usm);
    WriteBytes(GetOidListBackup(), "an earlier backup");

    test::ToolResult run = test::RunTool();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Output(run), expected + kSucceeded);
    EXPECT_EQ(ReadBytes(GetOidList()), get);
    EXPECT_EQ(ReadBytes(SnmpV3()), usm);
    EXPECT_EQ(ReadBytes(GetOidListBackup()), "an earlier backup");
    EXPECT_FALSE(fs::exists(SnmpV3Backup()));

    // A file of empty lines only, and no file at all.
    WriteBytes(GetOidList(), "\n\n\r\n");
    fs::remove(SnmpV3());
    run = test::RunTool();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Output(run), kSucceeded);
    EXPECT_EQ(ReadBytes(GetOidList()), "\n\n\r\n");
    EXPECT_FALSE(fs::exists(SnmpV3()));
    EXPECT_FALSE(fs::exists(SnmpV3Backup()));
}

TEST_F(UsmEncryptTest, KeepsLinesTheManagerRejectsButTheToolAccepts) {
    const std::string longOid(2001, '1');
    const std::string get = CrLfLines({
        "-v:3 -u:monitor -e:80000 -a:SHA -AP:passwor -agent:h -oid:o",  // short ID and password
        "-v:2c -c:100% -agent:h -oid:o",                                // reserved character
        "-v:1 -c:" + std::string(256, 'c') + " -agent:h -oid:" + longOid,
    });
    const std::string usm = CrLfLines({"-e:80000 -u:\"with blank\" -a:MD5 -AP:passwor"});
    WriteBytes(GetOidList(), get);
    WriteBytes(SnmpV3(), usm);
    ASSERT_TRUE(LoadGetOidList(platform::WidePath(GetOidList())).empty());
    ASSERT_TRUE(LoadSnmpV3Settings(platform::WidePath(SnmpV3())).empty());

    test::ToolResult run = test::RunTool();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Output(run), kSucceeded);
    std::wstring passwor;
    ASSERT_TRUE(EncipherPassword(L"passwor", passwor));
    const std::string a = platform::WideToUtf8(passwor);
    EXPECT_EQ(ReadBytes(GetOidList()),
              CrLfLines({
                  "-v:3 -u:\"monitor\" -e:80000 -a:SHA -A:\"" + a + "\" -agent:h -oid:o",
                  "-v:2c -c:\"100%\" -agent:h -oid:o",
                  "-v:1 -c:\"" + std::string(256, 'c') + "\" -agent:h -oid:" + longOid,
              }));
    EXPECT_EQ(ReadBytes(SnmpV3()),
              CrLfLines({"-u:\"with blank\" -e:80000 -a:MD5 -A:\"" + a + "\""}));
}

// The fields of the loaded entries, for comparing lists.
using GetFields = std::tuple<std::wstring, std::wstring, std::wstring, std::wstring, std::wstring,
                             std::wstring, std::wstring, std::wstring, std::wstring, std::wstring>;
using UsmFields =
    std::tuple<std::wstring, std::wstring, std::wstring, std::wstring, std::wstring, std::wstring>;

UsmFields Fields(const UsmEntry& e) {
    return {e.engineId, e.userName, e.authProtocol, e.authPassword, e.privProtocol, e.privPassword};
}

std::vector<GetFields> LoadGet(const fs::path& path) {
    std::vector<GetFields> fields;
    for (const GetOidEntry& e : LoadGetOidList(platform::WidePath(path))) {
        auto [engine, user, auth, authPass, priv, privPass] = Fields(e.usm);
        fields.emplace_back(e.version, e.community, e.agent, e.oid, engine, user, auth, authPass,
                            priv, privPass);
    }
    return fields;
}

std::vector<UsmFields> LoadUsm(const fs::path& path) {
    std::vector<UsmFields> fields;
    for (const UsmEntry& e : LoadSnmpV3Settings(platform::WidePath(path))) {
        fields.push_back(Fields(e));
    }
    return fields;
}

TEST_F(UsmEncryptTest, RewrittenFilesLoadInTheManagersReadersWithTheSamePassPhrases) {
    test::ScopedLocale locale("C.UTF-8");
    const std::string p = kPassword;
    WriteBytes(GetOidList(),
               CrLfLines({
                   "-v:3 -u:monitor -e:8000000001020304 -a:SHA -AP:password -x:AES "
                   "-XP:passphrase9 -agent:udp6:[fe80::1]:161 -oid:sysUpTime.0",
                   "-v:3 -u:m2 -a:MD5 -A:" + p + " -x:DES -XP:abcdefgh12345678 -agent:h -oid:o",
                   "-v:3 -u:m3 -a:SHA -AP:" + std::string(64, 'k') + " -agent:h -oid:o",
                   "-v:3 -u:m4 -a:SHA -AP:パスワードですね -agent:h -oid:o",
                   "-v:2c -c:public -agent:10.0.0.1 -oid:1.3.6.1.2.1.1.3.0",
                   "-v:1 -agent: -oid:",
               }));
    WriteBytes(SnmpV3(), CrLfLines({
                             "-e:8000000001020304 -u:monitor -a:SHA -AP:password -x:AES -XP:" +
                                 std::string(9, '~'),
                             "-e:0x" + std::string(30, 'a') + " -u:m2 -a:MD5 -A:" + p,
                             "-e:8000000001020304 -u:m3",
                         }));
    const std::vector<GetFields> get = LoadGet(GetOidList());
    const std::vector<UsmFields> usm = LoadUsm(SnmpV3());
    ASSERT_EQ(get.size(), 6u);
    ASSERT_EQ(usm.size(), 3u);

    ASSERT_EQ(test::RunTool().status, 0);
    for (const fs::path& file : {GetOidList(), SnmpV3()}) {
        std::string text = ReadBytes(file);
        EXPECT_EQ(text.find("AP:"), std::string::npos) << text;
        EXPECT_EQ(text.find("XP:"), std::string::npos) << text;
    }
    EXPECT_EQ(LoadGet(GetOidList()), get);
    EXPECT_EQ(LoadUsm(SnmpV3()), usm);
}

TEST_F(UsmEncryptTest, PassPhraseThatCannotBeEncipheredFailsTheFileWhichStaysAsItWas) {
    // A cipher library that cannot be loaded: an empty file found first by the loader.
    fs::path fakeLibs = m_root.path() / "fake-libs";
    fs::create_directories(fakeLibs);
    WriteBytes(fakeLibs / "libcrypto.so.3", "");
    test::ToolSetup noCipher;
    noCipher.environment.push_back("LD_LIBRARY_PATH=" + fakeLibs.native());

    struct Case {
        const char* what;
        std::string get;
        std::string usm;
        const test::ToolSetup* setup;
        int status;
    };
    const std::string fine = "-v:2c -c:public -agent:h -oid:o\n";
    const std::string converted = CrLfLines({"-v:2c -c:\"public\" -agent:h -oid:o"});
    const Case cases[] = {
        {"plain pass phrase, no cipher library", "-v:3 -u:m -a:SHA -AP:password -agent:h -oid:o\n",
         "", &noCipher, 101},
        {"enciphered pass phrase, no cipher library",
         "-v:3 -u:m -a:SHA -A:" + std::string(kPassword) + " -agent:h -oid:o\n", "", &noCipher,
         101},
        {"745 bytes", "-v:3 -u:m -a:SHA -AP:" + std::string(745, 'p') + " -agent:h -oid:o\n", "",
         nullptr, 101},
        {"not in code page 932", "-v:3 -u:m -x:AES -XP:pass\xC3\xA9word -agent:h -oid:o\n", "",
         nullptr, 101},
        {"second file, no cipher library", fine, "-e:8000000001020304 -u:m -XP:passphrase9\n",
         &noCipher, 102},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(GetOidListBackup());
        WriteBytes(GetOidList(), c.get);
        WriteBytes(SnmpV3(), c.usm);
        test::ToolResult run = test::RunTool(c.setup != nullptr ? *c.setup : test::ToolSetup());
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(Output(run), kError + (c.status == 101 ? kGetOidListFailed : kSnmpV3Failed));
        EXPECT_EQ(ReadBytes(GetOidList()), c.status == 101 ? c.get : converted);
        EXPECT_EQ(ReadBytes(SnmpV3()), c.usm);
        EXPECT_FALSE(fs::exists(SnmpV3Backup()));
    }

    // Lines without pass phrases need no cipher library; 744 bytes are the cipher's limit.
    WriteBytes(GetOidList(), fine);
    fs::remove(SnmpV3());
    EXPECT_EQ(test::RunTool(noCipher).status, 0);
    EXPECT_EQ(ReadBytes(GetOidList()), converted);
    WriteBytes(GetOidList(),
               "-v:3 -u:m -a:SHA -AP:" + std::string(744, 'p') + " -agent:h -oid:o\n");
    ASSERT_EQ(test::RunTool().status, 0);
    std::string text = ReadBytes(GetOidList());
    std::size_t a = text.find("-A:\"") + 4;
    EXPECT_EQ(DecipherPassword(platform::Utf8ToWide(text.substr(a, text.find('"', a) - a))),
              std::wstring(744, L'p'));
}

TEST_F(UsmEncryptTest, BackupThatCannotBeDeletedFailsBeforeAnythingChanges) {
    const std::string get = "-v:3 -u:m -a:SHA -AP:password -agent:h -oid:o\n";
    WriteBytes(GetOidList(), get);
    WriteBytes(SnmpV3(), "-e:8000000001020304 -u:m -a:SHA -AP:password\n");
    fs::create_directories(GetOidListBackup() / "not empty");

    test::ToolResult run = test::RunTool();
    EXPECT_EQ(run.status, 101);
    EXPECT_EQ(Output(run), L"バックアップファイルの削除に失敗しました。[" +
                               platform::WidePath(GetOidListBackup()) + L"]\n" + kError +
                               kGetOidListFailed);
    EXPECT_EQ(ReadBytes(GetOidList()), get);
    EXPECT_TRUE(fs::is_directory(GetOidListBackup() / "not empty"));
    EXPECT_FALSE(fs::exists(SnmpV3Backup()));  // the second file is not read
}

TEST_F(UsmEncryptTest, WriteFailurePutsTheOriginalBack) {
    const std::string get = "-v:3 -u:m -a:SHA -AP:password -agent:h -oid:o\n";
    const std::string usm = "-e:8000000001020304 -u:m -a:SHA -AP:password\n";
    test::ToolSetup noFileSize;
    noFileSize.noFileSize = true;

    WriteBytes(GetOidList(), get);
    WriteBytes(SnmpV3(), usm);
    test::ToolResult run = test::RunTool(noFileSize);
    EXPECT_EQ(run.status, 101);
    EXPECT_EQ(Output(run), FileSystemError(std::errc::file_too_large) + kGetOidListFailed);
    EXPECT_EQ(ReadBytes(GetOidList()), get);
    EXPECT_EQ(ReadBytes(SnmpV3()), usm);
    EXPECT_FALSE(fs::exists(GetOidListBackup()));
    EXPECT_FALSE(fs::exists(SnmpV3Backup()));

    // The first file has nothing to convert: the second one fails.
    WriteBytes(GetOidList(), "-v:9 -agent:h -oid:o\n");
    run = test::RunTool(noFileSize);
    EXPECT_EQ(run.status, 102);
    EXPECT_EQ(Output(run), L"SNMP Getのバージョン指定が不正です。\r\n-v:9 -agent:h -oid:o\n" +
                               FileSystemError(std::errc::file_too_large) + kSnmpV3Failed);
    EXPECT_EQ(ReadBytes(SnmpV3()), usm);
    EXPECT_FALSE(fs::exists(SnmpV3Backup()));
}

TEST_F(UsmEncryptTest, ReadOnlySettingsFolderFailsBeforeAnythingChanges) {
    const std::string get = "-v:3 -u:m -a:SHA -AP:password -agent:h -oid:o\n";
    WriteBytes(GetOidList(), get);
    const std::string config = m_config.native();
    test::PrivateMounts readOnly([&config] {
        return ::mount(config.c_str(), config.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
               ::mount(nullptr, config.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                       nullptr) == 0;
    });
    if (!readOnly.Ready()) {
        GTEST_SKIP() << "no private mount namespace (needs root)";
    }
    test::ToolSetup setup;
    setup.mountNamespace = readOnly.Fd();
    test::ToolResult run = test::RunTool(setup);
    EXPECT_EQ(run.status, 101);
    EXPECT_EQ(Output(run), FileSystemError(std::errc::read_only_file_system) + kGetOidListFailed);
    EXPECT_EQ(ReadBytes(GetOidList()), get);
    EXPECT_FALSE(fs::exists(GetOidListBackup()));
}

TEST_F(UsmEncryptTest, SettingsFileThatCannotBeCreatedAgainIsPutBack) {
    // The settings folder is a file system with a handful of inodes, all in use when the tool
    // runs: moving the file to its backup works, creating it anew does not.
    const std::string config = m_config.native();
    test::PrivateMounts tiny([&config] {
        return ::mount("tmpfs", config.c_str(), "tmpfs", 0, "size=256k,nr_inodes=8") == 0;
    });
    if (!tiny.Ready()) {
        GTEST_SKIP() << "no private mount namespace (needs root)";
    }
    const std::string usm = "-e:8000000001020304 -u:m -a:SHA -AP:password\n";
    WriteBytes(tiny.Path(SnmpV3()), usm);
    for (int i = 0; i < 16; ++i) {
        std::ofstream fill(tiny.Path(m_config / ("fill" + std::to_string(i))));
    }
    ASSERT_FALSE(std::ofstream(tiny.Path(m_config / "one more")).is_open());

    test::ToolSetup setup;
    setup.mountNamespace = tiny.Fd();
    test::ToolResult run = test::RunTool(setup);
    EXPECT_EQ(run.status, 102);
    EXPECT_EQ(Output(run), FileSystemError(std::errc::no_space_on_device) + kSnmpV3Failed);
    EXPECT_EQ(ReadBytes(tiny.Path(SnmpV3())), usm);
    EXPECT_FALSE(fs::exists(tiny.Path(SnmpV3Backup())));
}

TEST_F(UsmEncryptTest, ShiftJisLocaleReadsAndWritesCodePage932) {
    try {
        std::locale probe("ja_JP.SJIS");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no ja_JP.SJIS locale on this machine";
    }
    // 監視 as user name; パスワード (known answer of the cipher) as pass phrase; 表 ends in 0x5C.
    const std::wstring line = L"-v:3 -u:監視表 -a:MD5 -AP:パスワード -agent:h -oid:o";
    WriteBytes(GetOidList(), platform::WideToCodePage(platform::kCodePage932, line) + "\r\n");
    test::ToolSetup sjis;
    sjis.environment = {"LC_ALL=ja_JP.SJIS"};
    test::ToolResult run = test::RunTool(sjis);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, platform::WideToCodePage(platform::kCodePage932, kSucceeded));
    EXPECT_EQ(
        ReadBytes(GetOidList()),
        platform::WideToCodePage(
            platform::kCodePage932,
            L"-v:3 -u:\"監視表\" -a:MD5 -A:\"Yc6k7DUpGoM1tfHSudftyA==\" -agent:h -oid:o\r\n"));
}

// A byte sequence that the locale's encoding does not define would be read as U+FFFD and written
// back so, with the original only in the backup that the next run deletes: the file fails, and it
// and an earlier backup stay as they were.
TEST_F(UsmEncryptTest, FileWithBytesTheLocaleCannotReadFailsAndStaysAsItWas) {
    const std::string sjisUser = platform::WideToCodePage(platform::kCodePage932, L"監視");
    struct Case {
        const char* what;
        std::string locale;
        std::string getOidList;  // bytes
        std::string snmpV3;      // bytes
        int status;
        std::wstring failedFile;  // the file named in the error
        std::size_t line;
    };
    const Case cases[] = {
        {"Shift-JIS GetOIDList.txt under UTF-8", "LC_ALL=C.UTF-8",
         "-v:2c -c:public -agent:h -oid:o\n-v:3 -u:" + sjisUser +
             " -a:MD5 -AP:password -agent:h -oid:o\n",
         "-e:8000000001020304 -u:monitor -x:AES -XP:passphrase9\n", 101, L"GetOIDList.txt", 2},
        {"a cut UTF-8 sequence at the end of the last line", "LC_ALL=C.UTF-8",
         "-v:2c -c:public -agent:h -oid:o\xE7\x9B", "", 101, L"GetOIDList.txt", 1},
        {"Shift-JIS SnmpV3Setting.txt under UTF-8", "LC_ALL=C.UTF-8",
         "-v:2c -c:public -agent:h -oid:o\n",
         "\n-e:8000000001020304 -u:" + sjisUser + " -x:AES -XP:passphrase9\r\n", 102,
         L"SnmpV3Setting.txt", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(GetOidList(), c.getOidList);
        WriteBytes(SnmpV3(), c.snmpV3);
        WriteBytes(GetOidListBackup(), "old get backup");
        WriteBytes(SnmpV3Backup(), "old usm backup");
        test::ToolSetup setup;
        setup.environment = {c.locale};
        test::ToolResult run = test::RunTool(setup);
        EXPECT_EQ(run.status, c.status);
        const std::wstring path = platform::WidePath(m_config / c.failedFile);
        EXPECT_EQ(Output(run), L"エラーが発生しました。[" + path + L" " + std::to_wstring(c.line) +
                                   L"行目に、ロケールの文字コードで読めないバイト列があります]\n" +
                                   (c.status == 101 ? kGetOidListFailed : kSnmpV3Failed));
        if (c.status == 101) {
            EXPECT_EQ(ReadBytes(GetOidList()), c.getOidList);
            EXPECT_EQ(ReadBytes(GetOidListBackup()), "old get backup");
        } else {
            // The first file was read whole and converted before the second failed.
            EXPECT_EQ(ReadBytes(GetOidListBackup()), c.getOidList);
        }
        EXPECT_EQ(ReadBytes(SnmpV3()), c.snmpV3);
        EXPECT_EQ(ReadBytes(SnmpV3Backup()), "old usm backup");
    }
}

// Under a Shift-JIS locale the same bytes read well, and a byte that code page 932 leaves
// undefined fails the file.
TEST_F(UsmEncryptTest, ShiftJisLocaleFailsOnBytesCodePage932LeavesUndefined) {
    try {
        std::locale probe("ja_JP.SJIS");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "no ja_JP.SJIS locale on this machine";
    }
    const std::string original =
        "-v:2c -c:public -agent:h -oid:o\n-v:2c -c:\xA0\xFD -agent:h -oid:o\n";
    WriteBytes(GetOidList(), original);
    test::ToolSetup sjis;
    sjis.environment = {"LC_ALL=ja_JP.SJIS"};
    test::ToolResult run = test::RunTool(sjis);
    EXPECT_EQ(run.status, 101);
    EXPECT_EQ(ReadBytes(GetOidList()), original);
    EXPECT_FALSE(fs::exists(GetOidListBackup()));
}

}  // namespace
