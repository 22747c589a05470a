// Writer of a family of dated log files (the filter log): one file per local calendar day named
// <base path>_YYYYMMDD.txt, one time-stamped line per entry, the oldest files deleted on the first
// entry of a day so that at most `filesToKeep` stay. Every writer of the family shares one write
// mutex, which is held for a whole write, rotation included. A writer belongs to one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/EventLogWriter.h"

class CLogWriter {
  public:
    // The dated files that the manager's filter log keeps (trap texts and Get results alike).
    static constexpr unsigned kFilterLogFilesKept = 5;

    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // An empty `basePath` turns the writer off. The folder of the base path must exist: the
    // writer does not create it. `writeMutex` must outlive the writer.
    CLogWriter(std::wstring basePath, std::mutex& writeMutex, unsigned filesToKeep);
    // The same with the time taken from `clock` instead of the system clock.
    CLogWriter(std::wstring basePath, std::mutex& writeMutex, unsigned filesToKeep, Clock clock);

    // Formats printf-style and writes the result as one line: every LF becomes the two characters
    // "\n" and then every CR the two characters "\r". "%s" takes a text, "%d" and "%u" a number,
    // "%%" is a percent sign.
    template <typename... Args>
    bool WriteFormat(std::wstring_view format, const Args&... args) {
        const FormatArg list[] = {FormatArg(ToFormatArg(args))..., FormatArg()};
        return WriteFormatted(format, list, sizeof...(Args));
    }

    // Writes one entry "[YYYY/MM/DD hh:mm:ss] text" to today's file. True when it was written or
    // the writer is off; false when it was lost (then see GetLastErrorText). Never throws. An old
    // file of the family that rotation cannot examine or delete is left in place and the entry
    // still written; each such file is reported once in the life of the process (event 6107).
    bool Write(const std::wstring& text);

    // Reports what rotation skipped through `events` from now on (the writer of the thread that
    // owns this log writer, so that the report follows the events it collected before it); null
    // to report each on its own. `events` must outlive its use here.
    void ReportThrough(platform::EventLogWriter* events) { m_events = events; }

    // The text of the last rotation failure followed by CR LF and the entry that it cost, or the
    // note that an old file could not be deleted; empty when nothing failed so far.
    std::wstring GetLastErrorText() const { return m_lastErrorText; }

  private:
    using FormatArg = std::variant<std::monostate, std::wstring, std::int64_t>;

    static FormatArg ToFormatArg(const std::wstring& text) { return text; }
    static FormatArg ToFormatArg(std::wstring_view text) { return std::wstring(text); }
    static FormatArg ToFormatArg(const wchar_t* text) {
        return std::wstring(text != nullptr ? text : L"");
    }
    template <typename Number>
    requires std::is_integral_v<Number>
    static FormatArg ToFormatArg(Number number) { return static_cast<std::int64_t>(number); }

    bool WriteFormatted(std::wstring_view format, const FormatArg* args, std::size_t count);
    // Write under the write mutex; `skipped` gets the messages of the entries rotation skipped.
    bool WriteLocked(const std::wstring& text, std::vector<std::wstring>& skipped);
    // Makes sure today's file may be written: removes the oldest files of the family when today's
    // file does not exist yet. An entry of the family that cannot be examined or deleted is kept
    // and its file-system message added to `skipped` (reported once per process by Write). False,
    // with the last-error text set, when the folder cannot be read.
    bool PrepareFile(const std::wstring& fileName, std::vector<std::wstring>& skipped);

    std::wstring m_basePath;
    std::mutex& m_writeMutex;
    std::wstring m_lastErrorText;
    platform::EventLogWriter* m_events = nullptr;
    unsigned m_filesToKeep;
    Clock m_clock;
};

// Last-error texts of the writer: an old file that was gone when it was to be deleted, and a
// failure that was no file-system error.
inline constexpr wchar_t kLogDeleteFailedText[] = L"ログファイルの削除に失敗しました。";
inline constexpr wchar_t kLogExceptionText[] = L"例外が発生しました。";
