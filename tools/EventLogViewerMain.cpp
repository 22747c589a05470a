// vorma-eventlog: prints the Application event log that the programs write on this system.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ComputerName.h"
#include "platform/EventLog.h"
#include "platform/Service.h"
#include "platform/Text.h"
#include "platform/posix/LogArchives.h"
#include "tools/CountersView.h"
#include "tools/EventLogTail.h"
#include "tools/EventLogView.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

// Parses, filters and prints events; with a count, holds back the last N until Flush.
class CViewer {
  public:
    CViewer(const tools::ViewerOptions& options, std::string computer)
        : m_options(options), m_computer(std::move(computer)) {}

    // Takes one line of `file`; true when it was an event that passed the filters.
    bool Take(std::string_view text, const std::string& file, std::size_t lineNumber,
              bool holdBack) {
        if (text.empty()) {
            return false;
        }
        std::optional<tools::EventRecord> record = tools::ParseEventLine(text);
        if (!record) {
            std::cerr << "vorma-eventlog: " << file << ":" << lineNumber
                      << ": skipped a line that is not an event\n";
            return false;
        }
        if (!tools::MatchesOptions(*record, m_options)) {
            return false;
        }
        if (holdBack && m_options.count) {
            m_held.emplace_back(std::string(text), std::move(*record));
            if (m_held.size() > *m_options.count) {
                m_held.pop_front();
            }
        } else {
            Print(text, *record);
        }
        return true;
    }

    void Flush() {
        for (const auto& [text, record] : m_held) {
            Print(text, record);
        }
        m_held.clear();
        std::cout.flush();
    }

  private:
    void Print(std::string_view text, const tools::EventRecord& record) {
        switch (m_options.format) {
            case tools::OutputFormat::kJson:
                std::cout << tools::FormatEventJson(text);
                break;
            case tools::OutputFormat::kShort:
                std::cout << tools::FormatEventShort(record);
                break;
            case tools::OutputFormat::kText:
                std::cout << tools::FormatEventText(record, m_shown, m_computer);
                break;
        }
        ++m_shown;
    }

    const tools::ViewerOptions& m_options;
    std::string m_computer;
    std::size_t m_shown = 0;
    std::deque<std::pair<std::string, tools::EventRecord>> m_held;  // at most --count
};

// Prints the files newest event first, up to --count events. False when the log itself cannot
// be read.
bool PrintReversed(const std::vector<std::filesystem::path>& files, CViewer& viewer,
                   const tools::ViewerOptions& options) {
    std::size_t shown = 0;
    bool done = false;
    for (auto file = files.rbegin(); file != files.rend() && !done; ++file) {
        std::string name = file->string();
        std::size_t fromEnd = 0;
        bool opened = tools::ReadLinesBackward(*file, [&](std::string_view line) {
            ++fromEnd;
            if (viewer.Take(line, name + " (line " + std::to_string(fromEnd) + " from the end)", 0,
                            false)) {
                ++shown;
            }
            done = options.count && shown >= *options.count;
            return !done && g_stop == 0;
        });
        if (!opened && file == files.rbegin()) {
            std::cerr << "vorma-eventlog: cannot open " << name << "\n";
            return false;
        }
    }
    return true;
}

// Prints the manager's counters from its status file; with `follow` again each second (on a
// terminal the screen is redrawn; otherwise a table is printed when it changed). 1 when the
// status file cannot be read at first.
int ShowCounters(bool follow) {
    const std::filesystem::path file = platform::ServiceStatusFile(L"VORMASNMPManageService");
    const bool terminal = ::isatty(STDOUT_FILENO) != 0;
    std::string shown;
    bool first = true;
    while (g_stop == 0) {
        std::ifstream in(file, std::ios::binary);
        const nlohmann::ordered_json status =
            in ? nlohmann::ordered_json::parse(in, nullptr, false)
               : nlohmann::ordered_json(nlohmann::ordered_json::value_t::discarded);
        std::string table;
        if (status.is_object()) {
            table = tools::FormatCountersTable(status);
        } else if (first) {
            std::cerr << "vorma-eventlog: cannot read " << file.string() << "\n";
            return 1;
        } else {
            table = "vorma-eventlog: cannot read " + file.string() + "\n";
        }
        if (terminal && follow) {
            std::cout << "\033[H\033[2J" << table;
        } else if (table != shown) {
            std::cout << (first ? "" : "\n") << table;
        }
        shown = table;
        first = false;
        std::cout.flush();
        if (!follow || !std::cout) {
            break;
        }
        for (int i = 0; i < 20 && g_stop == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return std::cout ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string error;
    std::optional<tools::ViewerOptions> options =
        tools::ParseViewerOptions(args, error, static_cast<std::int64_t>(std::time(nullptr)));
    if (!options) {
        std::cerr << "vorma-eventlog: " << error << "\n" << tools::ViewerUsage();
        return 2;
    }
    if (options->help) {
        std::cout << tools::ViewerUsage();
        return 0;
    }
    if (options->counters) {
        std::signal(SIGINT, OnStopSignal);
        std::signal(SIGTERM, OnStopSignal);
        std::signal(SIGPIPE, SIG_IGN);
        return ShowCounters(options->follow);
    }
    std::filesystem::path log =
        options->file ? std::filesystem::path(*options->file) : platform::ApplicationLogFile();
    std::vector<std::filesystem::path> files = tools::LogFilesToRead(log, *options);
    CViewer viewer(*options, platform::WideToUtf8(platform::LocalComputerName()));
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGPIPE, SIG_IGN);

    if (options->reverse) {
        bool ok = PrintReversed(files, viewer, *options);
        std::cout.flush();
        return ok && std::cout ? 0 : 1;
    }

    // The archived files in the order they were moved, then the log itself: one tail reads them
    // all and goes on with --follow, so a move meanwhile is followed too.
    std::optional<platform::posix::ArchiveKey> from;
    if (files.size() > 1) {
        from = platform::posix::LogArchives(log).KeyOf(files.front().filename().native());
    }
    tools::CEventLogTail tail(log, from);
    auto take = [&](tools::CEventLogTail::Line&& line) {
        viewer.Take(line.text, tail.FilePath().string(), line.number, true);
    };
    auto gap = [&](const tools::CEventLogTail::Gap& lost) {
        std::cout.flush();
        std::cerr << "vorma-eventlog: " << tools::DescribeGap(lost, log) << "\n";
    };
    const std::string name = log.string();
    if (!options->follow) {
        if (!tail.ReadNewLines(take, gap)) {
            std::cerr << "vorma-eventlog: cannot open " << name << "\n";
            return 1;
        }
        if (std::optional<tools::CEventLogTail::Line> last = tail.TakeUnfinishedLine()) {
            take(std::move(*last));
        }
        viewer.Flush();
        return std::cout ? 0 : 1;
    }

    bool warnedMissing = false;
    bool first = true;
    auto follow = [&](tools::CEventLogTail::Line&& line) {
        viewer.Take(line.text, tail.FilePath().string(), line.number, first);
    };
    while (g_stop == 0) {
        if (tail.ReadNewLines(follow, gap)) {
            warnedMissing = false;
        } else if (!warnedMissing) {
            std::cerr << "vorma-eventlog: waiting for " << name << "\n";
            warnedMissing = true;
        }
        if (first) {
            viewer.Flush();  // the last --count events so far; from here on every new one
            first = false;
        }
        std::cout.flush();
        if (!std::cout) {
            return 1;
        }
        // The log is polled: a new event shows within a fraction of a second.
        for (int i = 0; i < 5 && g_stop == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return 0;
}
