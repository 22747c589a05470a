// The settings cipher on arbitrary text: Base64 decoding and deciphering of what a settings file
// may hold in its A and X options, and enciphering, which must give back what it was given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Crypt.h"
#include "fuzz/FuzzInstallation.h"
#include "fuzz/FuzzText.h"

namespace {

CCrypt* g_crypt = nullptr;

void Fail(const char* what) {
    std::fprintf(stderr, "crypt fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    static CFuzzInstallation installation(false);
    static CCrypt crypt(kBuiltInPassPhrase);
    if (!crypt.LoadCryptoLibrary()) {
        Fail("OpenSSL's library cannot be used");
    }
    g_crypt = &crypt;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(fuzztext::AsText(data, size));

    std::string plain;
    g_crypt->Decipher(text, plain);
    DecipherPassword(fuzztext::Decode(fuzztext::Decoding::kCodePage932, text));

    // Deciphering what was enciphered gives the text up to its first zero byte (when the
    // enciphered text is within the limit: a long plain text makes a longer Base64 text).
    std::string enciphered;
    if (g_crypt->Encipher(text, enciphered) != (text.size() <= kCipherTextLimit)) {
        Fail("Encipher refuses a text within the limit or takes one beyond it");
    }
    if (!text.empty() && text.size() <= kCipherTextLimit && enciphered.size() <= kCipherTextLimit) {
        std::string deciphered;
        if (!g_crypt->Decipher(enciphered, deciphered)) {
            Fail("Decipher refuses what Encipher made");
        }
        if (deciphered != text.substr(0, text.find('\0'))) {
            Fail("Decipher does not give back what was enciphered");
        }
    }
    return 0;
}
