#include "platform/posix/LogArchives.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <system_error>
#include <utility>

#include "platform/posix/SysRoot.h"

namespace platform::posix {
namespace {

constexpr std::size_t kNumberWidth = 10;  // zero-padded, so that `ls` lists them in order too
constexpr std::size_t kMaxDigits = 19;    // every such number fits 64 bits

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "20261208T131501.123456Z": the time of a move as the earlier scheme named it.
bool IsMoveTime(std::string_view text) {
    return text.size() == 23 && AllDigits(text.substr(0, 8)) && text[8] == 'T' &&
           AllDigits(text.substr(9, 6)) && text[15] == '.' && AllDigits(text.substr(16, 6)) &&
           text[22] == 'Z';
}

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
    std::uint64_t number = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

// The number the sequence file holds, 0 when it holds none.
std::uint64_t ReadSequence(int fd) {
    if (fd < 0) {
        return 0;
    }
    char text[32] = {};
    ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    std::string_view digits(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    if (!digits.empty() && digits.back() == '\n') {
        digits.remove_suffix(1);
    }
    if (digits.empty() || digits.size() > kMaxDigits || !AllDigits(digits)) {
        return 0;
    }
    return ParseNumber(digits).value_or(0);
}

void WriteSequence(int fd, std::uint64_t number) {
    if (fd < 0) {
        return;
    }
    const std::string text = std::to_string(number) + "\n";
    if (::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
        [[maybe_unused]] int ignored = ::ftruncate(fd, static_cast<off_t>(text.size()));
    }
}

std::uint64_t HighestNumber(const std::vector<LogArchive>& archives) {
    return archives.empty() ? 0 : archives.back().key.number;
}

}  // namespace

LogArchives::LogArchives(std::filesystem::path log)
    : m_folder(log.parent_path()),
      m_prefix(log.stem().string() + "-"),
      m_suffix(log.extension().string()),
      m_log(std::move(log)) {
    m_sequence = m_folder / (m_log.stem().string() + ".seq");
}

std::optional<ArchiveKey> LogArchives::KeyOf(std::string_view fileName) const {
    if (fileName.size() <= m_prefix.size() + m_suffix.size() || !fileName.starts_with(m_prefix) ||
        !fileName.ends_with(m_suffix)) {
        return std::nullopt;
    }
    std::string_view middle =
        fileName.substr(m_prefix.size(), fileName.size() - m_prefix.size() - m_suffix.size());
    if (middle.size() <= kMaxDigits && AllDigits(middle)) {
        std::uint64_t number = ParseNumber(middle).value_or(0);
        if (number == 0) {
            return std::nullopt;  // never made: the moves count from 1
        }
        return ArchiveKey{number, std::string(fileName)};
    }
    if (IsMoveTime(middle)) {
        return ArchiveKey{0, std::string(fileName)};
    }
    return std::nullopt;
}

std::vector<LogArchive> LogArchives::List(std::uint64_t* lastNumber) const {
    if (lastNumber != nullptr) {
        // Read before the folder: a move in between then shows as an archive of its own.
        std::error_code ec;
        FileLock sequence = FileLock::Acquire(m_sequence, FileLock::Mode::kShared, false, true, ec);
        *lastNumber = ReadSequence(sequence.fd());
    }
    std::vector<LogArchive> archives;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder, ec)) {
        std::optional<ArchiveKey> key = KeyOf(entry.path().filename().native());
        std::error_code typeError;
        if (key && entry.is_regular_file(typeError)) {
            archives.push_back({entry.path(), std::move(*key)});
        }
    }
    std::sort(archives.begin(), archives.end(),
              [](const LogArchive& a, const LogArchive& b) { return a.key < b.key; });
    if (lastNumber != nullptr) {
        *lastNumber = std::max(*lastNumber, HighestNumber(archives));
    }
    return archives;
}

std::filesystem::path LogArchives::PathOf(std::uint64_t number) const {
    char digits[32] = {};
    std::snprintf(digits, sizeof digits, "%0*llu", static_cast<int>(kNumberWidth),
                  static_cast<unsigned long long>(number));
    return m_folder / (m_prefix + digits + m_suffix);
}

std::uint64_t LogArchives::MoveAside() const {
    // Without a sequence file (one that cannot be made), the numbers come from the names alone.
    const int made = ::open(m_sequence.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (made >= 0) {
        ::close(made);
    }
    std::error_code ec;
    FileLock sequence = FileLock::Acquire(m_sequence, FileLock::Mode::kExclusive, true, true, ec);
    std::uint64_t number = std::max(ReadSequence(sequence.fd()), HighestNumber(List()));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        ++number;
        const std::filesystem::path archive = PathOf(number);
        bool moved =
            ::renameat2(AT_FDCWD, m_log.c_str(), AT_FDCWD, archive.c_str(), RENAME_NOREPLACE) == 0;
        if (!moved && errno == EINVAL) {  // a file system without RENAME_NOREPLACE
            struct stat st {};
            moved =
                ::stat(archive.c_str(), &st) != 0 && ::rename(m_log.c_str(), archive.c_str()) == 0;
        }
        if (moved) {
            WriteSequence(sequence.fd(), number);
            return number;
        }
        if (errno != EEXIST && errno != EINVAL) {
            return 0;
        }
    }
    return 0;
}

void LogArchives::Prune(std::uint32_t keep, std::uint32_t retention, std::int64_t now) const {
    if (retention == kRetentionKeepAll) {
        return;
    }
    const std::vector<LogArchive> archives = List();
    if (archives.size() <= keep) {
        return;
    }
    // With a retention: the latest time each archive can have been changed, newest first.
    std::vector<std::int64_t> changed(retention > 0 ? archives.size() : 0);
    std::int64_t bound = now;
    for (std::size_t i = changed.size(); i-- > 0;) {
        struct stat st {};
        if (::stat(archives[i].path.c_str(), &st) == 0) {
            bound = std::min<std::int64_t>(bound, st.st_mtime);
        }
        changed[i] = bound;
    }
    for (std::size_t i = 0; i + keep < archives.size(); ++i) {
        if (retention > 0 && now - changed[i] < static_cast<std::int64_t>(retention)) {
            break;  // this and every newer archive are still within the retention
        }
        ::unlink(archives[i].path.c_str());
    }
}

}  // namespace platform::posix
