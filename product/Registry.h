// One open key of the machine's registry, with the value operations the product uses.
//
// Every operation returns an HRESULT-style code: 0 success, 0x80070000 | e for a registry error e
// (0x80070002 for a missing key or value), E_INVALIDARG for a null value name and E_FAIL for a
// value operation while no key is open. Create returns 1 (S_FALSE) for a key that already existed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Registry.h"

class CRegistry {
  public:
    CRegistry() = default;
    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;
    // Closes the key.
    virtual ~CRegistry();

    // Closes any open key, then opens `subkey` below `root` (a predefined root such as
    // platform::kHkeyLocalMachine) with `access`, KEY_READ unless told otherwise.
    std::uint32_t Open(platform::RegKey root, const std::wstring& subkey,
                       std::uint32_t access = platform::kKeyRead);

    // Closes any open key, then opens `subkey` with all access, creating it and its missing
    // parents. Returns 0 when the key was created, 1 when it already existed.
    std::uint32_t Create(platform::RegKey root, const std::wstring& subkey);

    // The text of a value of any type: its bytes as UTF-16 up to the first NUL. `text` is left
    // unchanged on failure. An empty name is the default value.
    std::uint32_t QueryStringValue(const wchar_t* name, std::wstring& text);

    // A value of exactly 4 bytes, whatever its type, as a little-endian number; a longer or
    // shorter value fails (0x800700EA or 0x8007000D) and leaves `value` unchanged.
    std::uint32_t QueryDWORDValue(const wchar_t* name, std::uint32_t& value);

    // Stores `text` as REG_EXPAND_SZ, terminator included, without expanding anything.
    std::uint32_t SetExpandStringValue(const wchar_t* name, std::wstring_view text);

    // Stores `value` as REG_DWORD.
    std::uint32_t SetDWORDValue(const wchar_t* name, std::uint32_t value);

    // Deletes `subkey` below `root` (a predefined root or an open key's handle) with all of its
    // subkeys and values. Needs no open key.
    static std::uint32_t DeleteKey(platform::RegKey root, const std::wstring& subkey);

    // Closes the open key. The predefined root handles are never closed, only let go.
    void Close();

    bool IsOpen() const { return m_key != 0; }
    platform::RegKey Handle() const { return m_key; }

  protected:
    platform::RegKey m_key = 0;
};
