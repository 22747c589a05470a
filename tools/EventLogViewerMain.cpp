// vorma-eventlog: prints the Application event log that the programs write on this system.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ComputerName.h"
#include "platform/EventLog.h"
#include "platform/Text.h"
#include "tools/EventLogTail.h"
#include "tools/EventLogView.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

class CViewer {
  public:
    CViewer(const tools::ViewerOptions& options, std::string path, std::string computer)
        : m_options(options), m_path(std::move(path)), m_computer(std::move(computer)) {}

    void Print(const tools::CEventLogTail::Line& line) {
        if (line.text.empty()) {
            return;
        }
        std::optional<tools::EventRecord> record = tools::ParseEventLine(line.text);
        if (!record) {
            std::cerr << "vorma-eventlog: " << m_path << ":" << line.number
                      << ": skipped a line that is not an event\n";
            return;
        }
        if (!tools::MatchesOptions(*record, m_options)) {
            return;
        }
        if (m_options.json) {
            std::cout << line.text << '\n';
        } else {
            std::cout << tools::FormatEventText(*record, m_shown, m_computer);
        }
        ++m_shown;
    }

  private:
    const tools::ViewerOptions& m_options;
    std::string m_path;
    std::string m_computer;
    std::size_t m_shown = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string error;
    std::optional<tools::ViewerOptions> options = tools::ParseViewerOptions(args, error);
    if (!options) {
        std::cerr << "vorma-eventlog: " << error << "\n" << tools::ViewerUsage();
        return 2;
    }
    if (options->help) {
        std::cout << tools::ViewerUsage();
        return 0;
    }
    std::string path = options->file ? *options->file : platform::ApplicationLogFile().string();
    tools::CEventLogTail tail(path);
    CViewer viewer(*options, path, platform::WideToUtf8(platform::LocalComputerName()));
    std::vector<tools::CEventLogTail::Line> lines;

    if (!options->follow) {
        if (!tail.ReadNewLines(lines)) {
            std::cerr << "vorma-eventlog: cannot open " << path << "\n";
            return 1;
        }
        if (std::optional<tools::CEventLogTail::Line> last = tail.TakeUnfinishedLine()) {
            lines.push_back(std::move(*last));
        }
        for (const auto& line : lines) {
            viewer.Print(line);
        }
        std::cout.flush();
        return std::cout ? 0 : 1;
    }

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    bool warnedMissing = false;
    while (g_stop == 0) {
        lines.clear();
        if (tail.ReadNewLines(lines)) {
            warnedMissing = false;
            for (const auto& line : lines) {
                viewer.Print(line);
            }
            std::cout.flush();
        } else if (!warnedMissing) {
            std::cerr << "vorma-eventlog: waiting for " << path << "\n";
            warnedMissing = true;
        }
        // The log is polled: a new event shows within a fraction of a second.
        for (int i = 0; i < 5 && g_stop == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return 0;
}
