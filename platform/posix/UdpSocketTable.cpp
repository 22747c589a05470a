#include "platform/posix/UdpSocketTable.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string>

namespace platform::posix {
namespace {

constexpr std::size_t kLocalAddress = 1;
constexpr std::size_t kInode = 9;
constexpr std::size_t kDrops = 12;

// The blank-separated fields of a line, up to the drops column.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (fields.size() <= kDrops) {
        pos = line.find_first_not_of(" \t", pos);
        if (pos == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t", pos), line.size());
        fields.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return fields;
}

template <typename T>
std::optional<T> Number(std::string_view text, int base) {
    T value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<UdpSocketEntry> ParseUdpSocketLine(std::string_view line) {
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.size() <= kInode) {
        return std::nullopt;
    }
    const std::string_view local = fields[kLocalAddress];
    const std::size_t colon = local.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto port = Number<std::uint16_t>(local.substr(colon + 1), 16);
    const auto inode = Number<std::uint64_t>(fields[kInode], 10);
    if (!port || !inode) {
        return std::nullopt;
    }
    UdpSocketEntry entry{.localPort = *port, .inode = *inode, .drops = std::nullopt};
    if (fields.size() > kDrops) {
        entry.drops = Number<std::uint64_t>(fields[kDrops], 10);
    }
    return entry;
}

std::vector<UdpSocketEntry> ReadUdpSocketTables() {
    std::vector<UdpSocketEntry> entries;
    for (const char* table : {"/proc/self/net/udp", "/proc/self/net/udp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the column names
        while (std::getline(in, line)) {
            if (const std::optional<UdpSocketEntry> entry = ParseUdpSocketLine(line)) {
                entries.push_back(*entry);
            }
        }
    }
    return entries;
}

}  // namespace platform::posix
