// POSIX only: the folder that holds the emulated system state, and the file locks that guard it.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace platform::posix {

// $VORMA_SYSROOT, or /var/lib/vorma/sysroot when it is unset or empty. Read on every call, so a
// test may point it elsewhere before it touches the system state.
std::filesystem::path SystemRootPath();

// `relative` below the system root, with its folder created on demand.
std::filesystem::path SystemFolder(const std::filesystem::path& relative, std::error_code& ec);

// An flock held on an open file. Move-only; unlocks and closes on destruction.
class FileLock {
  public:
    enum class Mode { kShared, kExclusive };

    FileLock() = default;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Opens (creating with mode 0666 when `create`) and locks `path`, waiting for the lock unless
    // `wait` is false. On failure IsLocked() is false and `ec` holds the errno.
    static FileLock Acquire(const std::filesystem::path& path, Mode mode, bool create, bool wait,
                            std::error_code& ec);

    bool IsLocked() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void Unlock();

  private:
    int m_fd = -1;
};

// Writes `data` to `path` through a temporary file in the same folder and a rename, so readers
// see either the old or the new contents.
std::error_code WriteFileAtomically(const std::filesystem::path& path, const std::string& data);

}  // namespace platform::posix
