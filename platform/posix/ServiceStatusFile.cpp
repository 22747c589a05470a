#include "platform/posix/ServiceStatusFile.h"

#include <unistd.h>

#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/posix/SysRoot.h"
#include "platform/posix/WriteAll.h"

namespace platform {
namespace {

using posix::WriteAll;

std::filesystem::path StatusFilePath(std::wstring_view name, std::error_code& ec) {
    return posix::SystemFolder("services", ec) / (WideToUtf8(name) + ".json");
}

// What the status file shows: the last status report and the last counters, so that each keeps
// the other when it is rewritten. The lock also orders the rewrites of the file.
struct StatusFileState {
    std::mutex mutex;
    nlohmann::ordered_json status;  // null until the first report
    nlohmann::ordered_json counters;
    std::filesystem::path metricsFolder;  // looked up at the first publishing
    bool metricsFolderKnown = false;
};

StatusFileState& StatusFile() {
    static StatusFileState state;
    return state;
}

// The status file's contents: the report, then the counters where there are any.
std::string StatusFileText(const StatusFileState& state) {
    nlohmann::ordered_json json = state.status;
    if (!state.counters.is_null()) {
        json["Counters"] = state.counters;
    }
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// The registry's MetricsDirectory of the service, or the default below the system root.
std::filesystem::path MetricsFolder(std::wstring_view name) {
    RegKey key = 0;
    if (OpenRegistryKey(kHkeyLocalMachine, posix::ServiceKeyPath(name) + L"\\Parameters", kKeyRead,
                        &key) == 0) {
        std::uint32_t type = 0;
        std::uint8_t data[4096];
        std::uint32_t size = sizeof data;
        const std::uint32_t rc =
            QueryRegistryValue(key, kMetricsDirectoryValue, &type, data, &size);
        CloseRegistryKey(key);
        if (rc == 0 && (type == kRegSz || type == kRegExpandSz) && size >= 2) {
            std::wstring folder = Utf16LeToWide(data, size);
            while (!folder.empty() && folder.back() == L'\0') {
                folder.pop_back();
            }
            if (!folder.empty()) {
                return std::filesystem::path(WideToUtf8(folder));
            }
        }
    }
    return posix::SystemRootPath() / "metrics";
}

const char* StateName(std::uint32_t state) {
    switch (state) {
        case kServiceStopped:
            return "STOPPED";
        case kServiceStartPending:
            return "START_PENDING";
        case kServiceStopPending:
            return "STOP_PENDING";
        case kServiceRunning:
            return "RUNNING";
        default:
            return "UNKNOWN";
    }
}

}  // namespace

bool posix::WriteServiceStatusReport(std::wstring_view name, const ServiceStatus& status) {
    const nlohmann::ordered_json json = {
        {"ServiceName", WideToUtf8(name)},
        {"CurrentState", status.currentState},
        {"State", StateName(status.currentState)},
        {"ControlsAccepted", status.controlsAccepted},
        {"CheckPoint", status.checkPoint},
        {"WaitHint", status.waitHint},
        {"Win32ExitCode", status.win32ExitCode},
        {"ProcessId", static_cast<std::int64_t>(::getpid())},
    };
    std::error_code ec;
    std::filesystem::path path = StatusFilePath(name, ec);
    if (ec) {
        return false;
    }
    const std::string line = json.dump() + "\n";
    StatusFileState& state = StatusFile();
    std::lock_guard<std::mutex> statusLock(state.mutex);
    state.status = json;
    // The history of the reports, one line each, as the service control manager's own log keeps
    // the state changes of a service on Windows.
    std::filesystem::path history = path;
    history.replace_extension(".history.jsonl");
    std::error_code historyError;
    posix::FileLock lock = posix::FileLock::Acquire(history, posix::FileLock::Mode::kExclusive,
                                                    true, true, historyError);
    if (lock.IsLocked()) {
        ::lseek(lock.fd(), 0, SEEK_END);
        (void)WriteAll(lock.fd(), line);  // the history is kept as far as it can be
    }
    return !posix::WriteFileAtomically(path, StatusFileText(state));
}

std::filesystem::path ServiceStatusFile(std::wstring_view serviceName) {
    return posix::SystemRootPath() / "services" / (WideToUtf8(serviceName) + ".json");
}

bool PublishServiceCounters(std::wstring_view serviceName, const std::string& countersJson,
                            const std::string& metricsText) {
    StatusFileState& state = StatusFile();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.counters = nlohmann::ordered_json::parse(countersJson, nullptr, false);
    if (state.counters.is_discarded()) {
        state.counters = nullptr;
    }
    bool written = false;
    std::error_code ec;
    if (!state.status.is_null()) {
        const std::filesystem::path path = StatusFilePath(serviceName, ec);
        written = !ec && !posix::WriteFileAtomically(path, StatusFileText(state));
    }
    if (!state.metricsFolderKnown) {
        state.metricsFolder = MetricsFolder(serviceName);
        state.metricsFolderKnown = true;
    }
    ec.clear();
    std::filesystem::create_directories(state.metricsFolder, ec);
    const std::filesystem::path metrics = state.metricsFolder / (WideToUtf8(serviceName) + ".prom");
    // Written beside it under another name and renamed: the collector reads only names that end
    // in ".prom", and always a whole file.
    if (!ec && !posix::WriteFileAtomically(metrics, metricsText)) {
        written = true;
    }
    return written;
}

}  // namespace platform
