// The option-line syntax of the two SNMP settings files (GetOIDList.txt, SnmpV3Setting.txt).
//
// A line looks like a command line: tokens separated by blanks, double quotes group blanks into a
// token, and backslashes before a quote follow the Windows command-line rules. A token that begins
// with "-" or "/" is an option "name:value"; every other token is ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

using OptionTokens = std::vector<std::wstring>;

// The tokens of `line`, in line order, with quotes and escaping backslashes removed:
//  - tokens are separated by runs of blanks (U+0020 only; a TAB is an ordinary character);
//  - a double quote switches quoting on and off; inside quotes a blank is ordinary; "" still
//    makes a (possibly empty) token;
//  - 2n backslashes before a quote give n backslashes and a quote that switches quoting, 2n+1
//    give n backslashes and a literal quote; backslashes not followed by a quote stay as they are.
OptionTokens SplitOptionLine(std::wstring_view line);

// Takes one token apart as an option: at most two leading "-" or "/" are removed, leading colons
// are skipped, the name is the text before the next colon and the value everything after it
// (further colons included; empty without a colon). False for a token that is not an option.
bool ParseOptionToken(std::wstring_view token, std::wstring& name, std::wstring& value);

// Index of the first option token named `name` (exact, case-sensitive), or -1. An empty name
// finds nothing.
int FindOption(std::wstring_view name, const OptionTokens& tokens);

// The value of the first option named `name`, or empty text when there is none.
std::wstring GetOptionValue(std::wstring_view name, const OptionTokens& tokens);

// True when `value` holds one of the reserved characters: backslash, double quote, "<", ">",
// "|", "&", "%", "^" or blank. Neither settings file allows them in names and pass phrases.
bool HasReservedChar(std::wstring_view value);

// The text by which a pass phrase is replaced in reports.
inline constexpr wchar_t kMaskedPassPhrase[] = L"********";

// `line` with the value of every AP and XP option (the pass phrases given in plain text)
// replaced by kMaskedPassPhrase; everything else, enciphered A and X values included, stays as
// written. Used before a rejected line is reported where others can read it.
std::wstring MaskPlainPassPhrases(std::wstring_view line);
