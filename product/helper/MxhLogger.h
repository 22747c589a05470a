// The helper library's logger: one instance per process, created on first use. It writes the
// helper's own problems (an unreadable MxHelper.ini) as lines on standard error, which the
// service manager keeps in the system journal.
#pragma once

#include <mutex>
#include <string_view>

class CMxhLogger {
  public:
    static CMxhLogger* GetInstance();
    // Deletes the instance; a later GetInstance creates a new one.
    static void DestroyInstance();

    // Writes one line, prefixed with "Vorma6Helper: ".
    void Write(std::wstring_view text);

    CMxhLogger(const CMxhLogger&) = delete;
    CMxhLogger& operator=(const CMxhLogger&) = delete;

  private:
    CMxhLogger() = default;
    ~CMxhLogger() = default;

    std::mutex m_writeLock;
};
