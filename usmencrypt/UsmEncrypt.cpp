#include "usmencrypt/UsmEncrypt.h"

#include <optional>
#include <string_view>
#include <vector>

#include "getpoll/GetOidEntry.h"
#include "getpoll/GetOidList.h"
#include "platform/NamedMutex.h"
#include "platform/Path.h"
#include "platform/Program.h"
#include "platform/TextFile.h"
#include "product/RegistryRoot.h"
#include "settings/OptionLine.h"
#include "settings/SettingLines.h"
#include "settings/SnmpV3Settings.h"
#include "settings/UsmEntry.h"
#include "usmencrypt/PassPhraseCipher.h"
#include "usmencrypt/SettingsFileRewriter.h"
#include "usmencrypt/SettingsLineFormat.h"

namespace {

constexpr wchar_t kAlreadyRunning[] = L"すでに起動しているため、終了します。";
constexpr wchar_t kNotInstalled[] = L"VORMAがインストールされていません。";
constexpr wchar_t kGetOidListFailed[] = L"Get対象OID指定ファイルの変換に失敗しました。";
constexpr wchar_t kSnmpV3SettingsFailed[] = L"SNMPv3用受信指定ファイルの変換に失敗しました。";
constexpr wchar_t kSucceeded[] = L"SNMP指定ファイルの変換に成功しました。";
constexpr wchar_t kErrorOccurred[] = L"エラーが発生しました。";
constexpr wchar_t kUsmEntryInvalid[] = L"SNMPv3認証情報指定が不正です。\r\n%s";
// The error text of a file with a byte sequence that the locale's encoding does not define.
constexpr wchar_t kUndecodableLine[] = L"行目に、ロケールの文字コードで読めないバイト列があります";

void PrintLine(const std::wstring& text) {
    platform::PrintToConsole(text + L"\n");
}

// What one line of a settings file gives the tool.
struct LineOutcome {
    std::wstring_view rejection;  // the message of a rejected line ("...\r\n%s"), else empty
    bool enciphered = true;       // false when a pass phrase of the line cannot be enciphered
    std::wstring formatted;       // the line to write back
};

// The non-empty lines of the settings file at `path` (none when it cannot be read), or nullopt
// when a line holds bytes that the locale's encoding cannot read: rewriting the file would put
// replacement characters in their place, and the next run would delete the backup that still
// holds them. That is told on the console with the file and the line.
std::optional<std::vector<std::wstring>> ReadLines(const std::wstring& path) {
    std::size_t undecodable = 0;
    std::optional<std::vector<std::wstring>> lines =
        platform::ReadTextFileLines(path, &undecodable);
    if (!lines) {
        return std::vector<std::wstring>();
    }
    if (undecodable != 0) {
        PrintLine(std::wstring(kErrorOccurred) + L"[" + path + L" " + std::to_wstring(undecodable) +
                  kUndecodableLine + L"]");
        return std::nullopt;
    }
    std::erase_if(*lines, [](const std::wstring& line) { return line.empty(); });
    return lines;
}

// Reads the file at `path` line by line with `convertLine(tokens, cipher)`, tells each rejected
// line, and rewrites the file with the accepted ones. True when there was nothing to write or the
// rewrite succeeded; false, with the file untouched, when it holds bytes the locale cannot read.
template <typename ConvertLine>
bool ConvertFile(const std::wstring& path, ConvertLine convertLine) {
    std::optional<std::vector<std::wstring>> lines = ReadLines(path);
    if (!lines) {
        return false;
    }
    CPassPhraseCipher cipher;
    std::wstring text;
    std::size_t accepted = 0;
    bool cipherFailed = false;
    for (const std::wstring& line : *lines) {
        LineOutcome outcome = convertLine(SplitOptionLine(line), cipher);
        if (!outcome.rejection.empty()) {
            PrintLine(FormatLineMessage(outcome.rejection, line));
            continue;
        }
        // A pass phrase that cannot be enciphered fails the file, but the rest is still read so
        // that every line the tool rejects is told in this run.
        cipherFailed = cipherFailed || !outcome.enciphered;
        text += outcome.formatted;
        text += L"\r\n";
        ++accepted;
    }
    if (accepted == 0) {
        return true;
    }
    // Without the cipher library an enciphered pass phrase reads as empty: writing its line would
    // lose it.
    if (cipherFailed || cipher.LibraryFailed()) {
        PrintLine(kErrorOccurred);
        return false;
    }
    return CSettingsFileRewriter(path).Rewrite(text);
}

PassPhraseDecipher DecipherWith(CPassPhraseCipher& cipher) {
    return [&cipher](const std::wstring& text) { return cipher.Decipher(text); };
}

}  // namespace

bool CUsmEncrypt::ConvertGetOidList(const std::wstring& path) {
    return ConvertFile(path, [](const OptionTokens& tokens, CPassPhraseCipher& cipher) {
        LineOutcome outcome;
        GetOidEntry entry;
        GetOidLineError error = ParseGetOidLine(tokens, entry, false, DecipherWith(cipher));
        if (error != GetOidLineError::kNone) {
            outcome.rejection = GetOidLineMessage(error);
        } else {
            outcome.enciphered = FormatGetOidLine(entry, cipher, outcome.formatted);
        }
        return outcome;
    });
}

bool CUsmEncrypt::ConvertSnmpV3Settings(const std::wstring& path) {
    return ConvertFile(path, [](const OptionTokens& tokens, CPassPhraseCipher& cipher) {
        LineOutcome outcome;
        UsmEntryRules rules;
        rules.engineIdRequired = true;
        rules.checkLimits = false;
        UsmEntry entry;
        if (!ValidateUsmEntry(tokens, rules, entry, DecipherWith(cipher))) {
            outcome.rejection = kUsmEntryInvalid;
        } else {
            outcome.enciphered = FormatUsmLine(entry, cipher, outcome.formatted);
        }
        return outcome;
    });
}

int CUsmEncrypt::Run() {
    platform::NamedMutex mutex = platform::NamedMutex::OpenOrCreate(kUsmEncryptMutexName);
    bool another = true;
    if (mutex.IsOpen()) {
        std::uint32_t error = 0;
        platform::NamedMutex::WaitResult wait = mutex.TryAcquire(&error);
        another = wait == platform::NamedMutex::WaitResult::kTimeout ||
                  wait == platform::NamedMutex::WaitResult::kAbandoned ||
                  (wait == platform::NamedMutex::WaitResult::kFailed && error != 0);
    }
    if (another) {
        PrintLine(kAlreadyRunning);
        return kUsmEncryptAlreadyRunning;
    }
    return ConvertFiles();  // the mutex is released and closed on the way out
}

int CUsmEncrypt::ConvertFiles() {
    CRegistryRoot registry;
    std::wstring installDir;
    // The settings folder is the one the manager reads: the SNMP data folder, joined with exactly
    // one separator whether or not the installation folder ends with one. An empty installation
    // folder (or one too long for a path) leaves no folder: the product counts as not installed,
    // rather than converting files relative to wherever the tool was started.
    std::wstring snmpDir;
    if (registry.GetInstallDir(installDir) == 0) {
        snmpDir = registry.GetSnmpDir();
    }
    if (snmpDir.empty()) {
        PrintLine(kNotInstalled);
        return kUsmEncryptNotInstalled;
    }

    if (!ConvertGetOidList(
            platform::AppendPath(snmpDir, platform::NativeRelativePath(kGetOidListFile)))) {
        PrintLine(kGetOidListFailed);
        return kUsmEncryptGetOidListFailed;
    }
    if (!ConvertSnmpV3Settings(
            platform::AppendPath(snmpDir, platform::NativeRelativePath(kSnmpV3SettingFile)))) {
        PrintLine(kSnmpV3SettingsFailed);
        return kUsmEncryptSnmpV3SettingsFailed;
    }
    PrintLine(kSucceeded);
    return kUsmEncryptSucceeded;
}
