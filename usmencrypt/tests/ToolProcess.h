// Test helpers: running the built VormaSnmpUsmEncrypt as a process, and a private mount namespace
// in which a folder can be made read-only or replaced by a tiny file system, for the runs that
// must fail to write.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace test {

// What the tool's process gets besides the test's own environment.
struct ToolSetup {
    std::vector<std::string> environment = {"LC_ALL=C.UTF-8"};  // "NAME=value", set or replaced
    bool noFileSize = false;  // RLIMIT_FSIZE 0: writing any byte to a file fails (EFBIG)
    int mountNamespace = -1;  // a mount namespace (/proc/PID/ns/mnt) to run in
};

struct ToolResult {
    int status = -1;     // the exit status; -1 when the tool did not exit normally
    std::string output;  // standard output, as bytes
};

inline ToolResult RunTool(const ToolSetup& setup = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        bool replaced = false;
        for (const std::string& mine : setup.environment) {
            replaced = replaced || entry.rfind(mine.substr(0, mine.find('=') + 1), 0) == 0;
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), setup.environment.begin(), setup.environment.end());
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const char* program = VORMA_USM_ENCRYPT_PROGRAM;

    ToolResult result;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        if (setup.noFileSize) {
            ::signal(SIGXFSZ, SIG_IGN);  // kept across exec: a write fails instead
            struct rlimit limit = {0, 0};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        // Entering a mount namespace needs file-system attributes (root, working folder) that no
        // other thread shares; the child of an instrumented test may have one besides this
        // (ThreadSanitizer starts its background thread in every child), so it takes its own.
        if (setup.mountNamespace >= 0 &&
            (::unshare(CLONE_FS) != 0 || ::setns(setup.mountNamespace, CLONE_NEWNS) != 0)) {
            ::_exit(126);
        }
        char* argv[] = {const_cast<char*>(program), nullptr};
        ::execve(program, argv, envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) != 0) {
        if (n > 0) {
            result.output.append(buffer, static_cast<std::size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(out[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    return result;
}

// A process that lives in a mount namespace of its own, where `mountInside` has changed some
// mounts; other processes enter the namespace by Fd() and see its files below Path(). Needs the
// right to make mount namespaces (root); Ready() is false without it.
class PrivateMounts {
  public:
    explicit PrivateMounts(const std::function<bool()>& mountInside) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(m_hold, O_CLOEXEC) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(m_hold[1]);
            char ok = ::unshare(CLONE_NEWNS) == 0 &&
                              ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                              mountInside()
                          ? '1'
                          : '0';
            (void)!::write(ready[1], &ok, 1);
            char byte;
            ssize_t n;
            do {
                n = ::read(m_hold[0], &byte, 1);  // returns at end of file: the test is done
            } while (n < 0 && errno == EINTR);
            ::_exit(0);  // the namespace and its mounts go with this process
        }
        ::close(ready[1]);
        ::close(m_hold[0]);
        char ok = '0';
        if (m_pid > 0 && ::read(ready[0], &ok, 1) == 1 && ok == '1') {
            std::string ns = "/proc/" + std::to_string(m_pid) + "/ns/mnt";
            m_fd = ::open(ns.c_str(), O_RDONLY | O_CLOEXEC);
        }
        ::close(ready[0]);
    }
    ~PrivateMounts() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        ::close(m_hold[1]);  // ends the namespace's process
        if (m_pid > 0) {
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    PrivateMounts(const PrivateMounts&) = delete;
    PrivateMounts& operator=(const PrivateMounts&) = delete;

    bool Ready() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // `path` as seen inside the namespace.
    std::filesystem::path Path(const std::filesystem::path& path) const {
        return std::filesystem::path("/proc/" + std::to_string(m_pid) + "/root") /
               path.relative_path();
    }

  private:
    pid_t m_pid = -1;
    int m_fd = -1;
    int m_hold[2] = {-1, -1};
};

}  // namespace test
