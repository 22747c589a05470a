// POSIX only: the writer of the log file, its size limit and its archives (see LogFileWriter.h).
#include "platform/posix/LogFileWriter.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Registry.h"
#include "platform/posix/LogArchives.h"

namespace platform::posix {
namespace {

constexpr const wchar_t* kLogKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr std::uint64_t kDefaultMaxSize = 20u * 1024 * 1024;
constexpr std::uint64_t kSmallestMaxSize = 64u * 1024;  // the system's smallest log
constexpr std::uint32_t kDefaultArchives = 10;

// The size limit of the log, from the log's registry key (as the system's event log keeps it).
struct LogLimits {
    std::uint64_t maxSize = kDefaultMaxSize;
    std::uint32_t retention = 0;
    std::uint32_t archives = kDefaultArchives;
};

std::optional<std::uint32_t> ReadDword(RegKey key, const wchar_t* name) {
    std::uint32_t type = 0;
    std::uint32_t value = 0;
    std::uint32_t size = sizeof value;
    if (QueryRegistryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(&value), &size) != 0 ||
        type != kRegDword || size != sizeof value) {
        return std::nullopt;
    }
    return value;
}

LogLimits ReadLogLimits() {
    LogLimits limits;
    RegKey key = 0;
    if (OpenRegistryKey(kHkeyLocalMachine, kLogKey, kKeyRead, &key) != 0) {
        return limits;
    }
    if (std::optional<std::uint32_t> maxSize = ReadDword(key, L"MaxSize")) {
        limits.maxSize = std::max<std::uint64_t>(*maxSize, kSmallestMaxSize);
    }
    limits.retention = ReadDword(key, L"Retention").value_or(0);
    limits.archives = ReadDword(key, L"MaxArchiveFiles").value_or(kDefaultArchives);
    CloseRegistryKey(key);
    return limits;
}

// The process's one writer of the log file. The file stays open between events; before each
// write, under the exclusive flock, the path is checked to still name the open file (device and
// inode), and a file that was moved aside or deleted is followed by a fresh one at the path.
// Events that threads hand in while a write is under way are written together by the next write:
// one write under one flock for the whole batch (split where the file reaches its size limit),
// and each caller returns once its own events are in the file (nothing is held back in memory
// after a call returns).
class CLogFileWriter {
  public:
    CLogFileWriter() { ::pthread_atfork(nullptr, nullptr, &CLogFileWriter::AfterForkInChild); }
    CLogFileWriter(const CLogFileWriter&) = delete;
    CLogFileWriter& operator=(const CLogFileWriter&) = delete;

    static CLogFileWriter& Instance() {
        static CLogFileWriter* writer = new CLogFileWriter();  // lives as long as the process
        return *writer;
    }

    // Appends `lines` (whole events, each ending in LF) to `path`; returns how much of it is in
    // the file once it returns: a prefix of whole events, all of `lines` unless a write failed.
    std::size_t Append(const std::filesystem::path& path, std::string_view lines) {
        Request request{&path, lines};
        std::unique_lock<std::mutex> lock(m_mutex);
        m_pending.push_back(&request);
        while (!request.done) {
            if (m_writing) {
                m_written.wait(lock);
                continue;
            }
            m_writing = true;
            m_batch.swap(m_pending);
            lock.unlock();
            try {
                WriteBatch();
            } catch (const std::exception&) {  // out of memory: the events not written fail
            }
            lock.lock();
            for (Request* done : m_batch) {
                done->done = true;
            }
            m_batch.clear();
            m_writing = false;
            m_written.notify_all();
        }
        return request.written;
    }

  private:
    struct Request {
        const std::filesystem::path* path;
        std::string_view lines;
        std::size_t written = 0;
        bool done = false;  // under m_mutex
    };

    // A child process shares the open file description, and with it the flock, with its parent:
    // it must open the file for itself.
    static void AfterForkInChild() {
        CLogFileWriter& writer = Instance();
        if (writer.m_fd >= 0) {
            ::close(writer.m_fd);
            writer.m_fd = -1;
        }
    }

    // Runs on one thread at a time (m_writing): writes m_batch, a run of events to the same file
    // at a time, and sets each request's result.
    void WriteBatch() {
        std::size_t i = 0;
        while (i < m_batch.size()) {
            const std::filesystem::path& path = *m_batch[i]->path;
            std::size_t end = i;
            m_buffer.clear();
            while (end < m_batch.size() && *m_batch[end]->path == path) {
                m_buffer.append(m_batch[end]->lines);
                ++end;
            }
            std::size_t written = LockedAppend(path, m_buffer);
            for (; i < end; ++i) {
                const std::size_t size = m_batch[i]->lines.size();
                m_batch[i]->written = std::min(written, size);
                written -= m_batch[i]->written;
            }
        }
    }

    void Close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    bool Open(const std::filesystem::path& path) {
        Close();
        m_fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0 && errno == ENOENT) {
            // The log's folder was removed while the program ran: make it again.
            std::error_code ec;
            std::filesystem::create_directories(path.parent_path(), ec);
            m_fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        }
        struct stat st {};
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
            Close();
            return false;
        }
        m_openPath = path;
        m_device = st.st_dev;
        m_inode = st.st_ino;
        m_limits = ReadLogLimits();  // once per file opened, not per event
        return true;
    }

    enum class Lock { kTaken, kStale, kFailed };

    // Takes the exclusive flock of the open file (opening `path` first when needed) and checks
    // that the path still names it: kStale, with the file closed, when it was moved aside or
    // deleted since it was opened. `size` is the file's size then.
    Lock TakeLock(const std::filesystem::path& path, std::uint64_t& size) {
        if ((m_fd < 0 || m_openPath != path) && !Open(path)) {
            return Lock::kFailed;
        }
        int rc;
        do {
            rc = ::flock(m_fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            Close();
            return Lock::kFailed;
        }
        struct stat named {};
        if (::stat(path.c_str(), &named) != 0 || named.st_dev != m_device ||
            named.st_ino != m_inode) {
            Close();
            return Lock::kStale;
        }
        size = static_cast<std::uint64_t>(named.st_size);
        return Lock::kTaken;
    }

    // How much of `lines` goes into a file of `size` bytes: the whole events that keep it within
    // MaxSize, or, in an empty file, one event larger than that alone.
    std::size_t FittingLines(std::string_view lines, std::uint64_t size) const {
        const std::uint64_t room = size < m_limits.maxSize ? m_limits.maxSize - size : 0;
        if (lines.size() <= room) {
            return lines.size();
        }
        const std::size_t end = room > 0 ? lines.rfind('\n', room - 1) : std::string_view::npos;
        if (end != std::string_view::npos) {
            return end + 1;
        }
        if (size > 0) {
            return 0;
        }
        const std::size_t first = lines.find('\n');
        return first == std::string_view::npos ? lines.size() : first + 1;
    }

    // Appends `data` (whole events) to the file that `path` names under its exclusive flock, one
    // write for as many events as the file takes below MaxSize. A full file is moved aside while
    // its lock is held, and the lock is kept until the fresh file's is taken, so that a writer
    // waiting for it finds the path naming the fresh file and writes after the rest of `data`.
    // A write that fails part way is cut off again, so the log never keeps part of an event.
    // Returns how much of `data` was written: a prefix of whole events.
    std::size_t LockedAppend(const std::filesystem::path& path, std::string_view data) {
        std::size_t done = 0;
        int full = -1;  // a file moved aside, its lock held until the next file's is taken
        for (int stale = 0; done < data.size() && stale < 100;) {
            std::uint64_t size = 0;
            const Lock lock = TakeLock(path, size);
            if (full >= 0) {
                ::close(full);
                full = -1;
            }
            if (lock == Lock::kFailed) {
                break;
            }
            if (lock == Lock::kStale) {
                ++stale;
                continue;
            }
            stale = 0;
            const std::size_t take = FittingLines(data.substr(done), size);
            if (take > 0) {
                if (!WriteAll(data.substr(done, take), static_cast<off_t>(size))) {
                    ::flock(m_fd, LOCK_UN);
                    break;
                }
                done += take;
                if (done == data.size()) {
                    ::flock(m_fd, LOCK_UN);
                    break;
                }
            }
            // Full: the next event does not fit.
            std::uint64_t moved = 0;
            try {
                LogArchives archives(path);
                moved = archives.MoveAside();
                if (moved != 0) {
                    archives.Prune(m_limits.archives, m_limits.retention,
                                   static_cast<std::int64_t>(std::time(nullptr)));
                }
            } catch (const std::exception&) {  // out of memory: the lock must go all the same
            }
            full = m_fd;
            m_fd = -1;
            if (moved == 0) {
                break;
            }
        }
        if (full >= 0) {
            ::close(full);
        }
        return done;
    }

    bool WriteAll(std::string_view data, off_t sizeBefore) {
        const char* p = data.data();
        std::size_t left = data.size();
        while (left > 0) {
            ssize_t n = ::write(m_fd, p, left);  // one write, unless the system cuts it short
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        if (left > 0 && left < data.size()) {
            [[maybe_unused]] int ignored = ::ftruncate(m_fd, sizeBefore);
        }
        return left == 0;
    }

    std::mutex m_mutex;
    std::condition_variable m_written;
    std::vector<Request*> m_pending;  // under m_mutex
    bool m_writing = false;           // under m_mutex
    // Used only by the thread that writes.
    std::vector<Request*> m_batch;
    std::string m_buffer;
    int m_fd = -1;
    std::filesystem::path m_openPath;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    LogLimits m_limits;
};

}  // namespace

std::size_t AppendToLogFile(const std::filesystem::path& path, std::string_view lines) {
    return CLogFileWriter::Instance().Append(path, lines);
}

}  // namespace platform::posix
