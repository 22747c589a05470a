#include "platform/NamedMutex.h"

#include <string>

#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

NamedMutex::NamedMutex(NamedMutex&& other) noexcept
    : m_handle(other.m_handle), m_owned(other.m_owned) {
    other.m_handle = 0;
    other.m_owned = false;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        m_owned = other.m_owned;
        other.m_handle = 0;
        other.m_owned = false;
    }
    return *this;
}

NamedMutex::~NamedMutex() {
    Close();
}

NamedMutex NamedMutex::OpenOrCreate(std::wstring_view name, std::uint32_t* error) {
    std::wstring objectName(name);
    NamedMutex mutex;
    DWORD err = 0;
    HANDLE handle = ::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, objectName.c_str());
    if (handle == nullptr) {
        // Not there yet: create it, not owned, with a null access list (every user may open it)
        // and an inheritable handle.
        SECURITY_DESCRIPTOR descriptor;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, TRUE};
        if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
            err = ::GetLastError();
        } else {
            handle = ::CreateMutexW(&attributes, FALSE, objectName.c_str());
            if (handle == nullptr) {
                err = ::GetLastError();
            }
        }
    }
    mutex.m_handle = reinterpret_cast<std::intptr_t>(handle);
    if (error != nullptr) {
        *error = err;
    }
    return mutex;
}

NamedMutex::WaitResult NamedMutex::TryAcquire(std::uint32_t* error) {
    if (m_handle == 0) {
        if (error != nullptr) {
            *error = ERROR_INVALID_HANDLE;
        }
        return WaitResult::kFailed;
    }
    if (m_owned) {
        return WaitResult::kAcquired;
    }
    switch (::WaitForSingleObject(AsHandle(m_handle), 0)) {
        case WAIT_OBJECT_0:
            m_owned = true;
            return WaitResult::kAcquired;
        case WAIT_ABANDONED:
            // The previous owner ended without releasing it: the mutex is ours now, and must be
            // released like any other.
            m_owned = true;
            return WaitResult::kAbandoned;
        case WAIT_TIMEOUT:
            return WaitResult::kTimeout;
        default:
            if (error != nullptr) {
                *error = ::GetLastError();
            }
            return WaitResult::kFailed;
    }
}

void NamedMutex::Release() {
    if (m_handle != 0 && m_owned) {
        ::ReleaseMutex(AsHandle(m_handle));
        m_owned = false;
    }
}

void NamedMutex::Close() {
    Release();
    if (m_handle != 0) {
        ::CloseHandle(AsHandle(m_handle));
        m_handle = 0;
    }
}

}  // namespace platform
