// Test and benchmark helper: SNMPv2c messages encoded by hand (BER), independent of the SNMP
// library that the manager uses, and the request id read back from a response.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <string>
#include <vector>

namespace test {

// One variable binding in the notation of Net-SNMP's snmptrap: type 'i' INTEGER, 's' OCTET
// STRING, 'o' OBJECT IDENTIFIER, 't' TimeTicks, 'a' IpAddress.
struct VarBind {
    std::string oid;
    char type = 's';
    std::string value;
};

namespace ber {

inline std::string Length(std::size_t length) {
    std::string out;
    if (length < 0x80) {
        out.push_back(static_cast<char>(length));
        return out;
    }
    std::string bytes;
    for (std::size_t rest = length; rest != 0; rest >>= 8) {
        bytes.insert(bytes.begin(), static_cast<char>(rest & 0xFF));
    }
    out.push_back(static_cast<char>(0x80 | bytes.size()));
    return out + bytes;
}

inline std::string Tlv(std::uint8_t tag, const std::string& content) {
    return std::string(1, static_cast<char>(tag)) + Length(content.size()) + content;
}

// Two's complement, shortest form.
inline std::string Integer(std::int64_t value, std::uint8_t tag = 0x02) {
    std::string bytes;
    while (true) {
        bytes.insert(bytes.begin(), static_cast<char>(value & 0xFF));
        const std::int64_t rest = value >> 8;
        const bool signBit = (bytes.front() & 0x80) != 0;
        if ((rest == 0 && !signBit) || (rest == -1 && signBit)) {
            break;
        }
        value = rest;
    }
    return Tlv(tag, bytes);
}

// Unsigned application types (TimeTicks 0x43): a leading zero keeps the value positive.
inline std::string Unsigned(std::uint32_t value, std::uint8_t tag) {
    return Integer(static_cast<std::int64_t>(value), tag);
}

inline std::string ObjectId(const std::string& dotted) {
    std::vector<std::uint32_t> arcs;
    std::size_t pos = dotted.front() == '.' ? 1 : 0;
    while (pos <= dotted.size()) {
        std::size_t end = dotted.find('.', pos);
        if (end == std::string::npos) {
            end = dotted.size();
        }
        arcs.push_back(static_cast<std::uint32_t>(std::stoul(dotted.substr(pos, end - pos))));
        pos = end + 1;
    }
    std::string content;
    auto base128 = [&content](std::uint32_t arc) {
        std::string bytes(1, static_cast<char>(arc & 0x7F));
        for (arc >>= 7; arc != 0; arc >>= 7) {
            bytes.insert(bytes.begin(), static_cast<char>(0x80 | (arc & 0x7F)));
        }
        content += bytes;
    };
    base128(arcs.at(0) * 40 + arcs.at(1));
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        base128(arcs[i]);
    }
    return Tlv(0x06, content);
}

inline std::string Value(const VarBind& bind) {
    switch (bind.type) {
        case 'i':
            return Integer(std::stoll(bind.value));
        case 'o':
            return ObjectId(bind.value);
        case 't':
            return Unsigned(static_cast<std::uint32_t>(std::stoul(bind.value)), 0x43);
        case 'a': {
            in_addr address{};
            inet_pton(AF_INET, bind.value.c_str(), &address);
            return Tlv(0x40, std::string(reinterpret_cast<const char*>(&address), 4));
        }
        default:
            return Tlv(0x04, bind.value);
    }
}

// Reads one TLV at `pos`; false when the data ends early.
inline bool Read(const std::string& data, std::size_t& pos, std::uint8_t& tag,
                 std::string& content) {
    if (pos + 2 > data.size()) {
        return false;
    }
    tag = static_cast<std::uint8_t>(data[pos++]);
    std::size_t length = static_cast<std::uint8_t>(data[pos++]);
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || pos + count > data.size()) {
            return false;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | static_cast<std::uint8_t>(data[pos++]);
        }
    }
    if (pos + length > data.size()) {
        return false;
    }
    content = data.substr(pos, length);
    pos += length;
    return true;
}

}  // namespace ber

inline constexpr char kSysUpTimeOid[] = "1.3.6.1.2.1.1.3.0";
inline constexpr char kSnmpTrapOid[] = "1.3.6.1.6.3.1.1.4.1.0";
inline constexpr std::uint8_t kTrapPdu = 0xA7;
inline constexpr std::uint8_t kInformPdu = 0xA6;
inline constexpr std::uint8_t kResponsePdu = 0xA2;

// A notification PDU (trap, inform) with error status and index 0: sysUpTime.0 and
// snmpTrapOID.0, then `more`.
inline std::string EncodeNotificationPdu(std::uint8_t pduType, std::int32_t requestId,
                                         std::uint32_t upTime, const std::string& trapOid,
                                         const std::vector<VarBind>& more = {}) {
    std::vector<VarBind> binds = {{kSysUpTimeOid, 't', std::to_string(upTime)},
                                  {kSnmpTrapOid, 'o', trapOid}};
    binds.insert(binds.end(), more.begin(), more.end());
    std::string list;
    for (const VarBind& bind : binds) {
        list += ber::Tlv(0x30, ber::ObjectId(bind.oid) + ber::Value(bind));
    }
    return ber::Tlv(pduType, ber::Integer(requestId) + ber::Integer(0) + ber::Integer(0) +
                                 ber::Tlv(0x30, list));
}

// A community-based message around `pdu`: version 0 is SNMPv1, 1 SNMPv2c; any other number makes
// a message of a version that does not exist.
inline std::string EncodeCommunityMessage(std::int64_t version, const std::string& community,
                                          const std::string& pdu) {
    return ber::Tlv(0x30, ber::Integer(version) + ber::Tlv(0x04, community) + pdu);
}

// An SNMPv2c message: sysUpTime.0 and snmpTrapOID.0, then `more`.
inline std::string EncodeV2cNotification(std::uint8_t pduType, const std::string& community,
                                         std::int32_t requestId, std::uint32_t upTime,
                                         const std::string& trapOid,
                                         const std::vector<VarBind>& more = {}) {
    return EncodeCommunityMessage(1, community,
                                  EncodeNotificationPdu(pduType, requestId, upTime, trapOid, more));
}

// The request id of an SNMPv2c response, or -1 when `message` is not one.
inline std::int64_t ResponseRequestId(const std::string& message) {
    std::size_t pos = 0;
    std::uint8_t tag = 0;
    std::string content;
    if (!ber::Read(message, pos, tag, content) || tag != 0x30) {
        return -1;
    }
    std::size_t inner = 0;
    std::string field;
    if (!ber::Read(content, inner, tag, field) || tag != 0x02 ||  // version
        !ber::Read(content, inner, tag, field) || tag != 0x04 ||  // community
        !ber::Read(content, inner, tag, field) || tag != kResponsePdu) {
        return -1;
    }
    std::size_t pduPos = 0;
    std::string id;
    if (!ber::Read(field, pduPos, tag, id) || tag != 0x02 || id.empty() || id.size() > 4) {
        return -1;
    }
    std::int64_t value = static_cast<std::int8_t>(id[0]);
    for (std::size_t i = 1; i < id.size(); ++i) {
        value = value * 256 + static_cast<std::uint8_t>(id[i]);
    }
    return value;
}

}  // namespace test
