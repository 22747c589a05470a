#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include "platform/Text.h"

namespace platform {

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = nullptr;
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        if (m_handle != nullptr) {
            ::dlclose(m_handle);
        }
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

DynamicLibrary::~DynamicLibrary() {
    if (m_handle != nullptr) {
        ::dlclose(m_handle);
    }
}

DynamicLibrary DynamicLibrary::Load(std::wstring_view fileName) {
    std::string name = WideToLocale(fileName);
    return DynamicLibrary(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* DynamicLibrary::Symbol(const char* name) const {
    return m_handle != nullptr ? ::dlsym(m_handle, name) : nullptr;
}

}  // namespace platform
