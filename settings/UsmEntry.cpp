#include "settings/UsmEntry.h"

#include "common/Crypt.h"
#include "platform/Text.h"

namespace {

constexpr std::size_t kEngineIdMin = 10;
constexpr std::size_t kEngineIdMax = 32;
constexpr std::size_t kUserNameMax = 31;
constexpr std::size_t kPassPhraseMin = 8;
constexpr std::size_t kPassPhraseMax = 64;

std::wstring DecipherWithBuiltInPassPhrase(const std::wstring& enciphered) {
    return DecipherPassword(enciphered);
}

// The plain pass phrase of option `plainName`, else the deciphered one of `encipheredName`.
std::wstring PassPhrase(const OptionTokens& tokens, std::wstring_view plainName,
                        std::wstring_view encipheredName, const PassPhraseDecipher& decipher) {
    if (FindOption(plainName, tokens) >= 0) {
        return GetOptionValue(plainName, tokens);
    }
    if (FindOption(encipheredName, tokens) >= 0) {
        return decipher(GetOptionValue(encipheredName, tokens));
    }
    return {};
}

bool IsGoodPassPhrase(const std::wstring& passPhrase, const UsmEntryRules& rules) {
    if (!rules.checkLimits) {
        return true;
    }
    std::size_t length = platform::Utf16Length(passPhrase);
    return length >= kPassPhraseMin && length <= kPassPhraseMax && HasNoReservedChar(passPhrase);
}

}  // namespace

bool IsAuthProtocol(std::wstring_view protocol) {
    return protocol == L"MD5" || protocol == L"SHA";
}

bool IsPrivProtocol(std::wstring_view protocol) {
    return protocol == L"DES" || protocol == L"AES";
}

bool HasNoReservedChar(std::wstring_view value) {
    return !HasReservedChar(value);
}

bool ValidateUsmEntry(const OptionTokens& tokens, bool engineIdRequired, UsmEntry& entry) {
    UsmEntryRules rules;
    rules.engineIdRequired = engineIdRequired;
    return ValidateUsmEntry(tokens, rules, entry, DecipherWithBuiltInPassPhrase);
}

bool ValidateUsmEntry(const OptionTokens& tokens, const UsmEntryRules& rules, UsmEntry& entry,
                      const PassPhraseDecipher& decipher) {
    entry = UsmEntry();

    if (FindOption(L"e", tokens) >= 0) {
        entry.engineId = GetOptionValue(L"e", tokens);
        std::size_t length = platform::Utf16Length(entry.engineId);
        if (rules.checkLimits && (length < kEngineIdMin || length > kEngineIdMax)) {
            return false;
        }
    } else if (rules.engineIdRequired) {
        return false;
    }

    if (FindOption(L"u", tokens) < 0) {
        return false;
    }
    entry.userName = GetOptionValue(L"u", tokens);
    if (rules.checkLimits && (platform::Utf16Length(entry.userName) > kUserNameMax ||
                              !HasNoReservedChar(entry.userName))) {
        return false;
    }

    if (FindOption(L"a", tokens) >= 0) {
        entry.authProtocol = GetOptionValue(L"a", tokens);
        if (!IsAuthProtocol(entry.authProtocol)) {
            return false;
        }
    }
    entry.authPassword = PassPhrase(tokens, L"AP", L"A", decipher);
    if (!entry.authProtocol.empty() && !IsGoodPassPhrase(entry.authPassword, rules)) {
        return false;
    }

    if (FindOption(L"x", tokens) >= 0) {
        entry.privProtocol = GetOptionValue(L"x", tokens);
        if (!IsPrivProtocol(entry.privProtocol)) {
            return false;
        }
    }
    entry.privPassword = PassPhrase(tokens, L"XP", L"X", decipher);
    if (entry.privProtocol.empty()) {
        return true;
    }
    return IsGoodPassPhrase(entry.privPassword, rules);
}
