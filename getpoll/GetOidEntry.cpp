#include "getpoll/GetOidEntry.h"

#include "common/Crypt.h"
#include "platform/Text.h"

namespace {

constexpr std::size_t kCommunityMax = 255;
constexpr std::size_t kOidMax = 2000;

}  // namespace

std::wstring_view GetOidLineMessage(GetOidLineError error) {
    switch (error) {
        case GetOidLineError::kNone:
            return {};
        case GetOidLineError::kVersion:
            return L"SNMP Getのバージョン指定が不正です。\r\n%s";
        case GetOidLineError::kCommunityTooLong:
            return L"SNMP Getのコミュニティ指定が最大長をオーバーしています。\r\n%s";
        case GetOidLineError::kCommunityReserved:
            return L"SNMP Getのコミュニティ名で使用できない文字が含まれています。\r\n%s";
        case GetOidLineError::kAgent:
            return L"SNMP Getのエージェント指定が不正です。\r\n%s";
        case GetOidLineError::kOid:
            return L"SNMP GetのOID指定が不正です。\r\n%s";
        case GetOidLineError::kOidTooLong:
            return L"SNMP GetのOID指定が最大長をオーバーしています。\r\n%s";
        case GetOidLineError::kCredentials:
            return L"SNMP Getの認証情報指定が不正です。\r\n%s";
    }
    return {};
}

GetOidLineError ParseGetOidLine(const OptionTokens& tokens, GetOidEntry& entry, bool checkLimits) {
    return ParseGetOidLine(tokens, entry, checkLimits,
                           [](const std::wstring& text) { return DecipherPassword(text); });
}

GetOidLineError ParseGetOidLine(const OptionTokens& tokens, GetOidEntry& entry, bool checkLimits,
                                const PassPhraseDecipher& decipher) {
    entry = GetOidEntry();

    if (FindOption(L"v", tokens) < 0) {
        return GetOidLineError::kVersion;
    }
    entry.version = GetOptionValue(L"v", tokens);
    if (entry.version != L"1" && entry.version != L"2c" && entry.version != L"3") {
        return GetOidLineError::kVersion;
    }

    if (FindOption(L"c", tokens) >= 0) {
        entry.community = GetOptionValue(L"c", tokens);
        if (checkLimits && platform::Utf16Length(entry.community) > kCommunityMax) {
            return GetOidLineError::kCommunityTooLong;
        }
        if (checkLimits && HasReservedChar(entry.community)) {
            return GetOidLineError::kCommunityReserved;
        }
    }

    if (FindOption(L"agent", tokens) < 0) {
        return GetOidLineError::kAgent;
    }
    entry.agent = GetOptionValue(L"agent", tokens);

    if (FindOption(L"oid", tokens) < 0) {
        return GetOidLineError::kOid;
    }
    entry.oid = GetOptionValue(L"oid", tokens);
    if (checkLimits && platform::Utf16Length(entry.oid) > kOidMax) {
        return GetOidLineError::kOidTooLong;
    }

    if (entry.version == L"3") {
        UsmEntryRules rules;
        rules.engineIdRequired = false;
        rules.checkLimits = checkLimits;
        if (!ValidateUsmEntry(tokens, rules, entry.usm, decipher)) {
            return GetOidLineError::kCredentials;
        }
    }
    return GetOidLineError::kNone;
}
