// Machine-wide named mutexes ("Global\NAME"). Windows: a kernel mutex. POSIX: an exclusive flock on
// $VORMA_SYSROOT/BaseNamedObjects/Global/NAME, released at close or process exit.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

class NamedMutex {
  public:
    enum class WaitResult { kAcquired, kTimeout, kAbandoned, kFailed };

    NamedMutex() = default;
    NamedMutex(NamedMutex&& other) noexcept;
    NamedMutex& operator=(NamedMutex&& other) noexcept;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    ~NamedMutex();  // releases and closes

    // Opens the mutex `name`, creating it (not owned, open to every user) when it does not exist.
    // On failure IsOpen() is false and `*error` holds the system error number.
    static NamedMutex OpenOrCreate(std::wstring_view name, std::uint32_t* error = nullptr);

    bool IsOpen() const { return m_handle != 0; }

    // Acquires without waiting. kTimeout when another process holds it; kFailed sets `*error`.
    WaitResult TryAcquire(std::uint32_t* error = nullptr);
    void Release();
    void Close();

  private:
    std::intptr_t m_handle = 0;  // POSIX: file descriptor + 1; Windows: HANDLE
    bool m_owned = false;
};

}  // namespace platform
