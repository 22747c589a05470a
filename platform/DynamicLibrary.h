// Libraries loaded by file name at run time (LoadLibraryW / dlopen).
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary();

    // Loads `fileName` ("libcrypto.so.3", "libeay32.dll"). IsLoaded() is false on failure.
    static DynamicLibrary Load(std::wstring_view fileName);

    bool IsLoaded() const { return m_handle != nullptr; }

    // The address of an exported function, or null.
    void* Symbol(const char* name) const;

    template <typename Fn>
    Fn Function(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }

  private:
    explicit DynamicLibrary(void* handle) : m_handle(handle) {}
    void* m_handle = nullptr;
};

}  // namespace platform
