#include "platform/posix/LocalSocketCheck.h"

#include <sys/stat.h>

#include <chrono>

namespace platform::posix {

bool LocalSocketCheck::Present() {
    using Clock = std::chrono::steady_clock;
    const std::int64_t now = Clock::now().time_since_epoch().count();
    if (now >= m_nextLook.load(std::memory_order_acquire)) {
        struct stat st {};
        m_present = ::stat(m_path, &st) == 0 && S_ISSOCK(st.st_mode);
        m_nextLook =
            now + std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(10)).count();
    }
    return m_present;
}

void LocalSocketCheck::LookAgain() {
    m_nextLook.store(0, std::memory_order_release);
}

}  // namespace platform::posix
