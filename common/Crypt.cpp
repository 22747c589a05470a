#include "common/Crypt.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/CryptoLibrary.h"
#include "platform/Text.h"

namespace {

// Win32 error numbers of a failed load: the module or one of its functions is missing.
constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorProcNotFound = 127;

constexpr std::size_t kBufferSize = 2000;
constexpr std::size_t kBlockSize = 8;
constexpr int kRc2KeyBytes = 16;
constexpr int kRc2EffectiveBits = 1024;

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a Base64 alphabet character, or -1 (bytes of 0x80 and above included).
int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

std::string EncodeBase64(const unsigned char* data, std::size_t length) {
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        unsigned value = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out.push_back(kBase64Alphabet[(value >> 18) & 63]);
        out.push_back(kBase64Alphabet[(value >> 12) & 63]);
        out.push_back(kBase64Alphabet[(value >> 6) & 63]);
        out.push_back(kBase64Alphabet[value & 63]);
    }
    if (length - i == 1) {
        unsigned value = data[i] << 16;
        out.push_back(kBase64Alphabet[(value >> 18) & 63]);
        out.push_back(kBase64Alphabet[(value >> 12) & 63]);
        out.append("==");
    } else if (length - i == 2) {
        unsigned value = (data[i] << 16) | (data[i + 1] << 8);
        out.push_back(kBase64Alphabet[(value >> 18) & 63]);
        out.push_back(kBase64Alphabet[(value >> 12) & 63]);
        out.push_back(kBase64Alphabet[(value >> 6) & 63]);
        out.push_back('=');
    }
    return out;
}

// Decodes the enciphered text form into `out` (at least text.size() * 3 / 4 bytes); the number of
// bytes, or -1 when the text is not in that form. Groups of four characters: the first two from
// the alphabet, the last two from the alphabet or "="; decoding ends after a group that ends in
// "=", or at the end of the text or a carriage return.
long DecodeBase64(std::string_view text, unsigned char* out) {
    if (text.size() >= 2 && text[0] == '+' && text[1] == ' ') {
        text.remove_prefix(2);
    }
    long count = 0;
    std::size_t i = 0;
    while (i < text.size() && text[i] != '\r') {
        if (i + 4 > text.size()) {
            return -1;
        }
        auto c = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
        int v0 = Base64Value(c(0));
        int v1 = Base64Value(c(1));
        int v2 = c(2) == '=' ? 0 : Base64Value(c(2));
        int v3 = c(3) == '=' ? 0 : Base64Value(c(3));
        if (v0 < 0 || v1 < 0 || v2 < 0 || v3 < 0) {
            return -1;
        }
        out[count++] = static_cast<unsigned char>((v0 << 2) | (v1 >> 4));
        if (c(2) != '=') {
            out[count++] = static_cast<unsigned char>(((v1 & 15) << 4) | (v2 >> 2));
            if (c(3) != '=') {
                out[count++] = static_cast<unsigned char>(((v2 & 3) << 6) | v3);
            }
        }
        bool last = c(3) == '=';
        i += 4;
        if (last) {
            break;
        }
    }
    return count;
}

}  // namespace

CCrypt::CCrypt(std::string passPhrase)
    : CCrypt(std::move(passPhrase), platform::kCryptoLibraryFileName) {}

CCrypt::CCrypt(std::string passPhrase, std::wstring libraryName)
    : m_passPhrase(std::move(passPhrase)), m_libraryName(std::move(libraryName)) {}

CCrypt::~CCrypt() {
    // Key material does not outlive the object.
    volatile unsigned char* digest = m_keyDigest.data();
    for (std::size_t i = 0; i < m_keyDigest.size(); ++i) {
        digest[i] = 0;
    }
    volatile unsigned int* schedule = m_keySchedule.data;
    for (std::size_t i = 0; i < 64; ++i) {
        schedule[i] = 0;
    }
}

bool CCrypt::LoadCryptoLibrary() {
    if (m_library.IsLoaded()) {
        return m_usable;
    }
    m_library = platform::DynamicLibrary::Load(m_libraryName);
    if (!m_library.IsLoaded()) {
        m_lastError = kErrorModNotFound;
        return false;
    }
    m_md5Init = m_library.Function<Md5InitFn>("MD5_Init");
    m_md5Update = m_library.Function<Md5UpdateFn>("MD5_Update");
    m_md5Final = m_library.Function<Md5FinalFn>("MD5_Final");
    m_rc2EcbEncrypt = m_library.Function<Rc2EcbEncryptFn>("RC2_ecb_encrypt");
    m_rc2SetKey = m_library.Function<Rc2SetKeyFn>("RC2_set_key");
    if (m_md5Init == nullptr || m_md5Update == nullptr || m_md5Final == nullptr ||
        m_rc2EcbEncrypt == nullptr || m_rc2SetKey == nullptr) {
        m_lastError = kErrorProcNotFound;
        return false;  // the library stays loaded, so the object stays unusable
    }
    DeriveKey();
    m_usable = true;
    m_lastError = 0;
    return true;
}

void CCrypt::DeriveKey() {
    // MD5_CTX of OpenSSL is 92 bytes; the buffer leaves room and keeps word alignment.
    alignas(16) unsigned char context[256] = {};
    m_md5Init(context);
    m_md5Update(context, m_passPhrase.data(), m_passPhrase.size());
    m_md5Final(m_keyDigest.data(), context);
    std::memset(context, 0, sizeof context);
    m_rc2SetKey(&m_keySchedule, kRc2KeyBytes, m_keyDigest.data(), kRc2EffectiveBits);
}

void CCrypt::CipherBlocks(unsigned char* data, std::size_t blocks, bool encrypt) {
    unsigned char out[kBlockSize];
    for (std::size_t b = 0; b < blocks; ++b) {
        unsigned char* block = data + b * kBlockSize;
        m_rc2EcbEncrypt(block, out, &m_keySchedule, encrypt ? 1 : 0);
        std::memcpy(block, out, kBlockSize);
    }
}

bool CCrypt::Encipher(const std::string& plain, std::string& enciphered) {
    if (!LoadCryptoLibrary()) {
        return false;
    }
    if (plain.size() > kCipherTextLimit) {
        return false;
    }
    if (plain.empty()) {
        return true;
    }
    unsigned char buffer[kBufferSize] = {};
    std::memcpy(buffer, plain.data(), plain.size());
    std::size_t padded = (plain.size() - 1) / kBlockSize * kBlockSize + kBlockSize;
    CipherBlocks(buffer, padded / kBlockSize, true);
    enciphered = EncodeBase64(buffer, padded);
    return true;
}

bool CCrypt::Decipher(const std::string& enciphered, std::string& plain) {
    if (!LoadCryptoLibrary()) {
        return false;
    }
    if (enciphered.size() > kCipherTextLimit) {
        return false;
    }
    if (enciphered.empty()) {
        return true;
    }
    // Zero-filled, so that the last block read and the terminator search stay inside it.
    unsigned char buffer[kBufferSize] = {};
    long decoded = DecodeBase64(enciphered, buffer);
    if (decoded < 0) {
        return false;
    }
    CipherBlocks(buffer, static_cast<std::size_t>(decoded + 1) / kBlockSize, false);
    const unsigned char* end = std::find(buffer, buffer + kBufferSize, 0);
    plain.assign(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(end - buffer));
    return true;
}

std::wstring DecipherPassword(const std::wstring& enciphered) {
    return DecipherPassword(enciphered, platform::kCryptoLibraryFileName);
}

std::wstring DecipherPassword(const std::wstring& enciphered, const std::wstring& libraryName) {
    CCrypt crypt(kBuiltInPassPhrase, libraryName);
    std::string plain;
    if (!crypt.Decipher(platform::WideToCodePage(platform::kCodePage932, enciphered), plain)) {
        return {};
    }
    return platform::CodePageToWide(platform::kCodePage932, plain);
}

bool EncipherPassword(const std::wstring& plain, std::wstring& enciphered) {
    CCrypt crypt(kBuiltInPassPhrase);
    std::string text;
    if (!crypt.Encipher(platform::WideToCodePage(platform::kCodePage932, plain), text)) {
        return false;
    }
    enciphered = platform::CodePageToWide(platform::kCodePage932, text);
    return true;
}
