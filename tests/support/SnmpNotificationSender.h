// Test helper: SNMPv2c notifications encoded by hand (BER) and sent over UDP, independent of the
// SNMP library that the manager uses. Sends traps as fast as a test needs, from a chosen source
// address (any 127.x.y.z of the loopback interface, or ::1), and sends informs and waits for their
// response, which tells that a receiver is reading its socket.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
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

// An SNMPv2c message: sysUpTime.0 and snmpTrapOID.0, then `more`.
inline std::string EncodeV2cNotification(std::uint8_t pduType, const std::string& community,
                                         std::int32_t requestId, std::uint32_t upTime,
                                         const std::string& trapOid,
                                         const std::vector<VarBind>& more = {}) {
    std::vector<VarBind> binds = {{kSysUpTimeOid, 't', std::to_string(upTime)},
                                  {kSnmpTrapOid, 'o', trapOid}};
    binds.insert(binds.end(), more.begin(), more.end());
    std::string list;
    for (const VarBind& bind : binds) {
        list += ber::Tlv(0x30, ber::ObjectId(bind.oid) + ber::Value(bind));
    }
    const std::string pdu = ber::Tlv(pduType, ber::Integer(requestId) + ber::Integer(0) +
                                                  ber::Integer(0) + ber::Tlv(0x30, list));
    return ber::Tlv(0x30, ber::Integer(1) + ber::Tlv(0x04, community) + pdu);
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

// A UDP socket connected to a receiver (by default port 162 of `destination`), optionally bound to
// a source address first. Connected, so that a closed port shows as an error at once.
class CNotificationSender {
  public:
    explicit CNotificationSender(const std::string& destination, std::uint16_t port = 162,
                                 const std::string& source = "") {
        const bool ipv6 = destination.find(':') != std::string::npos;
        sockaddr_storage to{};
        socklen_t toLength = 0;
        if (!Fill(destination, port, ipv6, to, toLength)) {
            m_error = "bad destination " + destination;
            return;
        }
        m_fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) {
            m_error = std::string("socket: ") + std::strerror(errno);
            return;
        }
        if (!source.empty()) {
            sockaddr_storage from{};
            socklen_t fromLength = 0;
            if (!Fill(source, 0, ipv6, from, fromLength) ||
                ::bind(m_fd, reinterpret_cast<sockaddr*>(&from), fromLength) != 0) {
                m_error = "bind " + source + ": " + std::strerror(errno);
                Close();
                return;
            }
        }
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&to), toLength) != 0) {
            m_error = std::string("connect: ") + std::strerror(errno);
            Close();
        }
    }
    ~CNotificationSender() { Close(); }
    CNotificationSender(const CNotificationSender&) = delete;
    CNotificationSender& operator=(const CNotificationSender&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Error() const { return m_error; }

    // Sends one datagram. A refusal that an earlier datagram earned (no receiver yet) is cleared
    // and the datagram sent again once.
    bool Send(const std::string& datagram) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (::send(m_fd, datagram.data(), datagram.size(), 0) ==
                static_cast<ssize_t>(datagram.size())) {
                return true;
            }
            m_error = std::string("send: ") + std::strerror(errno);
            if (errno != ECONNREFUSED) {
                break;
            }
        }
        return false;
    }

    // Sends an SNMPv2c trap.
    bool SendTrap(const std::string& community, std::uint32_t upTime, const std::string& trapOid,
                  const std::vector<VarBind>& more = {}) {
        return Send(
            EncodeV2cNotification(kTrapPdu, community, ++m_requestId, upTime, trapOid, more));
    }

    // Sends an SNMPv2c inform with the request id `requestId` and does not wait for its response
    // (see TakeResponses).
    bool SendInform(std::int32_t requestId, const std::string& community, std::uint32_t upTime,
                    const std::string& trapOid, const std::vector<VarBind>& more = {}) {
        return Send(EncodeV2cNotification(kInformPdu, community, requestId, upTime, trapOid, more));
    }

    // The request ids of the responses that have arrived, without waiting.
    std::vector<std::int64_t> TakeResponses() {
        std::vector<std::int64_t> ids;
        char buffer[65536];
        while (true) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && (errno == EINTR || errno == ECONNREFUSED)) {
                continue;
            }
            if (n < 0) {
                return ids;
            }
            const std::int64_t id =
                ResponseRequestId(std::string(buffer, static_cast<std::size_t>(n)));
            if (id >= 0) {
                ids.push_back(id);
            }
        }
    }

    // Sends an SNMPv2c inform and waits up to `wait` for its response. True when it came.
    bool Inform(const std::string& community, const std::string& trapOid,
                const std::vector<VarBind>& more, std::chrono::milliseconds wait) {
        const std::int32_t requestId = ++m_requestId;
        if (!Send(EncodeV2cNotification(kInformPdu, community, requestId, 0, trapOid, more))) {
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                m_error = "no response";
                return false;
            }
            pollfd waitFor = {m_fd, POLLIN, 0};
            const int ready = ::poll(&waitFor, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                m_error = "no response";
                return false;
            }
            char buffer[65536];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n < 0) {
                m_error = std::string("recv: ") + std::strerror(errno);
                if (errno == ECONNREFUSED) {
                    return false;  // nobody listens yet
                }
                continue;
            }
            if (ResponseRequestId(std::string(buffer, static_cast<std::size_t>(n))) == requestId) {
                return true;
            }
        }
    }

  private:
    static bool Fill(const std::string& address, std::uint16_t port, bool ipv6,
                     sockaddr_storage& out, socklen_t& length) {
        if (ipv6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(port);
            length = sizeof(sockaddr_in6);
            return inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1;
        }
        auto* in4 = reinterpret_cast<sockaddr_in*>(&out);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
        return inet_pton(AF_INET, address.c_str(), &in4->sin_addr) == 1;
    }

    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    int m_fd = -1;
    std::int32_t m_requestId = 0;
    std::string m_error;
};

}  // namespace test
