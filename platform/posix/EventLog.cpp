// The Application log as a file of JSON lines under the system root, one object per event:
//   {"TimeGenerated":"2026-12-08T11:12:01+09:00","SourceName":"...","EventID":2000,
//    "EventIdentifier":2000,"EventType":4,"Category":0,"Strings":["..."],"Message":"...\r\n"}
// Every event is appended with one write under an exclusive flock, so writers in several threads
// and processes never interleave, and a copy goes to syslog when the machine has one.
#include "platform/EventLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <exception>
#include <mutex>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/MessageFormat.h"
#include "platform/Resources.h"
#include "platform/Text.h"
#include "platform/posix/SysRoot.h"

namespace platform {
namespace {

constexpr const char* kLogFolder = "eventlog";
constexpr const char* kApplicationLog = "Application.jsonl";
constexpr const char* kSyslogSocket = "/dev/log";

// What a registration handle points to.
struct RegisteredSource {
    std::string name;  // UTF-8
    std::filesystem::path logFile;
};

RegisteredSource* SourceOf(std::uintptr_t handle) {
    return reinterpret_cast<RegisteredSource*>(handle);
}

// Local time with its offset from UTC: "2026-12-08T11:12:01+09:00".
std::string LocalTimestamp(std::time_t now) {
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

// The text an event viewer shows: the message-table text in the process's language with the
// insertion strings put in. Inserts the event does not carry stay as written ("%2"), as the
// viewer leaves them; an identifier the table does not hold shows the strings one per line.
std::wstring EventMessage(std::uint32_t eventId, const std::vector<std::wstring>& strings) {
    std::optional<std::wstring> pattern = LoadMessageResource(eventId, ProcessMessageLanguage());
    if (!pattern) {
        return JoinLines(strings);
    }
    std::vector<MessageArg> args(strings.begin(), strings.end());
    for (std::size_t n = args.size() + 1; n <= 99; ++n) {
        args.emplace_back(L"%" + std::to_wstring(n));
    }
    std::optional<std::wstring> text = FormatMessageText(*pattern, args);
    return text ? *text : JoinLines(strings);
}

// An open file descriptor, closed on destruction.
class UniqueFd {
  public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    int get() const { return m_fd; }

  private:
    int m_fd;
};

// Appends `line` to `path` under an exclusive flock. A write that fails part way is cut off again,
// so the log never keeps half a line.
bool AppendLine(const std::filesystem::path& path, const std::string& line) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        return false;
    }
    int rc;
    do {
        rc = ::flock(fd.get(), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return false;
    }
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0) {
        return false;
    }
    const char* data = line.data();
    std::size_t left = line.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd.get(), data, left);  // one write, unless the system cuts it short
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = false;
            break;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (!ok && left < line.size()) {
        [[maybe_unused]] int ignored = ::ftruncate(fd.get(), before.st_size);
    }
    ::flock(fd.get(), LOCK_UN);
    return ok;
}

int SyslogPriority(std::uint16_t type) {
    switch (type) {
        case kEventTypeError:
            return LOG_ERR;
        case kEventTypeWarning:
            return LOG_WARNING;
        default:
            return LOG_INFO;
    }
}

// Sends the event to syslog when a syslog socket exists. The ident is process-wide state of the
// C library, so the sends of all sources take turns.
void SendToSyslog(const std::string& ident, std::uint16_t type, std::uint32_t eventId,
                  const std::string& message) {
    struct stat st {};
    if (::stat(kSyslogSocket, &st) != 0 || !S_ISSOCK(st.st_mode)) {
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
    std::lock_guard<std::mutex> lock(mutex);
    currentIdent = ident;
    ::openlog(currentIdent.c_str(), LOG_PID, LOG_DAEMON);
    ::syslog(SyslogPriority(type), "%s", text.c_str());
    ::closelog();
}

}  // namespace

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
        std::filesystem::path folder = posix::SystemFolder(kLogFolder, ec);
        if (ec) {
            err = static_cast<std::uint32_t>(ec.value());
        } else {
            auto* registered =
                new RegisteredSource{WideToUtf8(sourceName), folder / kApplicationLog};
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
                            const std::vector<std::wstring>& strings) {
    RegisteredSource* source = SourceOf(m_handle);
    if (source == nullptr) {
        return false;
    }
    try {
        nlohmann::ordered_json event;
        event["TimeGenerated"] = LocalTimestamp(std::time(nullptr));
        event["SourceName"] = source->name;
        event["EventID"] = eventId & 0xFFFFu;
        event["EventIdentifier"] = eventId;
        event["EventType"] = type;
        event["Category"] = category;
        nlohmann::ordered_json texts = nlohmann::ordered_json::array();
        for (const std::wstring& s : strings) {
            texts.push_back(WideToUtf8(s));
        }
        event["Strings"] = std::move(texts);
        std::string message = WideToUtf8(EventMessage(eventId, strings));
        event["Message"] = message;
        // Text that is not UTF-8 is replaced rather than thrown on; JSON escapes every line end,
        // so one event is one line.
        std::string line =
            event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        line.push_back('\n');
        bool written = AppendLine(source->logFile, line);
        SendToSyslog(source->name, type, eventId, message);
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
