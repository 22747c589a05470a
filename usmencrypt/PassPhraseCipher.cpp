#include "usmencrypt/PassPhraseCipher.h"

#include <utility>

#include "platform/CryptoLibrary.h"
#include "platform/Text.h"

CPassPhraseCipher::CPassPhraseCipher() : CPassPhraseCipher(platform::kCryptoLibraryFileName) {}

CPassPhraseCipher::CPassPhraseCipher(std::wstring libraryName)
    : m_crypt(kBuiltInPassPhrase, std::move(libraryName)) {}

bool CPassPhraseCipher::Usable() {
    if (!m_crypt.LoadCryptoLibrary()) {
        m_libraryFailed = true;
        return false;
    }
    return true;
}

std::wstring CPassPhraseCipher::Decipher(const std::wstring& enciphered) {
    if (!Usable()) {
        return {};
    }
    std::string plain;
    if (!m_crypt.Decipher(platform::WideToCodePage(platform::kCodePage932, enciphered), plain)) {
        return {};
    }
    return platform::CodePageToWide(platform::kCodePage932, plain);
}

bool CPassPhraseCipher::Encipher(const std::wstring& plain, std::wstring& enciphered) {
    if (plain.empty()) {
        enciphered.clear();
        return true;
    }
    if (!Usable()) {
        return false;
    }
    bool usedDefault = false;
    std::string bytes = platform::WideToCodePage(platform::kCodePage932, plain, &usedDefault);
    if (usedDefault || bytes.find('\0') != std::string::npos) {
        return false;
    }
    std::string text;
    if (!m_crypt.Encipher(bytes, text)) {
        return false;
    }
    // The cipher takes longer texts than it gives back: a pass phrase of more than 744 bytes
    // enciphers to a text beyond the length the deciphering accepts.
    std::string back;
    if (!m_crypt.Decipher(text, back) || back != bytes) {
        return false;
    }
    enciphered = platform::CodePageToWide(platform::kCodePage932, text);
    return true;
}
