// One SNMP GET request of the GET list (GetOIDList.txt), as a line of the option-line syntax
// gives it: -v: version, -c: community, -agent:, -oid:, and for version 3 the SNMPv3 user options
// e, u, a, AP/A, x, XP/X.
#pragma once

#include <string>
#include <string_view>

#include "settings/UsmEntry.h"

struct GetOidEntry {
    std::wstring version;    // "1", "2c" or "3"
    std::wstring community;  // empty when -c is absent
    std::wstring agent;
    std::wstring oid;
    UsmEntry usm;  // version "3" only; the engine ID may be empty
};

// Why a line was rejected; the first failing check wins, in this order.
enum class GetOidLineError {
    kNone,
    kVersion,            // -v missing, or not exactly "1", "2c" or "3"
    kCommunityTooLong,   // -c longer than 255 characters
    kCommunityReserved,  // -c holds a reserved character
    kAgent,              // -agent missing
    kOid,                // -oid missing
    kOidTooLong,         // -oid of 2001 characters or more
    kCredentials,        // version 3: the SNMPv3 user options are not valid
};

// The message of a rejection, with "%s" where the line goes; empty text for kNone.
std::wstring_view GetOidLineMessage(GetOidLineError error);

// Checks the option tokens of one line and fills `entry`. With `checkLimits` false the length
// and reserved-character checks are left out (the settings encryption tool reads lines so).
GetOidLineError ParseGetOidLine(const OptionTokens& tokens, GetOidEntry& entry,
                                bool checkLimits = true);
GetOidLineError ParseGetOidLine(const OptionTokens& tokens, GetOidEntry& entry, bool checkLimits,
                                const PassPhraseDecipher& decipher);
