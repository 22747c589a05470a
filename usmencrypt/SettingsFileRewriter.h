// Rewriting one settings file with a backup beside it: the file is moved to its backup, written
// anew, and put back from the backup when the writing fails. Every failure is told on the console.
#pragma once

#include <string>

class CSettingsFileRewriter {
  public:
    // `path`: the settings file, which exists.
    explicit CSettingsFileRewriter(std::wstring path);

    // The backup of `path`: the same folder, the file's stem, "_back" and its extension
    // (GetOIDList.txt: GetOIDList_back.txt).
    static std::wstring BackupPath(const std::wstring& path);

    // Makes the backup (an earlier backup is deleted first) and writes `text` as the file's new
    // contents, in the locale's encoding and with the file's former permissions. On failure the
    // file is as it was: untouched when the backup could not be made, otherwise put back from the
    // backup (unless even that fails, which is told on the console). A successful rewrite keeps
    // the backup.
    bool Rewrite(const std::wstring& text);

  private:
    bool MakeBackup();
    void Restore();

    std::wstring m_path;
    std::wstring m_backupPath;
};
