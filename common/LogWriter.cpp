#include "common/LogWriter.h"

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <system_error>
#include <utility>

#include "platform/LocalTime.h"
#include "platform/Text.h"
#include "platform/TextFile.h"
#include "reporter/EventLogReporter.h"

namespace fs = std::filesystem;

namespace {

std::wstring FileDate(const platform::LocalTime& t) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%04d%02d%02d", t.year, t.month, t.day);
    return text;
}

std::wstring TimeStamp(const platform::LocalTime& t) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

void ReplaceAll(std::wstring& text, wchar_t from, std::wstring_view to) {
    std::size_t at = 0;
    while ((at = text.find(from, at)) != std::wstring::npos) {
        text.replace(at, 1, to);
        at += to.size();
    }
}

struct DatedFile {
    fs::path path;
    int date;
};

constexpr wchar_t kEntryKept[] = L"このファイルを残して書き込みを続けます。";

// Reports each entry of the log folder that rotation could not examine or delete once in the life
// of the process (rotation finds it again every day), as event 6107 with the file-system message.
// Called without the write mutex held; through `events` when the writer has one.
void ReportSkippedEntries(const std::vector<std::wstring>& messages,
                          platform::EventLogWriter* events) {
    static std::mutex mutex;
    static std::set<std::wstring> reported;
    for (const std::wstring& message : messages) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!reported.insert(message).second) {
                continue;
            }
        }
        const std::wstring text =
            FormatResourceMessage(IDS_FILTER_LOG_ERROR, {message + L"\r\n" + kEntryKept});
        if (events != nullptr) {
            events->Report(kEventError, 0, MSG_SETTINGS_ERROR, {text});
        } else {
            ReportToEventLog(MSG_SETTINGS_ERROR, kEventError, {text});
        }
    }
}

std::wstring ErrorMessage(const char* operation, const fs::path& path, const std::error_code& ec) {
    return platform::LocaleToWide(fs::filesystem_error(operation, path, ec).what());
}

}  // namespace

CLogWriter::CLogWriter(std::wstring basePath, std::mutex& writeMutex, unsigned filesToKeep)
    : CLogWriter(std::move(basePath), writeMutex, filesToKeep, &std::chrono::system_clock::now) {}

CLogWriter::CLogWriter(std::wstring basePath, std::mutex& writeMutex, unsigned filesToKeep,
                       Clock clock)
    : m_basePath(std::move(basePath)),
      m_writeMutex(writeMutex),
      m_filesToKeep(filesToKeep),
      m_clock(std::move(clock)) {}

bool CLogWriter::WriteFormatted(std::wstring_view format, const FormatArg* args,
                                std::size_t count) {
    std::wstring text;
    try {
        std::size_t next = 0;
        for (std::size_t i = 0; i < format.size(); ++i) {
            wchar_t c = format[i];
            if (c != L'%' || i + 1 >= format.size()) {
                text.push_back(c);
                continue;
            }
            wchar_t conversion = format[i + 1];
            if (conversion == L'%') {
                text.push_back(L'%');
                ++i;
                continue;
            }
            if ((conversion == L's' || conversion == L'd' || conversion == L'u') && next < count) {
                const FormatArg& arg = args[next++];
                if (const auto* s = std::get_if<std::wstring>(&arg)) {
                    text.append(*s);
                } else if (const auto* n = std::get_if<std::int64_t>(&arg)) {
                    text.append(std::to_wstring(*n));
                }
                ++i;
                continue;
            }
            text.push_back(c);  // an unknown or unfed conversion is written as it stands
        }
        // One entry is one line: LF first, then CR, so CR LF becomes the four characters \r\n.
        ReplaceAll(text, L'\n', L"\\n");
        ReplaceAll(text, L'\r', L"\\r");
    } catch (const std::exception&) {
        return false;
    }
    return Write(text);
}

bool CLogWriter::Write(const std::wstring& text) {
    if (m_basePath.empty()) {
        return true;
    }
    std::vector<std::wstring> skipped;
    bool written = WriteLocked(text, skipped);
    if (!skipped.empty()) {
        try {
            ReportSkippedEntries(skipped, m_events);
        } catch (const std::exception&) {
        }
    }
    return written;
}

bool CLogWriter::WriteLocked(const std::wstring& text, std::vector<std::wstring>& skipped) {
    try {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        // One reading of the clock gives both the file's date and the entry's time stamp.
        platform::LocalTime now = platform::ToLocalTime(m_clock());
        std::wstring fileName = m_basePath + L"_" + FileDate(now) + L".txt";
        if (!PrepareFile(fileName, skipped)) {
            m_lastErrorText += L"\r\n";
            m_lastErrorText += text;
            return false;
        }
        std::string line = platform::WideToLocale(L"[" + TimeStamp(now) + L"] " + text + L"\r\n");
        std::ofstream file(platform::NativePath(fileName),
                           std::ios::out | std::ios::app | std::ios::binary);
        if (!file) {
            return false;
        }
        file.write(line.data(), static_cast<std::streamsize>(line.size()));
        file.close();
        return !file.fail();
    } catch (const std::exception&) {
        return false;
    }
}

bool CLogWriter::PrepareFile(const std::wstring& fileName, std::vector<std::wstring>& skipped) {
    try {
        if (fs::exists(platform::NativePath(fileName))) {
            return true;
        }
        fs::path base = platform::NativePath(m_basePath);
        fs::path folder = base.parent_path();
        if (folder.empty()) {
            folder = fs::path(".");
        }
        // The base name goes into the pattern as it is; the dot before "txt" matches any
        // character, as it always has for these files.
        std::wregex pattern(L"^" + platform::WidePath(base.filename()) + L"_([0-9]{8}).txt$");

        // An entry whose name is the family's but that cannot be examined (a looping symbolic
        // link, an entry of a folder that cannot be searched) is skipped: it must not keep the
        // day's entries from being written.
        std::vector<DatedFile> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            std::wstring name = platform::WidePath(entry.path().filename());
            std::wsmatch match;
            if (!std::regex_match(name, match, pattern)) {
                continue;
            }
            std::error_code ec;
            const bool isFolder = entry.is_directory(ec);
            if (ec) {
                skipped.push_back(ErrorMessage("status", entry.path(), ec));
                continue;
            }
            if (!isFolder) {
                files.push_back({entry.path(), std::stoi(match[1].str())});
            }
        }
        if (files.size() < m_filesToKeep) {
            return true;
        }
        // The age of a file is the date in its name, never its time stamps.
        std::stable_sort(files.begin(), files.end(),
                         [](const DatedFile& a, const DatedFile& b) { return a.date < b.date; });
        std::size_t excess = std::min(files.size(), files.size() - m_filesToKeep + 1);
        for (std::size_t i = 0; i < excess; ++i) {
            std::error_code ec;
            if (fs::remove(files[i].path, ec)) {
                continue;
            }
            if (ec) {
                // Kept, and one file more than the family's count stays until it can go.
                skipped.push_back(ErrorMessage("remove", files[i].path, ec));
            } else {
                m_lastErrorText = kLogDeleteFailedText;
            }
        }
        return true;
    } catch (const fs::filesystem_error& error) {
        m_lastErrorText = platform::LocaleToWide(error.what());
    } catch (const std::exception&) {
        m_lastErrorText = kLogExceptionText;
    }
    return false;
}
