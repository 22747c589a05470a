// The Application log as a file of JSON lines under the system root, one object per event
// (EventLine.h): the registered source, and the write of one event at once. Every event is
// appended with one write under an exclusive flock (LogFileWriter.h), so writers in several threads
// and processes never interleave; a copy goes to the system journal or syslog (SystemLogCopy.h).
// A thread that writes a stream of events collects them in an EventLogWriter (EventLogWriter.cpp).
#include "platform/EventLog.h"

#include <cerrno>
#include <ctime>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/Text.h"
#include "platform/posix/EventLine.h"
#include "platform/posix/LogFileWriter.h"
#include "platform/posix/RegisteredSource.h"
#include "platform/posix/SysRoot.h"
#include "platform/posix/SystemLogCopy.h"

namespace platform {
namespace {

constexpr const char* kLogFolder = "eventlog";
constexpr const char* kApplicationLog = "Application.jsonl";

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
            auto* registered =
                new posix::RegisteredSource{SourceNameUtf8(sourceName), std::move(file)};
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
    posix::RegisteredSource* source = posix::RegisteredSource::Of(m_handle);
    if (source == nullptr) {
        return false;
    }
    try {
        const posix::ReportedEvent event{0,       type,  category, eventId, std::time(nullptr),
                                         strings, fields};
        std::string message;
        std::vector<std::string> utf8Strings;
        const std::string line = posix::EventLine(source->name, event, message, utf8Strings);
        const bool written = posix::AppendToLogFile(source->logFile, line) == line.size();
        posix::SendSystemLogCopy(source->name, type, category, eventId, utf8Strings, fields,
                                 message);
        return written;
    } catch (const std::exception&) {
        return false;
    }
}

void EventLogSource::Deregister() {
    delete posix::RegisteredSource::Of(m_handle);
    m_handle = 0;
}

}  // namespace platform
