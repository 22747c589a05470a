// A kernel handle owned by one object: closed with CloseHandle on destruction.
#pragma once

#include "platform/win32/WindowsHeaders.h"

namespace platform::win32 {

// INVALID_HANDLE_VALUE and null both mean "no handle".
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return m_handle; }
    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Reset(HANDLE handle = nullptr) {
        if (IsValid()) {
            ::CloseHandle(m_handle);
        }
        m_handle = handle;
    }

  private:
    HANDLE m_handle = nullptr;
};

}  // namespace platform::win32
