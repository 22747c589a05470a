// The file name under which the OpenSSL cryptography library is loaded at run time.
#pragma once

namespace platform {

#ifdef _WIN32
inline constexpr wchar_t kCryptoLibraryFileName[] = L"libeay32.dll";
#else
// OpenSSL 3 still exports the low-level MD5_* and RC2_* functions that the settings cipher uses.
inline constexpr wchar_t kCryptoLibraryFileName[] = L"libcrypto.so.3";
#endif

}  // namespace platform
