// Who holds a local UDP port: for the operator's message when the manager cannot listen on it.
// Linux: the sockets of /proc/self/net/udp and udp6 (this network namespace) bound to the
// port on any address, matched by inode with the descriptors under /proc/<pid>/fd, as `ss -ulpn`
// finds them. A process whose descriptors this one may not read (another user's, without
// CAP_SYS_PTRACE) is not found. Windows: nothing is looked up; the service has no console.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct UdpPortHolder {
    std::uint32_t processId = 0;
    std::wstring name;  // the process's command name (Linux: /proc/<pid>/comm)
};

// The processes holding `port`, in process-number order, each once. Empty when none is found.
std::vector<UdpPortHolder> FindUdpPortHolders(std::uint16_t port);

// "snmptrapd (process 812)", several joined by ", "; empty when none is found.
std::wstring DescribeUdpPortHolders(std::uint16_t port);

}  // namespace platform
