// Test support for the SNMP engine: a temporary installation folder with the test MIB set,
// independent SNMP peers run as child processes, and an engine that receives while they send.
// Used inside test::RunIsolated children (private network namespace, own port 162).
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Text.h"
#include "traps/SnmpApi.h"

namespace enginetest {

namespace fs = std::filesystem;

inline constexpr char kAppName[] = "VORMA_SNMPTRAP";
// The longest a test's receive round waits for a datagram: a round of the engine otherwise waits
// until one comes, and a test's loop must come back to look at its peers and its clock.
inline constexpr std::chrono::milliseconds kRoundWait{2};

inline fs::path DepsDir() {
    const char* dir = getenv("VORMA_DEPS_DIR");
    return dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::path("/opt/vorma-deps");
}

inline fs::path NpmMibDir() {
    return DepsDir() / "node_modules" / "net-snmp" / "lib" / "mibs";
}

inline fs::path TestDir() {
    return fs::path(VORMA_TRAPS_TEST_DIR);
}

// Empty text when the MIB modules and peers that the tests need are there; otherwise why not.
inline std::string MissingPrerequisite() {
    std::error_code ec;
    if (!fs::is_directory(NpmMibDir(), ec)) {
        return "the npm package net-snmp is not installed under " + DepsDir().string() +
               " (run scripts/install-deps.sh or set VORMA_DEPS_DIR)";
    }
    return {};
}

// snmp/ (Mibs, Config, Tmp, logs) and peer/ in a fresh temporary folder, removed at the end.
class CTestInstallation {
  public:
    CTestInstallation() {
        std::string pattern = (fs::temp_directory_path() / "vorma-engine-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        m_root = made != nullptr ? fs::path(made) : fs::path();
        for (const char* folder : {"Mibs", "Config", "Tmp", "logs"}) {
            fs::create_directories(SnmpDir() / folder);
        }
        fs::create_directories(PeerDir());
        // The npm package's modules except RFC-1215, Net-SNMP's own two, and the test module.
        for (const auto& entry : fs::directory_iterator(NpmMibDir())) {
            if (entry.path().extension() == ".mib" && entry.path().filename() != "RFC-1215.mib") {
                fs::create_symlink(entry.path(), SnmpDir() / "Mibs" / entry.path().filename());
            }
        }
        for (const char* name : {"NET-SNMP-MIB.txt", "NET-SNMP-TC.txt"}) {
            fs::create_symlink(fs::path("/usr/share/snmp/mibs") / name, SnmpDir() / "Mibs" / name);
        }
        fs::create_symlink(TestDir() / "mibs" / "VORMA-TEST-MIB.txt",
                           SnmpDir() / "Mibs" / "VORMA-TEST-MIB.txt");
    }
    ~CTestInstallation() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    CTestInstallation(const CTestInstallation&) = delete;
    CTestInstallation& operator=(const CTestInstallation&) = delete;

    fs::path SnmpDir() const { return m_root / "snmp"; }
    fs::path PeerDir() const { return m_root / "peer"; }
    fs::path MibReport() const { return SnmpDir() / "logs" / "VormaSnmpManager.txt"; }

    // A file of Net-SNMP's configuration path (Config), for example VORMA_SNMPTRAP.conf.
    void WriteConfig(const std::string& name, const std::string& text) const {
        std::ofstream(SnmpDir() / "Config" / name) << text;
    }

  private:
    fs::path m_root;
};

// One SNMP peer: a child process with its output in a file.
class CPeer {
  public:
    CPeer(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
          const fs::path& outputFile)
        : m_outputFile(outputFile) {
        m_pid = fork();
        if (m_pid == 0) {
            for (const auto& [name, value] : env) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            if (freopen(outputFile.c_str(), "w", stdout) == nullptr ||
                dup2(fileno(stdout), STDERR_FILENO) < 0) {
                _exit(126);
            }
            std::vector<char*> args;
            for (const std::string& arg : argv) {
                args.push_back(const_cast<char*>(arg.c_str()));
            }
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    ~CPeer() {
        if (m_pid > 0 && !m_finished) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    CPeer(const CPeer&) = delete;
    CPeer& operator=(const CPeer&) = delete;

    bool Finished() {
        if (!m_finished && m_pid > 0) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_finished = true;
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return m_finished || m_pid <= 0;
    }
    int ExitCode() const { return m_exitCode; }
    std::string Output() const {
        std::ifstream in(m_outputFile);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    pid_t m_pid = -1;
    bool m_finished = false;
    int m_exitCode = -1;
    fs::path m_outputFile;
};

// Peers of the three independent implementations.
class CPeers {
  public:
    explicit CPeers(const CTestInstallation& installation) : m_installation(installation) {}

    // Net-SNMP's command-line tools (snmptrap, snmpinform, snmpget), without MIB modules.
    CPeer* NetSnmp(const std::string& tool, const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/" + tool};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string dir = m_installation.PeerDir().string();
        return Start(
            argv,
            {{"SNMPCONFPATH", dir}, {"SNMP_PERSISTENT_DIR", dir}, {"MIBS", ""}, {"MIBDIRS", dir}});
    }
    // pysnmp through Debian's python3.
    CPeer* PySnmp(const std::string& script, const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/python3", (TestDir() / "peers" / script).string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return Start(argv, {});
    }
    // The npm net-snmp package through node.
    CPeer* NodeNetSnmp(const nlohmann::json& job) {
        return Start({NodePath(), (TestDir() / "peers" / "netsnmp_send.js").string(), job.dump()},
                     {{"NODE_PATH", (DepsDir() / "node_modules").string()}});
    }

    const std::vector<std::unique_ptr<CPeer>>& All() const { return m_peers; }

  private:
    static std::string NodePath() {
        for (const char* candidate : {"/usr/bin/node", "/usr/local/bin/node"}) {
            if (access(candidate, X_OK) == 0) {
                return candidate;
            }
        }
        return "/usr/bin/node";
    }

    CPeer* Start(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env) {
        const fs::path output =
            m_installation.PeerDir() / ("peer" + std::to_string(m_peers.size()) + ".out");
        m_peers.push_back(std::make_unique<CPeer>(argv, env, output));
        return m_peers.back().get();
    }

    const CTestInstallation& m_installation;
    std::vector<std::unique_ptr<CPeer>> m_peers;
};

// An SNMPv3 user as the SNMPv3 settings file describes one.
struct UsmUser {
    std::wstring engineId;
    std::wstring name;
    std::wstring authProtocol;
    std::wstring authPassword;
    std::wstring privProtocol;
    std::wstring privPassword;
};

// The engine as the scheduler drives it: set-up, MIBs, users, listeners.
class CEngineUnderTest {
  public:
    explicit CEngineUnderTest(const CTestInstallation& installation,
                              const std::vector<UsmUser>& users = {}) {
        m_api.SetupNetSnmp(kAppName, installation.SnmpDir(), installation.MibReport());
        m_api.LoadMibs(installation.MibReport());
        for (const UsmUser& user : users) {
            std::wstring auth;
            std::wstring priv;
            if (!user.authProtocol.empty()) {
                auth = user.authProtocol + L" " + user.authPassword;
                if (!user.privProtocol.empty()) {
                    priv = user.privProtocol + L" " + user.privPassword;
                }
            }
            m_usersCreated.push_back(m_api.CreateUsmUser(user.engineId, user.name, auth, priv));
        }
    }
    ~CEngineUnderTest() { m_api.ShutdownNetSnmp(kAppName); }

    CSnmpApi& Api() { return m_api; }
    const std::vector<bool>& UsersCreated() const { return m_usersCreated; }

    // Runs receive rounds until `peers` have ended and `expected` texts have been taken from the
    // queue (or a generous safety limit has passed), then a few more rounds so that unexpected
    // extra texts show. Returns the texts in queue order, as UTF-8.
    std::vector<std::string> Receive(const std::vector<CPeer*>& peers, std::size_t expected) {
        using Clock = std::chrono::steady_clock;
        const auto limit = Clock::now() + std::chrono::seconds(30);
        std::vector<std::string> texts;
        auto drain = [&] {
            m_api.ReceiveRound(kRoundWait);
            for (std::wstring text = m_api.PopTrapText(); !text.empty();
                 text = m_api.PopTrapText()) {
                texts.push_back(platform::WideToUtf8(text));
            }
        };
        while (Clock::now() < limit) {
            drain();
            bool running = false;
            for (CPeer* peer : peers) {
                running = !peer->Finished() || running;
            }
            if (!running && texts.size() >= expected) {
                break;
            }
        }
        const auto tail = Clock::now() + std::chrono::milliseconds(50);
        while (Clock::now() < tail) {
            drain();
        }
        return texts;
    }

  private:
    CSnmpApi m_api;
    std::vector<bool> m_usersCreated;
};

// What the peers reported: exit code and output of each, in start order.
inline nlohmann::json PeerReport(const CPeers& peers) {
    nlohmann::json report = nlohmann::json::array();
    for (const auto& peer : peers.All()) {
        report.push_back({{"exit", peer->ExitCode()}, {"output", peer->Output()}});
    }
    return report;
}

}  // namespace enginetest
