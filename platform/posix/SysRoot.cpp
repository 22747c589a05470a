#include "platform/posix/SysRoot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix/UniqueFd.h"
#include "platform/posix/WriteAll.h"

namespace platform::posix {

std::filesystem::path SystemRootPath() {
    const char* env = std::getenv("VORMA_SYSROOT");
    if (env != nullptr && *env != '\0') {
        return std::filesystem::path(env);
    }
    return std::filesystem::path("/var/lib/vorma/sysroot");
}

std::filesystem::path SystemFolder(const std::filesystem::path& relative, std::error_code& ec) {
    std::filesystem::path folder = SystemRootPath() / relative;
    ec.clear();
    std::filesystem::create_directories(folder, ec);
    return folder;
}

FileLock::FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Unlock();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    Unlock();
}

FileLock FileLock::Acquire(const std::filesystem::path& path, Mode mode, bool create, bool wait,
                           std::error_code& ec) {
    ec.clear();
    int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
    UniqueFd fd(::open(path.c_str(), flags, 0666));
    if (!fd.IsValid() && errno == EACCES && mode == Mode::kShared) {
        fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    }
    if (!fd.IsValid()) {
        ec = std::error_code(errno, std::generic_category());
        return FileLock();
    }
    int op = (mode == Mode::kShared ? LOCK_SH : LOCK_EX) | (wait ? 0 : LOCK_NB);
    int rc;
    do {
        rc = ::flock(fd.Get(), op);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ec = std::error_code(errno, std::generic_category());
        return FileLock();
    }
    FileLock lock;
    lock.m_fd = fd.Release();
    return lock;
}

void FileLock::Unlock() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

std::error_code WriteFileAtomically(const std::filesystem::path& path, const std::string& data) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path tmp = path;
    tmp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.IsValid()) {
        return std::error_code(errno, std::generic_category());
    }
    if (std::error_code ec = WriteAll(fd.Get(), data)) {
        fd.Reset();
        ::unlink(tmp.c_str());
        return ec;
    }
    if (::fsync(fd.Get()) != 0 || !fd.Close()) {
        std::error_code ec(errno, std::generic_category());
        fd.Reset();
        ::unlink(tmp.c_str());
        return ec;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        std::error_code ec(errno, std::generic_category());
        ::unlink(tmp.c_str());
        return ec;
    }
    return {};
}

}  // namespace platform::posix
