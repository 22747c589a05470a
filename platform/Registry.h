// The machine registry. Windows: the Reg* functions on the 32-bit view. POSIX: an emulated
// HKEY_LOCAL_MACHINE kept as a .reg text file under the system root (see README, "Linux layout").
//
// Every function returns a Win32 error number: 0 success, 2 missing key or value, 5 a store that
// cannot be written (or a handle opened without the access an operation needs), 234 a value larger
// than the given buffer, 6 a handle that is not open, 161 a malformed key path, 1018 a key deleted
// while a handle to it was open, 1015 a change refused because the store holds lines that do not
// parse (rewriting it would lose them; CheckRegistryStore names them).
//
// Key and value names compare case-insensitively and keep the case they were created with. Only
// HKEY_LOCAL_MACHINE is emulated on POSIX; the other roots hold no keys (2).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using RegKey = std::uintptr_t;

inline constexpr RegKey kHkeyClassesRoot = 0x80000000u;
inline constexpr RegKey kHkeyCurrentUser = 0x80000001u;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002u;
inline constexpr RegKey kHkeyUsers = 0x80000003u;
inline constexpr RegKey kHkeyPerformanceData = 0x80000004u;
inline constexpr RegKey kHkeyCurrentConfig = 0x80000005u;
inline constexpr RegKey kHkeyDynData = 0x80000006u;
inline constexpr RegKey kHkeyPerformanceText = 0x80000050u;
inline constexpr RegKey kHkeyPerformanceNlsText = 0x80000060u;

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

inline constexpr std::uint32_t kKeyRead = 0x20019u;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003Fu;

// True for the predefined root handles, which are never closed.
bool IsPredefinedRegKey(RegKey key);

// Opens `subkey` below `root` (a predefined root or an open key). An empty subkey opens the root
// again as a new handle.
std::uint32_t OpenRegistryKey(RegKey root, const std::wstring& subkey, std::uint32_t access,
                              RegKey* result);

// Opens or creates `subkey` and every missing parent. `created` is set to whether the key is new.
std::uint32_t CreateRegistryKey(RegKey root, const std::wstring& subkey, std::uint32_t access,
                                RegKey* result, bool* created);

// RegQueryValueExW: a null `data` asks for the size only; a `size` too small for the value gives
// 234 with `size` set to the size needed. `type` may be null. A null or empty name is the default
// value.
std::uint32_t QueryRegistryValue(RegKey key, const wchar_t* name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size);

// RegSetValueExW: stores `size` bytes of `data` as a value of `type`. String types are UTF-16LE
// bytes with their terminator, as on Windows.
std::uint32_t SetRegistryValue(RegKey key, const wchar_t* name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size);

// Deletes `subkey` below `root` and all of its subkeys (RegDeleteTreeW).
std::uint32_t DeleteRegistryTree(RegKey root, const std::wstring& subkey);

// Closes a key opened or created above. Closing a predefined root does nothing and succeeds.
std::uint32_t CloseRegistryKey(RegKey key);

// Checks that the registry store can be read and rewritten: 0 when it can, 1015 when it holds
// lines that do not parse, with `problems` (when not null) set to one line per problem naming the
// file and line ("…/HKLM.reg line 12: …"). Always 0 on Windows, whose registry is its own.
std::uint32_t CheckRegistryStore(std::wstring* problems);

}  // namespace platform
