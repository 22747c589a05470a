#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/Text.h"
#include "platform/posix/SysRoot.h"

namespace platform {
namespace {

// "Global\NAME" lives in BaseNamedObjects/Global, "Local\NAME" and a bare name in
// BaseNamedObjects/Local. A name that would leave its folder is refused.
std::filesystem::path MutexPath(std::wstring_view name, std::uint32_t* error) {
    std::string folder = "Local";
    std::size_t slash = name.find(L'\\');
    if (slash != std::wstring_view::npos) {
        std::wstring_view ns = name.substr(0, slash);
        if (ns == L"Global") {
            folder = "Global";
        } else if (ns != L"Local") {
            *error = ENOENT;
            return {};
        }
        name.remove_prefix(slash + 1);
    }
    if (name.empty() || name == L"." || name == L".." ||
        name.find_first_of(L"/\\") != std::wstring_view::npos) {
        *error = EINVAL;
        return {};
    }
    std::error_code ec;
    std::filesystem::path dir =
        posix::SystemFolder(std::filesystem::path("BaseNamedObjects") / folder, ec);
    if (ec) {
        *error = static_cast<std::uint32_t>(ec.value());
        return {};
    }
    return dir / WideToUtf8(name);
}

}  // namespace

NamedMutex::NamedMutex(NamedMutex&& other) noexcept
    : m_handle(other.m_handle), m_owned(other.m_owned) {
    other.m_handle = 0;
    other.m_owned = false;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        m_owned = other.m_owned;
        other.m_handle = 0;
        other.m_owned = false;
    }
    return *this;
}

NamedMutex::~NamedMutex() {
    Close();
}

NamedMutex NamedMutex::OpenOrCreate(std::wstring_view name, std::uint32_t* error) {
    std::uint32_t err = 0;
    std::filesystem::path path = MutexPath(name, &err);
    NamedMutex mutex;
    if (err == 0) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::fchmod(fd, 0666);  // every user may open it, whatever the umask
            mutex.m_handle = fd + 1;
        } else {
            err = static_cast<std::uint32_t>(errno);
        }
    }
    if (error != nullptr) {
        *error = err;
    }
    return mutex;
}

NamedMutex::WaitResult NamedMutex::TryAcquire(std::uint32_t* error) {
    if (m_handle == 0) {
        if (error != nullptr) {
            *error = EBADF;
        }
        return WaitResult::kFailed;
    }
    if (m_owned) {
        return WaitResult::kAcquired;
    }
    int fd = static_cast<int>(m_handle - 1);
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_owned = true;
        return WaitResult::kAcquired;
    }
    if (errno == EWOULDBLOCK) {
        return WaitResult::kTimeout;
    }
    if (error != nullptr) {
        *error = static_cast<std::uint32_t>(errno);
    }
    return WaitResult::kFailed;
}

void NamedMutex::Release() {
    if (m_handle != 0 && m_owned) {
        ::flock(static_cast<int>(m_handle - 1), LOCK_UN);
        m_owned = false;
    }
}

void NamedMutex::Close() {
    Release();
    if (m_handle != 0) {
        ::close(static_cast<int>(m_handle - 1));
        m_handle = 0;
    }
}

}  // namespace platform
