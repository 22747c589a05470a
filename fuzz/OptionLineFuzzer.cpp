// A line of GetOIDList.txt or SnmpV3Setting.txt: the option-line splitter, the option lookups,
// the masking of plain pass phrases, and both line checks (the GET request and the SNMPv3 user),
// with and without the limits and with enciphered pass phrases deciphered for real.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Crypt.h"
#include "fuzz/FuzzInstallation.h"
#include "fuzz/FuzzText.h"
#include "getpoll/GetOidEntry.h"
#include "settings/OptionLine.h"
#include "settings/UsmEntry.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "option line fuzzer: %s\n", what);
    std::abort();
}

// Every AP and XP option that the masked line still gives a value holds the mask: no plain pass
// phrase reaches a report.
void CheckMasked(const std::wstring& line) {
    const std::wstring masked = MaskPlainPassPhrases(line);
    std::wstring name;
    std::wstring value;
    for (const std::wstring& token : SplitOptionLine(masked)) {
        if (ParseOptionToken(token, name, value) && (name == L"AP" || name == L"XP") &&
            !value.empty() && value != kMaskedPassPhrase) {
            Fail("a plain pass phrase survives the masking");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    static CFuzzInstallation installation(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto decoding = static_cast<fuzztext::Decoding>(data[0] & 1);
    const std::wstring line = fuzztext::Decode(decoding, fuzztext::AsText(data + 1, size - 1));

    const OptionTokens tokens = SplitOptionLine(line);
    std::wstring name;
    std::wstring value;
    for (const std::wstring& token : tokens) {
        if (ParseOptionToken(token, name, value)) {
            if (FindOption(name, tokens) < 0 && !name.empty()) {
                Fail("an option that FindOption does not find");
            }
            HasReservedChar(value);
        }
    }
    CheckMasked(line);

    GetOidEntry entry;
    ParseGetOidLine(tokens, entry, true);
    ParseGetOidLine(tokens, entry, false);

    UsmEntry usm;
    ValidateUsmEntry(tokens, true, usm);
    const PassPhraseDecipher decipher = [](const std::wstring& text) {
        return DecipherPassword(text);
    };
    ValidateUsmEntry(tokens, UsmEntryRules{false, false}, usm, decipher);
    return 0;
}
