#include "product/AgentAddress.h"

#include <cstring>
#include <string>

#include "platform/Text.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

bool ParseIpv4Text(std::string_view text, std::uint8_t out[4]) {
    std::uint8_t bytes[4];
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') {
                return false;
            }
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            if (digits > 0 && text[0] == '0') {
                return false;  // a leading zero
            }
            value = value * 10 + static_cast<unsigned>(text[digits] - '0');
            if (value > 255) {
                return false;
            }
            ++digits;
        }
        if (digits == 0) {
            return false;
        }
        bytes[part] = static_cast<std::uint8_t>(value);
        text.remove_prefix(digits);
    }
    if (!text.empty()) {
        return false;
    }
    std::memcpy(out, bytes, 4);
    return true;
}

bool ParseIpv6Text(std::string_view text, std::uint8_t out[16]) {
    std::uint8_t bytes[16] = {};
    std::size_t filled = 0;
    std::size_t gap = 16;  // where "::" stands; 16 when there is none
    std::size_t i = 0;
    if (text.starts_with("::")) {
        gap = 0;
        i = 2;
    } else if (text.starts_with(":")) {
        return false;
    }
    while (i < text.size()) {
        std::size_t end = text.find(':', i);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view group = text.substr(i, end - i);
        if (group.find('.') != std::string_view::npos) {
            // An IPv4 address as the last 32 bits.
            if (end != text.size() || filled + 4 > 16 || !ParseIpv4Text(group, bytes + filled)) {
                return false;
            }
            filled += 4;
            break;
        }
        if (group.empty() || group.size() > 4 || filled + 2 > 16) {
            return false;
        }
        unsigned value = 0;
        for (char c : group) {
            int digit = HexValue(c);
            if (digit < 0) {
                return false;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        bytes[filled++] = static_cast<std::uint8_t>(value >> 8);
        bytes[filled++] = static_cast<std::uint8_t>(value & 0xFF);
        if (end == text.size()) {
            break;
        }
        if (end + 1 < text.size() && text[end + 1] == ':') {
            if (gap != 16) {
                return false;  // a second "::"
            }
            gap = filled;
            i = end + 2;
        } else {
            i = end + 1;
            if (i == text.size()) {
                return false;  // a single ":" at the end
            }
        }
    }
    if (gap == 16) {
        if (filled != 16) {
            return false;
        }
    } else {
        // "::" stands for at least one zero group.
        if (filled > 14) {
            return false;
        }
        std::size_t tail = filled - gap;
        std::memmove(bytes + 16 - tail, bytes + gap, tail);
        std::memset(bytes + gap, 0, 16 - tail - gap);
    }
    std::memcpy(out, bytes, 16);
    return true;
}

bool ParseAgentAddress(std::wstring_view text, AgentAddress* out) {
    out->fill(0);
    if (text.find(L'\0') != std::wstring_view::npos) {
        return false;
    }
    std::string narrow = platform::WideToLocale(text);
    if (narrow.size() + 1 > kMaxAddressTextBytes) {
        return false;
    }
    std::string_view address(narrow);
    address = address.substr(0, address.find('%'));
    if (ParseIpv4Text(address, out->data())) {
        return true;
    }
    if (ParseIpv6Text(address, out->data())) {
        return true;
    }
    out->fill(0);
    return false;
}
