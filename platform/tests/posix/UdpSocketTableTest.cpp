#include "platform/posix/UdpSocketTable.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace {

using platform::posix::ParseUdpSocketLine;
using platform::posix::UdpSocketEntry;

struct LineCase {
    const char* line;
    std::optional<UdpSocketEntry> entry;
};

TEST(UdpSocketTableTest, ReadsPortInodeAndDropsOfALine) {
    const LineCase cases[] = {
        {"  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
         "timeout inode ref pointer drops",
         std::nullopt},
        {"  512: 00000000:00A2 00000000:0000 07 00000000:00000000 00:00000000 00000000     0"
         "        0 123456 2 0000000000000000 17",
         UdpSocketEntry{162, 123456, 17}},
        {" 1034: 00000000000000000000000001000000:2774 00000000000000000000000000000000:0000 07 "
         "00000000:00000000 00:00000000 00000000   106        0 98765 2 0000000000000000 0",
         UdpSocketEntry{0x2774, 98765, 0}},
        // Without the drops column, or with one that does not read.
        {"1: 0100007F:FFFF 00000000:0000 07 0:0 00:0 0 0 0 42", UdpSocketEntry{65535, 42, {}}},
        {"1: 0100007F:0035 00000000:0000 07 0:0 00:0 0 0 0 42 2 ffff x",
         UdpSocketEntry{53, 42, {}}},
        // Lines that do not read as far as the inode.
        {"1: 0100007F:0035 00000000:0000 07 0:0 00:0 0 0 0", std::nullopt},
        {"1: 0100007F 00000000:0000 07 0:0 00:0 0 0 0 42", std::nullopt},
        {"1: 0100007F:10000 00000000:0000 07 0:0 00:0 0 0 0 42", std::nullopt},
        {"1: 0100007F:00G5 00000000:0000 07 0:0 00:0 0 0 0 42", std::nullopt},
        {"1: 0100007F:0035 00000000:0000 07 0:0 00:0 0 0 0 -4", std::nullopt},
        {"", std::nullopt},
    };
    for (const LineCase& c : cases) {
        const std::optional<UdpSocketEntry> entry = ParseUdpSocketLine(c.line);
        ASSERT_EQ(entry.has_value(), c.entry.has_value()) << c.line;
        if (entry) {
            EXPECT_EQ(entry->localPort, c.entry->localPort) << c.line;
            EXPECT_EQ(entry->inode, c.entry->inode) << c.line;
            EXPECT_EQ(entry->drops, c.entry->drops) << c.line;
        }
    }
}

TEST(UdpSocketTableTest, TheTablesHoldASocketOfThisProcess) {
    const int fd = ::socket(AF_INET6, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    struct stat status {};
    ASSERT_EQ(::fstat(fd, &status), 0);
    bool found = false;
    for (const UdpSocketEntry& entry : platform::posix::ReadUdpSocketTables()) {
        if (entry.inode == status.st_ino) {
            found = true;
            EXPECT_EQ(entry.localPort, ntohs(address.sin6_port));
            EXPECT_EQ(entry.drops, 0u);
        }
    }
    ::close(fd);
    EXPECT_TRUE(found);
}

}  // namespace
