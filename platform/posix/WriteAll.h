// Writing a whole buffer to a descriptor: the one loop of the platform layer that goes on after a
// write the system cut short or a signal interrupted.
#pragma once

#include <string_view>
#include <system_error>

namespace platform::posix {

// Writes every byte of `bytes` to `fd`, retrying after EINTR and after short writes. The error of
// the write that failed (what was written before it stays written), or no error.
std::error_code WriteAll(int fd, std::string_view bytes);

}  // namespace platform::posix
