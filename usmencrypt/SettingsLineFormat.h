// The lines that the settings encryption tool writes back into the two SNMP settings files.
//
// Each option is written as a dash, its name, a colon and its value, options separated by one
// blank; pass phrases are written enciphered (options A and X). The values of c, u, A and X stand
// in double quotes. Every value is written so that the option-line syntax reads back exactly that
// value: a value that holds a double quote, a blank or a backslash before a quote is escaped by
// the command-line rules, every other value is written as it is.
#pragma once

#include <string>

#include "getpoll/GetOidEntry.h"
#include "settings/UsmEntry.h"
#include "usmencrypt/PassPhraseCipher.h"

// A GET list line (GetOIDList.txt): -v:, then -c: for versions 1 and 2c or the SNMPv3 options
// -u: -e: -a: -A: -x: -X: for version 3, then -agent: and -oid:. False when a pass phrase cannot
// be enciphered; `line` is then unchanged.
bool FormatGetOidLine(const GetOidEntry& entry, CPassPhraseCipher& cipher, std::wstring& line);

// An SNMPv3 receive settings line (SnmpV3Setting.txt): -u: -e: -a: -A: -x: -X:. False when a
// pass phrase cannot be enciphered; `line` is then unchanged.
bool FormatUsmLine(const UsmEntry& entry, CPassPhraseCipher& cipher, std::wstring& line);
