// Agent addresses as 16 bytes: an IPv4 address in bytes 0 to 3 (network order, the rest zero), an
// IPv6 address in all 16; 16 zero bytes for text that does not parse.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using AgentAddress = std::array<std::uint8_t, 16>;

// The narrow form of an address text must fit in this many bytes with its terminator (the
// longest IPv6 text form); longer texts do not parse.
inline constexpr std::size_t kMaxAddressTextBytes = 46;

// Parses `text` as inet_pton does, first for IPv4 and then for IPv6, after cutting it at its
// first "%" (an IPv6 zone index). IPv4: exactly four decimal parts of at most 255, separated by
// single dots, no part of more than one digit beginning with 0. IPv6: the text form of RFC 4291
// section 2.2, groups of one to four hexadecimal digits separated by ":", at most one "::", and
// optionally an IPv4 address of the form above as the last 32 bits. The text is measured in the
// encoding of the process locale (the ANSI code page on Windows). False and `out` all zero when it
// does not parse.
bool ParseAgentAddress(std::wstring_view text, AgentAddress* out);

// The same rules on narrow text, without the length limit and the "%" cut.
bool ParseIpv4Text(std::string_view text, std::uint8_t out[4]);
bool ParseIpv6Text(std::string_view text, std::uint8_t out[16]);
