// Test helper: runs the stand-in product server vorma-product-server as a child process on
// 127.0.0.1 and a free port, and collects the lines it writes (one per request).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace test {

class CProductServerProcess {
  public:
    // Starts the server on `root` with `options` added to its command line, and waits for its
    // "listening on" line. Started() is false when it did not come up; Output() then says why.
    explicit CProductServerProcess(const std::filesystem::path& root,
                                   const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = {ServerPath().string(), "--root", root.string(), "--port",
                                         "0"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);

        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            m_output = "pipe2 failed";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        int error = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_fd = fds[0];
        if (error != 0) {
            m_pid = -1;
            m_output = "cannot start " + args[0];
            return;
        }
        // The first line names the port. The pipe still blocks: the server writes it at once, or
        // ends.
        std::string line;
        while (ReadLine(&line)) {
            const std::string prefix = "listening on 127.0.0.1:";
            if (line.rfind(prefix, 0) == 0) {
                m_port = std::atoi(line.c_str() + prefix.size());
                break;
            }
            m_output += line + "\n";
        }
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    }

    ~CProductServerProcess() {
        Stop();
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    CProductServerProcess(const CProductServerProcess&) = delete;
    CProductServerProcess& operator=(const CProductServerProcess&) = delete;

    bool Started() const { return m_port > 0; }
    int Port() const { return m_port; }
    std::string Endpoint() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }
    const std::string& Output() const { return m_output; }

    // The lines written so far after the "listening on" line. The server writes a request's line
    // before it answers, so once a call has returned its line is here.
    const std::vector<std::string>& Lines() {
        std::string line;
        while (ReadLine(&line)) {
            m_lines.push_back(line);
        }
        return m_lines;
    }

    // Sends SIGTERM and waits for the end. The exit code, 128 + N after signal N, or -1 when the
    // server had to be killed (it did not stop within 10 s) or was not running.
    int Stop() {
        if (m_pid <= 0) {
            return m_exitCode;
        }
        ::kill(m_pid, SIGTERM);
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 1000 && done == 0; ++i) {
            done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (done == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_exitCode = -1;
        } else if (WIFEXITED(status)) {
            m_exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            m_exitCode = 128 + WTERMSIG(status);
        }
        m_pid = -1;
        Lines();
        return m_exitCode;
    }

  private:
    static std::filesystem::path ServerPath() {
        const char* dir = std::getenv("VORMA_TEST_BINARY_DIR");
        std::filesystem::path base =
            dir != nullptr && *dir != '\0'
                ? std::filesystem::path(dir) / "product"
                : std::filesystem::read_symlink("/proc/self/exe").parent_path();
        return base / "server" / "vorma-product-server";
    }

    // One complete line from the pipe; false when there is none (yet, or any more).
    bool ReadLine(std::string* line) {
        while (true) {
            std::size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                *line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return true;
            }
            if (m_fd < 0) {
                return false;
            }
            char chunk[4096];
            ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n > 0) {
                m_buffer.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;  // end of output, or nothing waiting in non-blocking mode
        }
    }

    pid_t m_pid = -1;
    int m_fd = -1;
    int m_port = 0;
    int m_exitCode = -1;
    std::string m_buffer;
    std::string m_output;
    std::vector<std::string> m_lines;
};

}  // namespace test
