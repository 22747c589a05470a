// Test helper: a library that every machine has and that exports none of the crypto functions.
#pragma once

namespace test {

#ifdef _WIN32
inline constexpr wchar_t kLibraryWithoutCrypto[] = L"kernel32.dll";
#else
inline constexpr wchar_t kLibraryWithoutCrypto[] = L"libc.so.6";
#endif

}  // namespace test
