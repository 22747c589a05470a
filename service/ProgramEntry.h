// The manager's program entry: the command line and the single-instance guard.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/NamedMutex.h"

// Index of the first argument that is the switch `name` ("-name", "/name", "--name:value" ...),
// or -1. Names are case-sensitive; an empty name finds nothing.
int FindSwitch(const std::vector<std::wstring>& args, std::wstring_view name);

// The machine-wide mutex that keeps a second manager from running beside the service.
class CSingleInstanceGuard {
  public:
    explicit CSingleInstanceGuard(std::wstring_view serviceName);

    // Opens or creates the mutex "Global\MUTEX_QUILLON_VORMA6_<service>". False when neither
    // worked; Error() then holds the HRESULT form of the system error.
    bool Open();
    // Acquires without waiting: 0, or the HRESULT form of the wait result or the system error.
    unsigned long Acquire();

    unsigned long Error() const { return m_error; }
    const std::wstring& Name() const { return m_name; }

  private:
    std::wstring m_name;
    platform::NamedMutex m_mutex;
    unsigned long m_error = 0;
};

// The whole program: "install", "uninstall", or the service. Returns the program's result:
// 0 or 1 for install and uninstall, 0 or an HRESULT for the service; where the service runs in
// the foreground (POSIX), 3 when its run ended by a start-up failure.
unsigned long ProgramMain(const std::vector<std::wstring>& args);
