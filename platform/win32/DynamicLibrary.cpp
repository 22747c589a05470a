#include "platform/DynamicLibrary.h"

#include <string>

#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

void Free(void* handle) {
    if (handle != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(handle));
    }
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = nullptr;
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Free(m_handle);
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

DynamicLibrary::~DynamicLibrary() {
    Free(m_handle);
}

DynamicLibrary DynamicLibrary::Load(std::wstring_view fileName) {
    // The standard search order: the program's own folder first.
    std::wstring name(fileName);
    return DynamicLibrary(::LoadLibraryW(name.c_str()));
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (m_handle == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

}  // namespace platform
