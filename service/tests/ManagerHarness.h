// Test support for the manager program VormaSnmpManager run as a process: a product installation
// in a private system root, the program started and stopped the way a service controller would,
// readiness told by an inform that the manager answers, and what the run left behind (events,
// filter log, status file and its history) read back. Runs of the manager belong in a
// test::RunIsolated child with a private network namespace, so that each test owns UDP port 162.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "platform/Text.h"
#include "product/Registry.h"
#include "product/RegistryRoot.h"
#include "tests/support/EventLogFile.h"
#include "tests/support/IsolatedChild.h"
#include "tests/support/SnmpNotificationSender.h"
#include "tests/support/TempSysRoot.h"

extern char** environ;

namespace managertest {

namespace fs = std::filesystem;
using nlohmann::json;

// The readiness probe: an inform of this community carrying the marker. Tests leave the
// community unlisted, so the manager drops it; where a listening wildcard admits it, its event or
// filter-log line is recognised by the marker and left out.
inline constexpr char kProbeCommunity[] = "vorma-probe";
inline constexpr char kProbeMarker[] = "vorma-readiness-probe";
inline constexpr char kProbeMarkerOid[] = "1.3.6.1.4.1.99999.0.1";

// Upper bounds that only keep a broken manager from hanging the suite; a healthy one is far
// inside them, so nothing is measured by them.
inline constexpr std::chrono::seconds kStartGuard{60};
inline constexpr std::chrono::seconds kEndGuard{60};

inline fs::path DepsDir() {
    const char* dir = std::getenv("VORMA_DEPS_DIR");
    return dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::path("/opt/vorma-deps");
}

inline fs::path NpmMibDir() {
    return DepsDir() / "node_modules" / "net-snmp" / "lib" / "mibs";
}

// Empty text when the MIB modules are there; otherwise why the tests cannot run.
inline std::string MissingPrerequisite() {
    std::error_code ec;
    if (!fs::is_directory(NpmMibDir(), ec)) {
        return "the npm package net-snmp is not installed under " + DepsDir().string() +
               " (run scripts/install-deps.sh or set VORMA_DEPS_DIR)";
    }
    return {};
}

// A product installation as the manager expects it, in a private system root: the registry's
// InstallDir, Environment/Config (the product server's SNMP manager section read in-process, as
// there is no MxHelper.ini), and Common/snmp with Config, Mibs (the standard MIB modules), logs
// and Tmp.
class CManagerInstallation {
  public:
    explicit CManagerInstallation(bool registerInstallDir = true)
        : m_dir(m_sysRoot.path() / "install") {
        for (const char* folder : {"Config", "Mibs", "logs", "Tmp"}) {
            fs::create_directories(SnmpDir() / folder);
        }
        fs::create_directories(ProductConfigDir());
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(NpmMibDir(), ec)) {
            if (entry.path().extension() == ".mib" && entry.path().filename() != "RFC-1215.mib") {
                fs::create_symlink(entry.path(), SnmpDir() / "Mibs" / entry.path().filename());
            }
        }
        if (registerInstallDir) {
            CRegistry reg;
            reg.Create(platform::kHkeyLocalMachine, CRegistryRoot::kProductKey);
            reg.SetExpandStringValue(L"InstallDir", platform::LocaleToWide(m_dir.string()));
        }
        // The event log at its largest size limit (4 GiB): the tests read the one file, and a
        // storm writes more than the default 20 MiB.
        platform::RegKey key = 0;
        bool created = false;
        if (platform::CreateRegistryKey(
                platform::kHkeyLocalMachine,
                L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
                platform::kKeyAllAccess, &key, &created) == 0) {
            const std::uint32_t maxSize = 0xFFFFFFFFu;
            platform::SetRegistryValue(key, L"MaxSize", platform::kRegDword,
                                       reinterpret_cast<const std::uint8_t*>(&maxSize),
                                       sizeof maxSize);
            platform::CloseRegistryKey(key);
        }
    }

    fs::path SysRoot() const { return m_sysRoot.path(); }
    fs::path Dir() const { return m_dir; }
    fs::path SnmpDir() const { return m_dir / "Common" / "snmp"; }
    fs::path LogsDir() const { return SnmpDir() / "logs"; }
    fs::path MibReport() const { return LogsDir() / "VormaSnmpManager.txt"; }
    fs::path ProductConfigDir() const { return m_dir / "Environment" / "Config"; }
    fs::path OutputFile() const { return m_sysRoot.path() / "manager.out"; }

    // A settings file of Common/snmp/Config (ASCII: the manager reads it through its locale).
    void WriteSettings(const std::string& name, const std::string& text) const {
        std::ofstream(SnmpDir() / "Config" / name, std::ios::binary) << text;
    }

    // The product server's "Environment\Config\SNMP_MANAGER" section: the agent list.
    void WriteAgents(const std::string& text) const {
        std::ofstream(ProductConfigDir() / "SNMP_MANAGER.ini", std::ios::binary) << text;
    }

    // MxHelper.ini naming a product server endpoint.
    void UseServer(const std::string& endpoint) const {
        std::ofstream(ProductConfigDir() / "MxHelper.ini", std::ios::binary)
            << "[Server]\nEndpoint=" << endpoint << "\n";
    }

    fs::path StatusFile() const {
        return m_sysRoot.path() / "services" / "VORMASNMPManageService.json";
    }
    fs::path HistoryFile() const {
        return m_sysRoot.path() / "services" / "VORMASNMPManageService.history.jsonl";
    }

  private:
    test::TempSysRoot m_sysRoot;
    fs::path m_dir;
};

// One agent entry of the SNMP manager section.
struct Agent {
    std::string listen;  // "TRUE" listens
    std::string dispName;
    std::string addr;
    std::string community;
};

inline std::string AgentSection(const std::vector<Agent>& agents) {
    std::ostringstream text;
    text << "NumberOfElements=" << agents.size() << "\n";
    for (std::size_t i = 0; i < agents.size(); ++i) {
        char number[24];
        std::snprintf(number, sizeof number, "%03zu", i + 1);
        text << "IsListen" << number << "=" << agents[i].listen << "\n"
             << "DispName" << number << "=" << agents[i].dispName << "\n"
             << "Addr" << number << "=" << agents[i].addr << "\n"
             << "CommunityName" << number << "=" << agents[i].community << "\n";
    }
    return text.str();
}

// Starts a program with its output in `outputFile`; the pid, or -1.
inline pid_t Spawn(const std::vector<std::string>& args, const fs::path& outputFile,
                   const std::map<std::string, std::string>& extraEnv = {}) {
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!extraEnv.contains(entry.substr(0, entry.find('=')))) {
            envText.push_back(entry);
        }
    }
    for (const auto& [name, value] : extraEnv) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    std::vector<std::string> argCopy = args;
    for (std::string& arg : argCopy) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : envText) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// The exit status of an ended process: its exit code, 128 + N after signal N.
inline int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Waits for `pid`; -1 when it has not ended within the guard (it is killed then).
inline int WaitForExit(pid_t pid, std::chrono::seconds guard = kEndGuard) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return DecodeStatus(status);
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Runs a program to its end: its exit status.
inline int RunProgram(const std::vector<std::string>& args, const fs::path& outputFile,
                      const std::map<std::string, std::string>& extraEnv = {}) {
    const pid_t pid = Spawn(args, outputFile, extraEnv);
    return pid < 0 ? -1 : WaitForExit(pid);
}

inline std::string ManagerProgram() {
    return VORMA_MANAGER_PROGRAM;
}

// The environment of a manager run: in the sanitizer build, the known one-off leak of Net-SNMP
// is suppressed (see netsnmp-lsan.supp), so that the exit status tells of the manager's own.
inline std::map<std::string, std::string> ManagerEnvironment() {
    const char* options = std::getenv("LSAN_OPTIONS");
    std::string lsan = options != nullptr ? options : "";
    if (!lsan.empty()) {
        lsan += ":";
    }
    lsan += "suppressions=" + std::string(VORMA_SERVICE_TEST_DIR) + "/netsnmp-lsan.supp";
    return {{"LSAN_OPTIONS", lsan}};
}

// The manager program started without a switch: the service in the foreground. Killed at
// destruction when it still runs.
class CManagerProcess {
  public:
    // `extraEnv` adds to or replaces variables of the environment (LANG, for a locale).
    // `launcher` runs the program (its arguments, the program's path appended).
    explicit CManagerProcess(const CManagerInstallation& installation,
                             const std::map<std::string, std::string>& extraEnv = {},
                             std::vector<std::string> launcher = {})
        : m_pid(Spawn(WithProgram(std::move(launcher)), installation.OutputFile(),
                      WithEnvironment(extraEnv))) {}
    ~CManagerProcess() {
        if (m_pid > 0 && m_exitStatus == kRunning) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    CManagerProcess(const CManagerProcess&) = delete;
    CManagerProcess& operator=(const CManagerProcess&) = delete;

    pid_t Pid() const { return m_pid; }

    // True once the process has ended (Wait then returns its exit status at once).
    bool HasEnded() {
        if (m_pid <= 0) {
            return true;
        }
        if (m_exitStatus == kRunning) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exitStatus = DecodeStatus(status);
            }
        }
        return m_exitStatus != kRunning;
    }

    // Waits until the manager answers an inform sent to `address`: its start-up is over and it
    // reads its socket of that family. False when it ended first (or never started).
    bool WaitReady(const std::string& address = "127.0.0.1") {
        test::CNotificationSender probe(address);
        if (!probe.IsOpen()) {
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + kStartGuard;
        while (std::chrono::steady_clock::now() < deadline && !HasEnded()) {
            if (probe.Inform(kProbeCommunity, "1.3.6.1.6.3.1.1.5.1",
                             {{kProbeMarkerOid, 's', kProbeMarker}},
                             std::chrono::milliseconds(200))) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Waits until the status file names this process (the service main has registered its
    // control handler, so the stop control is taken from here on).
    bool WaitForStatusFile(const CManagerInstallation& installation) {
        const auto deadline = std::chrono::steady_clock::now() + kStartGuard;
        while (std::chrono::steady_clock::now() < deadline && !HasEnded()) {
            std::ifstream in(installation.StatusFile());
            json status = json::parse(in, nullptr, false);
            if (status.is_object() && status.value("ProcessId", -1) == m_pid) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    // The stop control (SIGTERM), then the exit status.
    int Stop() {
        if (!HasEnded()) {
            ::kill(m_pid, SIGTERM);
        }
        return Wait();
    }

    // Waits for the end: the exit status, or -1 when it did not end within the guard.
    int Wait() {
        if (m_pid <= 0) {
            return -1;
        }
        if (m_exitStatus == kRunning) {
            m_exitStatus = WaitForExit(m_pid);
        }
        return m_exitStatus;
    }

  private:
    static std::vector<std::string> WithProgram(std::vector<std::string> launcher) {
        launcher.push_back(ManagerProgram());
        return launcher;
    }

    static std::map<std::string, std::string> WithEnvironment(
        const std::map<std::string, std::string>& extraEnv) {
        std::map<std::string, std::string> env = ManagerEnvironment();
        for (const auto& [name, value] : extraEnv) {
            env[name] = value;
        }
        return env;
    }

    static constexpr int kRunning = -1000;
    pid_t m_pid;
    int m_exitStatus = kRunning;
};

// The engine ID and the keys of the SNMPv3 users that the tests write into the SNMPv3 settings.
inline constexpr char kV3Engine[] = "8000000001020304";

// An SNMPv3 coldStart trap (authPriv, SHA and AES with the keys "authpass123" and "privpass123"
// unless others are given) sent by Net-SNMP's snmptrap from `source` to 127.0.0.1, sysName.0
// being `marker`. The result is snmptrap's exit status.
inline int SendV3Trap(const CManagerInstallation& installation, const std::string& source,
                      const std::string& user, const std::string& marker,
                      const std::string& authPass = "authpass123",
                      const std::string& privPass = "privpass123") {
    const fs::path peer = installation.SysRoot() / "peer";
    fs::create_directories(peer);
    return RunProgram({"/usr/bin/snmptrap",
                       "-v",
                       "3",
                       "-e",
                       std::string("0x") + kV3Engine,
                       "-u",
                       user,
                       "-l",
                       "authPriv",
                       "-a",
                       "SHA",
                       "-A",
                       authPass,
                       "-x",
                       "AES",
                       "-X",
                       privPass,
                       "--clientaddr=" + source,
                       "127.0.0.1:162",
                       "4711",
                       "1.3.6.1.6.3.1.1.5.1",
                       "1.3.6.1.2.1.1.5.0",
                       "s",
                       marker},
                      peer / "snmptrap.out",
                      {{"SNMPCONFPATH", peer.string()},
                       {"SNMP_PERSISTENT_DIR", peer.string()},
                       {"MIBS", ""},
                       {"MIBDIRS", peer.string()}});
}

// Makes sure that everything sent to the manager's socket of `address`'s family before this call
// has been read: the manager reads its socket in order, so once it has answered this inform, all
// earlier datagrams are in its trap queue, which the stop sequence drains.
inline bool Flush(const std::string& address = "127.0.0.1") {
    test::CNotificationSender probe(address);
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (probe.Inform(kProbeCommunity, "1.3.6.1.6.3.1.1.5.1",
                         {{kProbeMarkerOid, 's', kProbeMarker}}, std::chrono::milliseconds(500))) {
            return true;
        }
    }
    return false;
}

inline bool IsProbe(const json& event) {
    for (const auto& text : event.value("Strings", json::array())) {
        if (text.get<std::string>().find(kProbeMarker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The events of the run, oldest first, without those of readiness probes.
inline std::vector<json> ManagerEvents() {
    std::vector<json> events = test::ReadEventLog();
    events.erase(std::remove_if(events.begin(), events.end(), IsProbe), events.end());
    return events;
}

inline std::vector<int> ManagerEventIds() {
    return test::EventIds(ManagerEvents());
}

// The numbered marks ("tag#N", a STRING value of the trap) of the trap events (2000), in the
// order they were written; "?" for an event without one.
inline std::vector<std::string> WrittenMarks(const std::vector<json>& events) {
    static const std::regex mark("STRING: \"([A-Za-z0-9-]+#[0-9]+)\"");
    std::vector<std::string> marks;
    for (const json& event : events) {
        if (event.value("EventID", -1) != 2000) {
            continue;
        }
        const std::string text = event["Strings"].at(0);
        std::smatch found;
        marks.push_back(std::regex_search(text, found, mark) ? found[1].str() : "?");
    }
    return marks;
}

// The first insertion string of each event with the shown identifier `id`.
inline std::vector<std::string> EventTexts(const std::vector<json>& events, int id) {
    std::vector<std::string> texts;
    for (const json& event : events) {
        if (event.value("EventID", -1) == id) {
            texts.push_back(event["Strings"].empty() ? std::string()
                                                     : event["Strings"].at(0).get<std::string>());
        }
    }
    return texts;
}

// The lines of the filter log files without their line ends, oldest file first, without those
// of readiness probes.
inline std::vector<std::string> FilterLogLines(const CManagerInstallation& installation) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(installation.LogsDir(), ec)) {
        if (entry.path().filename().string().rfind("FilterLog_", 0) == 0) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> lines;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();  // lines end with CR LF
            }
            if (line.find(kProbeMarker) == std::string::npos) {
                lines.push_back(line);
            }
        }
    }
    return lines;
}

// The whole contents of a file, or empty text.
inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Waits until `condition` holds (checked every 10 ms); false when it did not within the guard.
inline bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kEndGuard;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The status file, or null when there is none.
inline json ReadStatus(const CManagerInstallation& installation) {
    std::ifstream in(installation.StatusFile());
    return in ? json::parse(in, nullptr, false) : json();
}

// Every status report, in order, from the history beside the status file.
inline std::vector<json> StatusReports(const CManagerInstallation& installation) {
    std::vector<json> reports;
    std::ifstream in(installation.HistoryFile());
    std::string line;
    while (std::getline(in, line)) {
        reports.push_back(json::parse(line, nullptr, false));
    }
    return reports;
}

// The states of every status report, in order.
inline std::vector<std::string> StatusHistory(const CManagerInstallation& installation) {
    std::vector<std::string> states;
    for (const json& report : StatusReports(installation)) {
        states.push_back(report.is_object() ? report.value("State", "?") : "unreadable");
    }
    return states;
}

// Counts the trap events (2000) that have been appended to the Application log so far.
class CTrapEventCounter {
  public:
    explicit CTrapEventCounter(fs::path file) : m_file(std::move(file)) {}

    // The count so far, reading only what was appended since the last call.

    int Count() {
        std::ifstream in(m_file, std::ios::binary);
        if (!in) {
            return m_count;
        }
        in.seekg(static_cast<std::streamoff>(m_offset));
        const std::string chunk((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        const std::size_t end = chunk.rfind('\n');
        if (end == std::string::npos) {
            return m_count;  // no complete line yet
        }
        for (std::size_t pos = 0; pos <= end;) {
            const std::size_t lineEnd = chunk.find('\n', pos);
            if (chunk.substr(pos, lineEnd - pos).find("\"EventID\":2000,") != std::string::npos) {
                ++m_count;
            }
            pos = lineEnd + 1;
        }
        m_offset += end + 1;
        return m_count;
    }

  private:
    fs::path m_file;
    std::size_t m_offset = 0;
    int m_count = 0;
};

// A figure of /proc/<pid>/status in kB (such as "VmRSS"), or -1 when it cannot be read.
inline long ProcessStatusKb(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::atol(line.c_str() + name.size() + 1);
        }
    }
    return -1;
}

// How many file descriptors the process has open, or -1 when they cannot be listed.
inline long OpenDescriptorCount(pid_t pid) {
    std::error_code ec;
    fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec);
    if (ec) {
        return -1;
    }
    long count = 0;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            return -1;
        }
        ++count;
    }
    return count;
}

// The descriptors that the process keeps open: the fewest of samples over 1.2 s, longer than the
// once-a-second rewrite of the status and metrics files, whose descriptors come and go (a slow
// build, such as a sanitizer's, can be caught with one of them open).
inline long SettledDescriptorCount(pid_t pid) {
    long fewest = -1;
    for (int i = 0; i < 12; ++i) {
        const long count = OpenDescriptorCount(pid);
        if (count >= 0 && (fewest < 0 || count < fewest)) {
            fewest = count;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return fewest;
}

// Runs `scenario` in a child process in a private network namespace and returns its JSON result,
// or {"skip": why} / {"failure": why}.
inline json RunScenario(const std::function<json()>& scenario) {
    json result;
    const std::string missing = MissingPrerequisite();
    if (!missing.empty()) {
        result["skip"] = missing;
        return result;
    }
    test::ChildResult child = test::RunIsolated(true, [&] { return scenario().dump(); });
    if (child.skipped) {
        result["skip"] = child.output;
    } else if (!child.completed) {
        result["failure"] = child.output;
    } else {
        result = json::parse(child.output);
    }
    return result;
}

}  // namespace managertest

// Runs a scenario (a callable returning json) in its own network namespace; skips the test when
// that is impossible and fails it when the child did not complete.
#define RUN_MANAGER_SCENARIO(result, ...)                                \
    const nlohmann::json result = managertest::RunScenario(__VA_ARGS__); \
    if (result.contains("skip")) {                                       \
        GTEST_SKIP() << result["skip"].get<std::string>();               \
    }                                                                    \
    ASSERT_FALSE(result.contains("failure")) << result["failure"].get<std::string>()
