// A file descriptor owned by one object: closed on destruction. The POSIX twin of
// platform/win32/UniqueHandle.h.
#pragma once

#include <unistd.h>

namespace platform::posix {

// -1 means "no descriptor".
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }
    // Closes the descriptor and tells whether the close succeeded (a write-back error of a file
    // shows here); true when there was none.
    bool Close() {
        const int fd = Release();
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int m_fd = -1;
};

}  // namespace platform::posix
