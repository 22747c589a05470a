#include "platform/posix/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace platform::posix {

std::error_code WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::error_code(errno, std::generic_category());
        }
        if (n == 0) {
            return std::make_error_code(std::errc::io_error);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

}  // namespace platform::posix
