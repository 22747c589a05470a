#include "platform/posix/FollowedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::posix {

FollowedFile::FollowedFile(FollowedFile&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

FollowedFile& FollowedFile::operator=(FollowedFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

FollowedFile::~FollowedFile() {
    Close();
}

FollowedFile FollowedFile::Open(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
    FollowedFile file;
    file.m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.m_fd < 0) {
        ec = std::error_code(errno, std::generic_category());
    }
    return file;
}

std::size_t FollowedFile::Read(char* buffer, std::size_t size, std::error_code& ec) {
    ec.clear();
    while (true) {
        ssize_t n = ::read(m_fd, buffer, size);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            ec = std::error_code(errno, std::generic_category());
            return 0;
        }
    }
}

void FollowedFile::Seek(std::uint64_t offset) {
    ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET);
}

std::uint64_t FollowedFile::Size() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

bool FollowedFile::IsNamedBy(const std::filesystem::path& path) const {
    struct stat open {};
    struct stat named {};
    return m_fd >= 0 && ::fstat(m_fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void FollowedFile::WaitForWriters() const {
    if (m_fd < 0) {
        return;
    }
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_SH);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        ::flock(m_fd, LOCK_UN);
    }
}

void FollowedFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace platform::posix
