// The settings cipher: pass phrases in the SNMP settings files may be stored enciphered.
//
// RC2 in ECB mode (16-byte key, 1,024 effective key bits) whose key is the MD5 digest of a pass
// phrase built into both programs; the enciphered text is Base64. The cryptographic functions
// come from OpenSSL's library, loaded by file name at run time on first use. All texts given to
// CCrypt are narrow strings in code page 932.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DynamicLibrary.h"

// The pass phrase built into the manager and the settings encryption tool.
inline constexpr char kBuiltInPassPhrase[] = "Grape38?IcyGinger&@*MINS=2947-5083]}:";

// Longest plain or enciphered text the cipher takes, in bytes.
inline constexpr std::size_t kCipherTextLimit = 1000;

class CCrypt {
  public:
    // `libraryName` is the file the functions are loaded from; the default is OpenSSL's library
    // of the platform (platform/CryptoLibrary.h).
    explicit CCrypt(std::string passPhrase);
    CCrypt(std::string passPhrase, std::wstring libraryName);
    virtual ~CCrypt();
    CCrypt(const CCrypt&) = delete;
    CCrypt& operator=(const CCrypt&) = delete;

    // Loads the library, resolves MD5_Init, MD5_Update, MD5_Final, RC2_ecb_encrypt and
    // RC2_set_key, and derives the key. Succeeds at once when that was done before. A library that
    // could not be loaded is tried again by the next call; one that lacks a function leaves the
    // object unusable. On failure GetLastError() holds the Win32 error number.
    bool LoadCryptoLibrary();

    // Enciphers `plain` into Base64 text. Fails when the library cannot be used or `plain` is
    // longer than kCipherTextLimit; an empty `plain` succeeds and leaves `enciphered` unchanged.
    bool Encipher(const std::string& plain, std::string& enciphered);

    // Deciphers Base64 text made by Encipher (a leading "+ " is skipped). Fails when the library
    // cannot be used, the text is longer than kCipherTextLimit or is not Base64; an empty text
    // succeeds and leaves `plain` unchanged. The result ends at its first zero byte.
    bool Decipher(const std::string& enciphered, std::string& plain);

    // The Win32 error number of the last failed LoadCryptoLibrary, or 0.
    std::uint32_t GetLastError() const { return m_lastError; }

  private:
    using Md5InitFn = int (*)(void* context);
    using Md5UpdateFn = int (*)(void* context, const void* data, std::size_t length);
    using Md5FinalFn = int (*)(unsigned char* digest, void* context);
    using Rc2EcbEncryptFn = void (*)(const unsigned char* in, unsigned char* out, void* key,
                                     int encrypt);
    using Rc2SetKeyFn = void (*)(void* key, int length, const unsigned char* data, int bits);

    // RC2_KEY of OpenSSL: 64 words of RC2_INT (unsigned int).
    struct Rc2KeySchedule {
        unsigned int data[64];
    };

    void DeriveKey();
    void CipherBlocks(unsigned char* data, std::size_t blocks, bool encrypt);

    std::string m_passPhrase;
    std::wstring m_libraryName;
    platform::DynamicLibrary m_library;
    bool m_usable = false;
    std::uint32_t m_lastError = 0;
    std::array<unsigned char, 16> m_keyDigest = {};
    Rc2KeySchedule m_keySchedule = {};
    Md5InitFn m_md5Init = nullptr;
    Md5UpdateFn m_md5Update = nullptr;
    Md5FinalFn m_md5Final = nullptr;
    Rc2EcbEncryptFn m_rc2EcbEncrypt = nullptr;
    Rc2SetKeyFn m_rc2SetKey = nullptr;
};

// Deciphers an enciphered pass phrase of a settings file with the built-in pass phrase: the text
// is converted to code page 932, deciphered and converted back. Empty text on any failure. The
// library is loaded and freed within the call. `libraryName` is for tests; the default is
// OpenSSL's library of the platform.
std::wstring DecipherPassword(const std::wstring& enciphered);
std::wstring DecipherPassword(const std::wstring& enciphered, const std::wstring& libraryName);

// The enciphered text of a plain pass phrase, for writing into a settings file (code page 932 and
// the built-in pass phrase, as DecipherPassword reads it). False when it cannot be enciphered:
// the library cannot be used, or the pass phrase is longer than kCipherTextLimit bytes in code
// page 932. An empty pass phrase gives empty text.
bool EncipherPassword(const std::wstring& plain, std::wstring& enciphered);
