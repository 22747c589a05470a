// The shape of a trap text, which the trap renderer and the Get pass write and the dispatch reads:
// a header line "address<TAB><2 blanks>community or SNMPv3 user<TAB><2 blanks>V1|V2c|V3", with
// the authentication-failure mark after the version where an SNMPv3 trap failed its digest, then
// one line per variable binding, each after the same separator. Lines end with LF.
#pragma once

#include <string>
#include <string_view>

namespace traptext {

// Between the fields of the header line and before every binding line.
inline constexpr std::string_view kSeparator = "\t  ";
inline constexpr std::wstring_view kWideSeparator = L"\t  ";

// After the version of an SNMPv3 trap whose digest did not match.
inline constexpr std::wstring_view kAuthenticationFailureMark = L"\t  認証エラー";

inline constexpr std::wstring_view kVersion1 = L"V1";
inline constexpr std::wstring_view kVersion2c = L"V2c";
inline constexpr std::wstring_view kVersion3 = L"V3";

// "address<sep>name<sep>version" without a line end: the header line of the version word
// `version` ("V1", "V2c", "V3").
std::wstring HeaderLine(std::wstring_view address, std::wstring_view name,
                        std::wstring_view version);

struct Header {
    std::wstring address;
    std::wstring community;  // or the SNMPv3 user name
    std::wstring version;    // V1, V2c or V3 where readable
    bool readable = false;   // a header line of three fields with a known version
};

// The header of a trap text. The address is the first field and the version the last one
// (followed only by the authentication-failure mark, if any); the community is everything between
// them. Neither the address nor a version word holds a separator, so a community that holds
// separators, version words or the mark stays whole and cannot change what is read as the address
// or the version. (A community with a line feed, which would end the header line inside it, is
// never rendered.)
Header SplitHeader(std::wstring_view text);

// The address field of a trap text in code page 932: everything before the first TAB.
std::string_view AddressOf(std::string_view text);

}  // namespace traptext
