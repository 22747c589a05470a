// Test support for the Get pass: a temporary installation (bin/snmpget, Common/snmp with the MIB
// set, Config, Tmp and logs) and Debian's snmpd as the SNMP agent on 127.0.0.1:161, with a
// configuration of its own. The agent is meant to run inside test::RunIsolated children (private
// network namespace), where port 161 is free.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace gettest {

namespace fs = std::filesystem;

inline constexpr char kSnmpd[] = "/usr/sbin/snmpd";
inline constexpr char kSnmpget[] = "/usr/bin/snmpget";

// Credentials and fixed values of the test agent.
inline constexpr char kCommunity[] = "public";
inline constexpr char kSysDescr[] = "Vorma test agent";
inline constexpr char kSysLocation[] = "Server room 3";
// An enterprise object whose 22-byte value the tool prints as a Hex-STRING dump of two lines.
inline constexpr char kHexObject[] = "1.3.6.1.4.1.99999.1.0";
inline constexpr char kHexValue[] = "0x800102030405060708090A0B0C0D0E0F101112131415";

inline fs::path DepsDir() {
    const char* dir = getenv("VORMA_DEPS_DIR");
    return dir != nullptr && *dir != '\0' ? fs::path(dir) : fs::path("/opt/vorma-deps");
}

inline fs::path NpmMibDir() {
    return DepsDir() / "node_modules" / "net-snmp" / "lib" / "mibs";
}

// Empty text when the agent, the tool and the MIB modules are there; otherwise why not.
inline std::string MissingPrerequisite() {
    std::error_code ec;
    for (const char* program : {kSnmpd, kSnmpget}) {
        if (access(program, X_OK) != 0) {
            return std::string(program) + " is not installed (Debian packages snmpd and snmp)";
        }
    }
    if (!fs::is_directory(NpmMibDir(), ec)) {
        return "the npm package net-snmp is not installed under " + DepsDir().string() +
               " (run scripts/install-deps.sh or set VORMA_DEPS_DIR)";
    }
    return {};
}

inline void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh temporary folder holding install/ (the installation) and agent/ (snmpd's files),
// removed at the end.
class CTestInstallation {
  public:
    CTestInstallation() {
        std::string pattern = (fs::temp_directory_path() / "vorma-getpoll-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        m_root = made != nullptr ? fs::path(made) : fs::path();
        fs::create_directories(InstallDir() / "bin");
        for (const char* folder : {"mibs", "Config", "Tmp", "logs"}) {
            fs::create_directories(SnmpDir() / folder);
        }
        fs::create_directories(AgentDir() / "persist");
        fs::create_symlink(kSnmpget, InstallDir() / "bin" / "snmpget");
        // The tool is given Common/snmp/mibs; the manager's own Net-SNMP reads Common/snmp/Mibs.
        fs::create_directory_symlink("mibs", SnmpDir() / "Mibs");
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(NpmMibDir(), ec)) {
            if (entry.path().extension() == ".mib" && entry.path().filename() != "RFC-1215.mib") {
                fs::create_symlink(entry.path(), SnmpDir() / "mibs" / entry.path().filename());
            }
        }
        for (const char* name : {"NET-SNMP-MIB.txt", "NET-SNMP-TC.txt"}) {
            fs::create_symlink(fs::path("/usr/share/snmp/mibs") / name, SnmpDir() / "mibs" / name);
        }
        // A request to an agent that does not answer ends after one second, not six.
        WriteFile(SnmpDir() / "Config" / "snmp.conf", "timeout 1\nretries 0\n");
    }
    ~CTestInstallation() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    CTestInstallation(const CTestInstallation&) = delete;
    CTestInstallation& operator=(const CTestInstallation&) = delete;

    fs::path Root() const { return m_root; }
    fs::path InstallDir() const { return m_root / "install"; }
    fs::path SnmpDir() const { return InstallDir() / "Common" / "snmp"; }
    fs::path AgentDir() const { return m_root / "agent"; }
    fs::path FilterLogBase() const { return SnmpDir() / "logs" / "FilterLog"; }

    void WriteGetOidList(const std::vector<std::string>& lines) const {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\r\n";
        }
        WriteFile(SnmpDir() / "Config" / "GetOIDList.txt", text);
    }

    // Replaces bin/snmpget by a script that runs `body` and then the real tool.
    void WrapTool(const std::string& body) const {
        const fs::path tool = InstallDir() / "bin" / "snmpget";
        fs::remove(tool);
        WriteFile(tool, "#!/bin/sh\n" + body + "\nexec " + kSnmpget + " \"$@\"\n");
        fs::permissions(tool, fs::perms::owner_all);
    }

  private:
    fs::path m_root;
};

// snmpd on 127.0.0.1:161 of the current network namespace: a v1/v2c community, an SHA/AES user,
// an MD5/DES user (authentication suffices for it) and a user without authentication.
class CTestAgent {
  public:
    explicit CTestAgent(const CTestInstallation& installation) : m_dir(installation.AgentDir()) {
        WriteFile(m_dir / "snmpd.conf",
                  std::string("agentaddress udp:127.0.0.1:161\n") + "rocommunity " + kCommunity +
                      " 127.0.0.1\n" + "sysdescr " + kSysDescr + "\n" + "syslocation " +
                      kSysLocation + "\n" +
                      "createUser shaaes SHA shaaes-auth AES shaaes-priv\n"
                      "createUser md5des MD5 md5des-auth DES md5des-priv\n"
                      "createUser plain\n"
                      "rouser shaaes priv\n"
                      "rouser md5des auth\n"
                      "rouser plain noauth\n" +
                      "override ." + kHexObject + " octet_str " + kHexValue + "\n");
        m_pid = fork();
        if (m_pid == 0) {
            setenv("SNMP_PERSISTENT_DIR", (m_dir / "persist").c_str(), 1);
            setenv("MIBS", "", 1);
            const std::string conf = (m_dir / "snmpd.conf").string();
            const std::string log = (m_dir / "snmpd.log").string();
            const std::string pidFile = (m_dir / "snmpd.pid").string();
            execl(kSnmpd, kSnmpd, "-f", "-C", "-c", conf.c_str(), "-Lf", log.c_str(), "-p",
                  pidFile.c_str(), "-I", "-smux", static_cast<char*>(nullptr));
            _exit(127);
        }
        m_ready = WaitUntilListening();
    }
    ~CTestAgent() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    CTestAgent(const CTestAgent&) = delete;
    CTestAgent& operator=(const CTestAgent&) = delete;

    // Empty text when the agent listens; otherwise its log.
    std::string Failure() const {
        return m_ready ? std::string() : "snmpd did not start: " + ReadFile(m_dir / "snmpd.log");
    }

  private:
    // True once a UDP socket of this network namespace is bound to port 161 of 127.0.0.1 (as
    // /proc/net/udp lists it); false when snmpd ended or never got there.
    bool WaitUntilListening() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_pid > 0 && std::chrono::steady_clock::now() < deadline) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            if (ReadFile("/proc/net/udp").find(" 0100007F:00A1 ") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    fs::path m_dir;
    pid_t m_pid = -1;
    bool m_ready = false;
};

}  // namespace gettest
