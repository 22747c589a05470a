// POSIX only: a file read as it grows, for readers that follow a log across its moves. It knows
// whether a path still names it (device and inode), so that a reader can finish a file that was
// moved aside and then take the new file at the path from its start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace platform::posix {

class FollowedFile {
  public:
    FollowedFile() = default;
    FollowedFile(FollowedFile&& other) noexcept;
    FollowedFile& operator=(FollowedFile&& other) noexcept;
    FollowedFile(const FollowedFile&) = delete;
    FollowedFile& operator=(const FollowedFile&) = delete;
    ~FollowedFile();

    // Opens `path` for reading. On failure IsOpen() is false and `ec` holds the errno.
    static FollowedFile Open(const std::filesystem::path& path, std::error_code& ec);

    bool IsOpen() const { return m_fd >= 0; }

    // Reads up to `size` bytes from the current position: 0 at the end of what is there now.
    std::size_t Read(char* buffer, std::size_t size, std::error_code& ec);

    // Moves the read position to `offset`.
    void Seek(std::uint64_t offset);

    // The file's size now; 0 when it cannot be known.
    std::uint64_t Size() const;

    // True when `path` names this very file (not another file that took its name).
    bool IsNamedBy(const std::filesystem::path& path) const;

    // Waits until no writer holds the file's exclusive flock (the event log's writers write each
    // batch under it), so that a write begun before a move has ended. The shared lock is let go
    // again at once.
    void WaitForWriters() const;

    void Close();

  private:
    int m_fd = -1;
};

}  // namespace platform::posix
