#include "platform/PortHolder.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/Text.h"
#include "platform/posix/UdpSocketTable.h"

namespace platform {
namespace {

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
    for (const posix::UdpSocketEntry& entry : posix::ReadUdpSocketTables()) {
        if (entry.localPort == port && entry.inode != 0) {
            inodes.insert(entry.inode);
        }
    }
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
