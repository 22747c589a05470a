// The kernel's tables of UDP sockets of this network namespace, /proc/self/net/udp and udp6: the
// one reader of them, for the holders of a port (PortHolder) and the drops of a socket (Socket).
//
// A line reads "sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid
// timeout inode ref pointer drops", the local address being hex "ADDRESS:PORT"; the first line
// holds the column names.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace platform::posix {

struct UdpSocketEntry {
    std::uint16_t localPort = 0;
    std::uint64_t inode = 0;
    std::optional<std::uint64_t> drops;  // where the line has the column and it reads
};

// One line of a table, or nullopt for the heading and for a line that does not read as far as
// the inode.
std::optional<UdpSocketEntry> ParseUdpSocketLine(std::string_view line);

// The sockets of both tables, IPv4 first; what cannot be read is left out.
std::vector<UdpSocketEntry> ReadUdpSocketTables();

}  // namespace platform::posix
