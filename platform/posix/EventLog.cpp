// The Application log as a file of JSON lines under the system root, one object per event:
//   {"TimeGenerated":"2026-12-08T11:12:01+09:00","SourceName":"...","EventID":2000,
//    "EventIdentifier":2000,"EventType":4,"Category":0,"Strings":["..."],"Message":"...\r\n"}
// Every event is appended with one write under an exclusive flock, so writers in several threads
// and processes never interleave. A copy goes to the system journal as a record with fields of its
// own when the journal is there (JournalRecord), otherwise as one line to syslog when the machine
// has a syslog socket.
#include "platform/EventLog.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/MessageFormat.h"
#include "platform/Registry.h"
#include "platform/Resources.h"
#include "platform/Text.h"
#include "platform/posix/JournalRecord.h"
#include "platform/posix/LocalSocketCheck.h"
#include "platform/posix/LogArchives.h"
#include "platform/posix/SysRoot.h"

namespace platform {
namespace {

constexpr const char* kLogFolder = "eventlog";
constexpr const char* kApplicationLog = "Application.jsonl";
constexpr const char* kSyslogSocket = "/dev/log";
constexpr const wchar_t* kLogKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr std::uint64_t kDefaultMaxSize = 20u * 1024 * 1024;
constexpr std::uint64_t kSmallestMaxSize = 64u * 1024;  // the system's smallest log
constexpr std::uint32_t kDefaultArchives = 10;

// What a registration handle points to.
struct RegisteredSource {
    std::string name;  // UTF-8
    std::filesystem::path logFile;
};

RegisteredSource* SourceOf(std::uintptr_t handle) {
    return reinterpret_cast<RegisteredSource*>(handle);
}

// Appends `text` (UTF-8, as WideToUtf8 makes it) as a JSON string, escaped as nlohmann::json
// writes it: the quote, the backslash and every control character below U+0020, so that an event
// is one line; other characters as they are. Written out here because building a JSON document
// for every event was the largest single cost of a busy manager's event writes.
void AppendJsonString(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t plain = 0;  // start of the run not yet copied
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        out.append(text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default: {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out.append(escaped);
            }
        }
    }
    out.append(text.substr(plain));
    out.push_back('"');
}

// Local time with its offset from UTC: "2026-12-08T11:12:01+09:00".
std::string FormatLocalTime(std::time_t now) {
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) {
        ::gmtime_r(&now, &local);
        local.tm_gmtoff = 0;
    }
    char text[40] = {};
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    long offset = local.tm_gmtoff / 60;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) {
        offset = -offset;
    }
    std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", sign, offset / 60, offset % 60);
    return text;
}

// Local time with its offset from UTC: "2026-12-08T11:12:01+09:00". The text of the last second
// is kept per thread: events come many to a second.
std::string LocalTimestamp(std::time_t now) {
    thread_local std::time_t lastTime = -1;
    thread_local std::string lastText;
    thread_local std::string lastTz;
    const char* env = std::getenv("TZ");  // a test may change the zone between two events
    std::string_view tz = env != nullptr ? env : "";
    if (now == lastTime && tz == lastTz) {
        return lastText;
    }
    lastText = FormatLocalTime(now);
    lastTime = now;
    lastTz = tz;
    return lastText;
}

std::wstring JoinLines(const std::vector<std::wstring>& strings) {
    std::wstring text;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        if (i > 0) {
            text.append(L"\r\n");
        }
        text.append(strings[i]);
    }
    return text;
}

// The highest insert number (%1 .. %99) that `pattern` names; "%%" is a percent sign.
std::size_t HighestInsert(std::wstring_view pattern) {
    std::size_t highest = 0;
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != L'%') {
            continue;
        }
        std::size_t n = 0;
        std::size_t j = i + 1;
        while (j < pattern.size() && j < i + 3 && pattern[j] >= L'0' && pattern[j] <= L'9') {
            n = n * 10 + static_cast<std::size_t>(pattern[j] - L'0');
            ++j;
        }
        highest = std::max(highest, n);
        // Go on after the number, or after the character that follows the percent sign ("%%").
        i = j > i + 1 ? j - 1 : i + 1;
    }
    return highest;
}

// The text an event viewer shows: the message-table text in the process's language with the
// insertion strings put in. Inserts the event does not carry stay as written ("%2"), as the
// viewer leaves them; an identifier the table does not hold shows the strings one per line.
std::wstring EventMessage(std::uint32_t eventId, const std::vector<std::wstring>& strings) {
    std::optional<std::wstring> pattern = LoadMessageResource(eventId, ProcessMessageLanguage());
    if (!pattern) {
        return JoinLines(strings);
    }
    std::vector<MessageArg> args(strings.begin(), strings.end());
    for (std::size_t n = args.size() + 1; n <= HighestInsert(*pattern); ++n) {
        args.emplace_back(L"%" + std::to_wstring(n));
    }
    std::optional<std::wstring> text = FormatMessageText(*pattern, args);
    return text ? *text : JoinLines(strings);
}

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
                posix::LogArchives archives(path);
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

// Sends the event to syslog when the machine has one. The connection stays open; the ident is
// process-wide state of the C library, so the sends of all sources take turns and the ident is
// changed only when another source reports.
void SendToSyslog(const std::string& ident, std::uint16_t type, std::uint32_t eventId,
                  const std::string& message) {
    static posix::LocalSocketCheck syslogSocket(kSyslogSocket);
    if (!syslogSocket.Present()) {
        return;
    }
    // One line: the line ends of the message become blanks.
    std::string text = "EventID " + std::to_string(eventId & 0xFFFFu) + ": ";
    for (char c : message) {
        if (c == '\r' || c == '\n') {
            if (!text.empty() && text.back() != ' ') {
                text.push_back(' ');
            }
        } else {
            text.push_back(c);
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    static std::mutex mutex;
    static std::string currentIdent;
    static bool opened = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (!opened || currentIdent != ident) {
        currentIdent = ident;
        ::openlog(currentIdent.c_str(), LOG_PID | LOG_NDELAY, LOG_DAEMON);
        opened = true;
    }
    ::syslog(posix::JournalRecord::SyslogPriority(type), "%s", text.c_str());
}

// The copy of an event outside the log file: a journal record where the journal is there, or
// where it refuses the record, the syslog line.
void SendCopy(const std::string& source, std::uint16_t type, std::uint16_t category,
              std::uint32_t eventId, const std::vector<std::string>& strings,
              const std::vector<EventField>& fields, const std::string& message) {
    if (posix::JournalRecord::JournalPresent() &&
        posix::JournalRecord(source, type, category, eventId, strings, fields, message).Send()) {
        return;
    }
    SendToSyslog(source, type, eventId, message);
}

// The log file below the system root, its folder made on demand. Sources are registered for
// every event: the folder made last is remembered per thread, so that a registration costs no
// look at the file system (a folder removed later is made again by the writer).
std::filesystem::path LogFile(std::error_code& ec) {
    thread_local std::string root;
    thread_local std::filesystem::path file;
    std::filesystem::path current = posix::SystemRootPath();
    ec.clear();
    if (file.empty() || current.native() != root) {
        std::filesystem::path folder = posix::SystemFolder(kLogFolder, ec);
        if (ec) {
            return {};
        }
        file = folder / kApplicationLog;
        root = current.native();
    }
    return file;
}

// The UTF-8 name of a source, remembered per thread for the source registered last.
const std::string& SourceNameUtf8(std::wstring_view name) {
    thread_local std::wstring wide;
    thread_local std::string utf8;
    if (wide != name || utf8.empty()) {
        utf8 = WideToUtf8(name);
        wide = name;
    }
    return utf8;
}

}  // namespace

namespace {

// One event as reported: formatted and written later, by the batch's writer.
struct ReportedEvent {
    std::size_t source = 0;  // index into the batch's source names
    std::uint16_t type = 0;
    std::uint16_t category = 0;
    std::uint32_t eventId = 0;
    std::time_t time = 0;
    std::vector<std::wstring> strings;
    std::vector<EventField> fields;
};

// Events collected for one file, written with one write.
struct CollectedEvents {
    std::filesystem::path file;
    std::vector<std::string> sources;
    std::vector<ReportedEvent> events;

    void Clear() {
        sources.clear();
        events.clear();  // the vectors keep their capacity for the next collection
    }
};

// The line of one event in the log file, and its message text and strings in UTF-8 (for the
// copy outside the file).
std::string EventLine(const std::string& sourceName, const ReportedEvent& event,
                      std::string& message, std::vector<std::string>& strings) {
    message = WideToUtf8(EventMessage(event.eventId, event.strings));
    strings.clear();
    for (const std::wstring& text : event.strings) {
        strings.push_back(WideToUtf8(text));
    }
    std::string line;
    line.reserve(256 + 2 * message.size());
    line.append(R"({"TimeGenerated":")");
    line.append(LocalTimestamp(event.time));
    line.append(R"(","SourceName":)");
    AppendJsonString(line, sourceName);
    line.append(R"(,"EventID":)").append(std::to_string(event.eventId & 0xFFFFu));
    line.append(R"(,"EventIdentifier":)").append(std::to_string(event.eventId));
    line.append(R"(,"EventType":)").append(std::to_string(event.type));
    line.append(R"(,"Category":)").append(std::to_string(event.category));
    line.append(R"(,"Strings":[)");
    for (std::size_t i = 0; i < event.strings.size(); ++i) {
        if (i > 0) {
            line.push_back(',');
        }
        AppendJsonString(line, strings[i]);
    }
    line.append(R"(],"Message":)");
    AppendJsonString(line, message);
    line.append("}\n");
    return line;
}

// Writes the collected events with one write (or one per file where the log is moved aside in
// between), sends a copy of each to the journal or syslog; the number of events lost.
std::size_t WriteCollected(const CollectedEvents& collected) {
    if (collected.events.empty()) {
        return 0;
    }
    std::string lines;
    std::string message;
    std::vector<std::string> messages;
    std::vector<std::vector<std::string>> strings(collected.events.size());
    std::vector<std::size_t> ends;  // where each event's line ends in `lines`
    messages.reserve(collected.events.size());
    ends.reserve(collected.events.size());
    for (std::size_t i = 0; i < collected.events.size(); ++i) {
        const ReportedEvent& event = collected.events[i];
        lines.append(EventLine(collected.sources[event.source], event, message, strings[i]));
        messages.push_back(std::move(message));
        ends.push_back(lines.size());
    }
    const std::size_t written = CLogFileWriter::Instance().Append(collected.file, lines);
    for (std::size_t i = 0; i < collected.events.size(); ++i) {
        const ReportedEvent& event = collected.events[i];
        SendCopy(collected.sources[event.source], event.type, event.category, event.eventId,
                 strings[i], event.fields, messages[i]);
    }
    return static_cast<std::size_t>(ends.end() -
                                    std::upper_bound(ends.begin(), ends.end(), written));
}

// Writes the collected events and tells the batch what became of them.
void WriteAndTell(const CollectedEvents& collected, EventLogBatch::State& state);

// The process's writer of full batches: while it formats and writes one batch, the thread that
// collected it goes on collecting the next. Its thread is started on first use and then waits,
// costing nothing, for the next batch.
class CBatchWriter {
  public:
    static CBatchWriter& Instance() {
        static const bool registered = [] {
            ::pthread_atfork(nullptr, nullptr, &CBatchWriter::AfterForkInChild);
            return true;
        }();
        (void)registered;
        CBatchWriter* writer = s_writer.load(std::memory_order_acquire);
        if (writer == nullptr) {
            CBatchWriter* made = new CBatchWriter();  // lives as long as the process
            if (s_writer.compare_exchange_strong(writer, made, std::memory_order_acq_rel)) {
                writer = made;
            } else {
                delete made;
            }
        }
        return *writer;
    }

    // Takes the events of `collected` (leaving it empty) to write them on the writer's thread,
    // once the batch before them is written; what became of them is told to `state`, which must
    // stay valid until Wait returns. False, with nothing taken, when the thread cannot be
    // started: the caller writes them itself.
    bool Submit(CollectedEvents& collected, EventLogBatch::State* state) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_started) {
            try {
                m_thread = std::thread([this] { Run(); });
                m_thread.detach();
                m_started = true;
            } catch (const std::system_error&) {
                return false;
            }
        }
        m_idle.wait(lock, [this] { return !m_busy; });
        std::swap(m_work, collected);
        collected.Clear();
        m_state = state;
        m_busy = true;
        m_wake.notify_one();
        return true;
    }

    // Waits until the batch given last is written.
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait(lock, [this] { return !m_busy; });
    }

  private:
    // A child process has no writer thread (and the parent's may have held the lock): it starts
    // with a writer of its own. The parent's is left alone, not freed.
    static void AfterForkInChild() { s_writer.store(nullptr, std::memory_order_release); }

    static inline std::atomic<CBatchWriter*> s_writer{nullptr};

    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (true) {
            m_wake.wait(lock, [this] { return m_busy; });
            lock.unlock();
            WriteAndTell(m_work, *m_state);
            lock.lock();
            m_busy = false;
            m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::thread m_thread;
    bool m_started = false;
    bool m_busy = false;                      // m_work is being written
    CollectedEvents m_work;                   // the writer's own while m_busy
    EventLogBatch::State* m_state = nullptr;  // under m_mutex
};

}  // namespace

// What a batch has collected: a full batch goes to the batch writer, the rest is written on the
// batch's own thread when it is flushed or ends (after the writer has written what it took), so
// that the events of a thread reach the file in the order reported.
struct EventLogBatch::State {
    CollectedEvents collected;
    std::size_t bytes = 0;
    bool submitted = false;  // the batch writer may hold events of this batch
    std::atomic<std::size_t> lost{0};
    std::uint32_t eventId = 0;  // the events collected
    EventLogBatch::WriteObserver observer;

    ~State() {
        if (submitted) {
            CBatchWriter::Instance().Wait();
        }
    }

    std::size_t Write() {
        const std::size_t lostBefore = lost.load(std::memory_order_relaxed);
        if (submitted) {
            CBatchWriter::Instance().Wait();
            submitted = false;
        }
        WriteAndTell(collected, *this);
        collected.Clear();
        bytes = 0;
        return lost.load(std::memory_order_relaxed) - lostBefore;
    }

    void Collect(const RegisteredSource& source, std::uint16_t type, std::uint16_t category,
                 std::uint32_t eventId, const std::vector<std::wstring>& strings,
                 const std::vector<EventField>& fields) {
        if (!collected.events.empty() && collected.file != source.logFile) {
            Write();
        }
        if (collected.events.empty()) {
            collected.file = source.logFile;
        }
        std::size_t index = 0;
        while (index < collected.sources.size() && collected.sources[index] != source.name) {
            ++index;
        }
        if (index == collected.sources.size()) {
            collected.sources.push_back(source.name);
        }
        collected.events.push_back(
            {index, type, category, eventId, std::time(nullptr), strings, fields});
        for (const std::wstring& text : strings) {
            bytes += text.size();
        }
        if (collected.events.size() >= kMaxEvents || bytes >= kMaxBytes) {
            bytes = 0;
            if (CBatchWriter::Instance().Submit(collected, this)) {
                submitted = true;
            } else {
                Write();
            }
        }
    }
};

namespace {

thread_local EventLogBatch::State* t_batch = nullptr;  // the batch that collects this thread's

void WriteAndTell(const CollectedEvents& collected, EventLogBatch::State& state) {
    if (collected.events.empty()) {
        return;
    }
    std::size_t lost = 0;
    try {
        lost = WriteCollected(collected);
    } catch (const std::exception&) {  // out of memory: the events are lost
        lost = collected.events.size();
    }
    state.lost.fetch_add(lost, std::memory_order_relaxed);
    if (state.observer) {
        try {
            state.observer(collected.events.size() - lost, lost);
        } catch (...) {  // an observer has nothing to throw across this thread
        }
    }
}

}  // namespace

EventLogBatch::EventLogBatch(std::uint32_t eventId, WriteObserver observer)
    : m_state(std::make_unique<State>()) {
    m_state->eventId = eventId;
    m_state->observer = std::move(observer);
    if (t_batch == nullptr) {
        t_batch = m_state.get();
    }
}

EventLogBatch::~EventLogBatch() {
    if (t_batch == m_state.get()) {
        m_state->Write();
        t_batch = nullptr;
    }
}

std::size_t EventLogBatch::Flush() {
    return t_batch == m_state.get() ? m_state->Write() : 0;
}

std::size_t EventLogBatch::LostEvents() const {
    return m_state->lost.load(std::memory_order_relaxed);
}

bool EventLogBatch::IsCollecting(std::uint32_t eventId) {
    return t_batch != nullptr && t_batch->eventId == eventId;
}

std::filesystem::path ApplicationLogFile() {
    return posix::SystemRootPath() / kLogFolder / kApplicationLog;
}

EventLogSource::EventLogSource(EventLogSource&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = 0;
}

EventLogSource& EventLogSource::operator=(EventLogSource&& other) noexcept {
    if (this != &other) {
        Deregister();
        m_handle = other.m_handle;
        other.m_handle = 0;
    }
    return *this;
}

EventLogSource::~EventLogSource() {
    Deregister();
}

EventLogSource EventLogSource::Register(std::wstring_view sourceName, std::uint32_t* error) {
    std::uint32_t err = 0;
    EventLogSource source;
    try {
        std::error_code ec;
        std::filesystem::path file = LogFile(ec);
        if (ec) {
            err = static_cast<std::uint32_t>(ec.value());
        } else {
            auto* registered = new RegisteredSource{SourceNameUtf8(sourceName), std::move(file)};
            source.m_handle = reinterpret_cast<std::uintptr_t>(registered);
        }
    } catch (const std::bad_alloc&) {
        err = ENOMEM;
    }
    if (error != nullptr) {
        *error = err;
    }
    return source;
}

bool EventLogSource::Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                            const std::vector<std::wstring>& strings,
                            const std::vector<EventField>& fields) {
    RegisteredSource* source = SourceOf(m_handle);
    if (source == nullptr) {
        return false;
    }
    try {
        if (t_batch != nullptr) {
            if (t_batch->eventId == eventId) {
                t_batch->Collect(*source, type, category, eventId, strings, fields);
                return true;
            }
            t_batch->Write();  // what the thread reported before this event goes first
        }
        const ReportedEvent event{0, type, category, eventId, std::time(nullptr), strings, fields};
        std::string message;
        std::vector<std::string> utf8Strings;
        const std::string line = EventLine(source->name, event, message, utf8Strings);
        const bool written =
            CLogFileWriter::Instance().Append(source->logFile, line) == line.size();
        SendCopy(source->name, type, category, eventId, utf8Strings, fields, message);
        return written;
    } catch (const std::exception&) {
        return false;
    }
}

void EventLogSource::Deregister() {
    delete SourceOf(m_handle);
    m_handle = 0;
}

}  // namespace platform
