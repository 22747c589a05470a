// One SNMPv3 user entry as the two SNMP settings files write it (options e, u, a, AP/A, x, XP/X
// of the option-line syntax), and its validation.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "settings/OptionLine.h"

struct UsmEntry {
    std::wstring engineId;
    std::wstring userName;
    std::wstring authProtocol;  // empty, "MD5" or "SHA"
    std::wstring authPassword;  // plain text
    std::wstring privProtocol;  // empty, "DES" or "AES"
    std::wstring privPassword;  // plain text
};

// Turns an enciphered pass phrase (option A or X) into plain text; empty text when it cannot.
using PassPhraseDecipher = std::function<std::wstring(const std::wstring&)>;

// How much ValidateUsmEntry checks.
struct UsmEntryRules {
    bool engineIdRequired = true;
    // Lengths (engine ID 10..32, user name up to 31, pass phrases 8..64, counted in UTF-16 units)
    // and reserved characters. The settings encryption tool reads entries without them.
    bool checkLimits = true;
};

bool IsAuthProtocol(std::wstring_view protocol);  // exactly "MD5" or "SHA"
bool IsPrivProtocol(std::wstring_view protocol);  // exactly "DES" or "AES"
bool HasNoReservedChar(std::wstring_view value);

// Fills `entry` from the option tokens of one line and tells whether it is valid. In order, the
// first failure wins: engine ID (`e`, 10 to 32 characters; its absence fails only when required),
// user name (`u` required, at most 31 characters, no reserved character), authentication protocol
// (`a`: "MD5" or "SHA"), its pass phrase (`AP`, else `A` deciphered, else empty: 8 to 64
// characters without reserved characters when the protocol is set), privacy protocol (`x`: "DES"
// or "AES") and its pass phrase (`XP`, else `X` deciphered, same rule when the protocol is set).
// An enciphered pass phrase is deciphered only when no plain one is given.
bool ValidateUsmEntry(const OptionTokens& tokens, bool engineIdRequired, UsmEntry& entry);
bool ValidateUsmEntry(const OptionTokens& tokens, const UsmEntryRules& rules, UsmEntry& entry,
                      const PassPhraseDecipher& decipher);
