// POSIX only: whether a local socket is at a path, looked at again at most every 10 s. The event
// log asks for every event whether it can send its copy (to the journal, to syslog); the answer
// must not cost a look at the file system each time.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform::posix {

class LocalSocketCheck {
  public:
    explicit constexpr LocalSocketCheck(const char* path) : m_path(path) {}
    LocalSocketCheck(const LocalSocketCheck&) = delete;
    LocalSocketCheck& operator=(const LocalSocketCheck&) = delete;

    // Whether a socket was at the path when it was last looked at.
    bool Present();

    // Makes the next Present look again (for a process that has just made or removed the
    // socket, as the tests do).
    void LookAgain();

  private:
    const char* m_path;
    std::atomic<bool> m_present{false};
    std::atomic<std::int64_t> m_nextLook{0};  // steady clock ticks
};

}  // namespace platform::posix
