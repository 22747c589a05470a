#include "platform/Registry.h"

#include "platform/Win32Error.h"
#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

// The product is a 32-bit product: its keys live in the 32-bit view of the registry, which a
// 64-bit program reaches with KEY_WOW64_32KEY (SOFTWARE\Wow6432Node on 64-bit Windows).
constexpr REGSAM kView = KEY_WOW64_32KEY;

HKEY AsHkey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

}  // namespace

bool IsPredefinedRegKey(RegKey key) {
    return (key >= kHkeyClassesRoot && key <= kHkeyDynData) || key == kHkeyPerformanceText ||
           key == kHkeyPerformanceNlsText;
}

std::uint32_t OpenRegistryKey(RegKey root, const std::wstring& subkey, std::uint32_t access,
                              RegKey* result) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    HKEY key = nullptr;
    LSTATUS rc = ::RegOpenKeyExW(AsHkey(root), subkey.c_str(), 0, access | kView, &key);
    if (rc == ERROR_SUCCESS) {
        *result = reinterpret_cast<RegKey>(key);
    }
    return static_cast<std::uint32_t>(rc);
}

std::uint32_t CreateRegistryKey(RegKey root, const std::wstring& subkey, std::uint32_t access,
                                RegKey* result, bool* created) {
    if (result == nullptr) {
        return kErrorInvalidParameter;
    }
    HKEY key = nullptr;
    DWORD disposition = 0;
    LSTATUS rc =
        ::RegCreateKeyExW(AsHkey(root), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          access | kView, nullptr, &key, &disposition);
    if (rc == ERROR_SUCCESS) {
        *result = reinterpret_cast<RegKey>(key);
        if (created != nullptr) {
            *created = disposition == REG_CREATED_NEW_KEY;
        }
    }
    return static_cast<std::uint32_t>(rc);
}

std::uint32_t QueryRegistryValue(RegKey key, const wchar_t* name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) {
    if (size == nullptr) {
        return kErrorInvalidParameter;
    }
    DWORD valueType = 0;
    DWORD valueSize = *size;
    LSTATUS rc = ::RegQueryValueExW(AsHkey(key), name, nullptr, &valueType, data, &valueSize);
    if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        *size = valueSize;
        if (type != nullptr) {
            *type = valueType;
        }
    }
    return static_cast<std::uint32_t>(rc);
}

std::uint32_t SetRegistryValue(RegKey key, const wchar_t* name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size) {
    return static_cast<std::uint32_t>(::RegSetValueExW(AsHkey(key), name, 0, type, data, size));
}

std::uint32_t DeleteRegistryTree(RegKey root, const std::wstring& subkey) {
    if (subkey.empty()) {
        return kErrorAccessDenied;  // the root itself is not ours to empty
    }
    // RegDeleteTreeW works in the view of the handle it is given: open the key in the 32-bit
    // view, empty it, then delete the key itself in the same view.
    HKEY key = nullptr;
    LSTATUS rc = ::RegOpenKeyExW(
        AsHkey(root), subkey.c_str(), 0,
        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | kView, &key);
    if (rc != ERROR_SUCCESS) {
        return static_cast<std::uint32_t>(rc);
    }
    rc = ::RegDeleteTreeW(key, nullptr);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
        return static_cast<std::uint32_t>(rc);
    }
    return static_cast<std::uint32_t>(::RegDeleteKeyExW(AsHkey(root), subkey.c_str(), kView, 0));
}

std::uint32_t CloseRegistryKey(RegKey key) {
    if (IsPredefinedRegKey(key)) {
        return kErrorSuccess;
    }
    return static_cast<std::uint32_t>(::RegCloseKey(AsHkey(key)));
}

std::uint32_t CheckRegistryStore(std::wstring* problems) {
    // The system's own registry: nothing of ours to check.
    if (problems != nullptr) {
        problems->clear();
    }
    return kErrorSuccess;
}

}  // namespace platform
