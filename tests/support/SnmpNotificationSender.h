// Test helper: SNMPv2c notifications (SnmpMessages.h) sent over UDP. Sends traps as fast as a test
// needs, from a chosen source address (any 127.x.y.z of the loopback interface, or ::1), and sends
// informs and waits for their response, which tells that a receiver is reading its socket.
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

#include "tests/support/SnmpMessages.h"

namespace test {

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
