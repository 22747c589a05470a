#include "usmencrypt/SettingsFileRewriter.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/Program.h"
#include "platform/Text.h"
#include "platform/TextFile.h"

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kBackupNotDeleted[] = L"バックアップファイルの削除に失敗しました。[";
constexpr wchar_t kSettingsNotDeleted[] = L"設定ファイルの削除に失敗しました。[";
constexpr wchar_t kErrorOccurred[] = L"エラーが発生しました。";

void PrintLine(const std::wstring& text) {
    platform::PrintToConsole(text + L"\n");
}

void PrintFileSystemError(const std::error_code& ec) {
    PrintLine(std::wstring(kErrorOccurred) + L"[" + platform::LocaleToWide(ec.message()) + L"]");
}

}  // namespace

CSettingsFileRewriter::CSettingsFileRewriter(std::wstring path)
    : m_path(std::move(path)), m_backupPath(BackupPath(m_path)) {}

std::wstring CSettingsFileRewriter::BackupPath(const std::wstring& path) {
    fs::path file = platform::NativePath(path);
    fs::path backupName = file.stem();
    backupName += "_back";
    backupName += file.extension();
    return platform::WidePath(file.parent_path() / backupName);
}

bool CSettingsFileRewriter::Rewrite(const std::wstring& text) {
    std::error_code ec;
    std::optional<fs::perms> permissions;
    fs::file_status status = fs::status(platform::NativePath(m_path), ec);
    if (!ec) {
        permissions = status.permissions();
    }
    if (!MakeBackup()) {
        return false;
    }
    ec = platform::WriteTextFile(m_path, text, permissions);
    if (!ec) {
        return true;
    }
    PrintFileSystemError(ec);
    Restore();
    return false;
}

bool CSettingsFileRewriter::MakeBackup() {
    fs::path file = platform::NativePath(m_path);
    fs::path backup = platform::NativePath(m_backupPath);
    std::error_code ec;
    // A dangling symbolic link counts as an existing backup, as it would for the rename below.
    if (fs::exists(fs::symlink_status(backup, ec))) {
        fs::remove(backup, ec);
        if (ec) {
            PrintLine(kBackupNotDeleted + m_backupPath + L"]");
            PrintLine(kErrorOccurred);
            return false;
        }
    }
    fs::rename(file, backup, ec);
    if (ec) {
        PrintFileSystemError(ec);
        return false;
    }
    return true;
}

void CSettingsFileRewriter::Restore() {
    fs::path file = platform::NativePath(m_path);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(file, ec))) {
        fs::remove(file, ec);
        if (ec) {
            PrintLine(kSettingsNotDeleted + m_path + L"]");
            PrintLine(kErrorOccurred);
            return;  // the backup stays where it is
        }
    }
    fs::rename(platform::NativePath(m_backupPath), file, ec);
    if (ec) {
        PrintFileSystemError(ec);
    }
}
