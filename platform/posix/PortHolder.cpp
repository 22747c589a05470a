#include "platform/PortHolder.h"


#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "platform/Text.h"

namespace platform {
namespace {

// The inodes of the sockets in a /proc/net/udp-style table whose local port is `port`. A line
// reads "sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout
// inode ...", the local address being hex "ADDRESS:PORT".
void CollectSocketInodes(const char* table, std::uint16_t port, std::set<std::uint64_t>* inodes) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        std::uint64_t inode = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode)) {
            continue;
        }
        const std::size_t colon = local.rfind(':');
        unsigned localPort = 0;
        if (colon == std::string::npos ||
            std::from_chars(local.data() + colon + 1, local.data() + local.size(), localPort, 16)
                    .ec != std::errc() ||
            localPort != port || inode == 0) {
            continue;
        }
        inodes->insert(inode);
    }
}

bool HoldsAnyOf(const std::filesystem::path& fdFolder, const std::set<std::uint64_t>& inodes) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(fdFolder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code linkError;
        const std::string target = std::filesystem::read_symlink(it->path(), linkError).native();
        constexpr std::string_view kPrefix = "socket:[";
        if (linkError || target.size() <= kPrefix.size() + 1 || !target.starts_with(kPrefix)) {
            continue;
        }
        std::uint64_t inode = 0;
        const char* first = target.data() + kPrefix.size();
        if (std::from_chars(first, target.data() + target.size() - 1, inode).ec == std::errc() &&
            inodes.count(inode) != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<UdpPortHolder> FindUdpPortHolders(std::uint16_t port) {
    std::set<std::uint64_t> inodes;
    CollectSocketInodes("/proc/self/net/udp", port, &inodes);
    CollectSocketInodes("/proc/self/net/udp6", port, &inodes);
    std::vector<UdpPortHolder> holders;
    if (inodes.empty()) {
        return holders;
    }
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc", ec), last; !ec && it != last;
         it.increment(ec)) {
        const std::string name = it->path().filename().native();
        std::uint32_t pid = 0;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error != std::errc() || end != name.data() + name.size() ||
            !HoldsAnyOf(it->path() / "fd", inodes)) {
            continue;
        }
        std::string command;
        std::ifstream comm(it->path() / "comm");
        std::getline(comm, command);
        holders.push_back({pid, LocaleToWide(command)});
    }
    std::sort(holders.begin(), holders.end(), [](const UdpPortHolder& a, const UdpPortHolder& b) {
        return a.processId < b.processId;
    });
    return holders;
}

}  // namespace platform
