#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/Text.h"

extern char** environ;

namespace platform {
namespace {

void CloseFd(std::intptr_t& fd) {
    if (fd >= 0) {
        ::close(static_cast<int>(fd));
        fd = -1;
    }
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

Pipe::Pipe(Pipe&& other) noexcept : m_read(other.m_read), m_write(other.m_write) {
    other.m_read = other.m_write = -1;
}

Pipe& Pipe::operator=(Pipe&& other) noexcept {
    if (this != &other) {
        Close();
        m_read = other.m_read;
        m_write = other.m_write;
        other.m_read = other.m_write = -1;
    }
    return *this;
}

Pipe::~Pipe() {
    Close();
}

std::uint32_t Pipe::Create(Pipe* pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return static_cast<std::uint32_t>(errno);
    }
    pipe->Close();
    pipe->m_read = fds[0];
    pipe->m_write = fds[1];
    return 0;
}

std::uint32_t Pipe::BytesAvailable(std::uint32_t* count) const {
    int n = 0;
    if (m_read < 0) {
        return EBADF;
    }
    if (::ioctl(static_cast<int>(m_read), FIONREAD, &n) != 0) {
        return static_cast<std::uint32_t>(errno);
    }
    *count = static_cast<std::uint32_t>(n);
    return 0;
}

std::uint32_t Pipe::Read(char* buffer, std::uint32_t size, std::uint32_t* read) {
    *read = 0;
    if (m_read < 0) {
        return EBADF;
    }
    ssize_t n;
    do {
        n = ::read(static_cast<int>(m_read), buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return static_cast<std::uint32_t>(errno);
    }
    *read = static_cast<std::uint32_t>(n);
    return 0;
}

void Pipe::Close() {
    CloseFd(m_read);
    CloseFd(m_write);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(other.m_pid),
      m_waiter(other.m_waiter),
      m_exited(other.m_exited),
      m_exitCode(other.m_exitCode) {
    other.m_pid = other.m_waiter = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Release();
        m_pid = other.m_pid;
        m_waiter = other.m_waiter;
        m_exited = other.m_exited;
        m_exitCode = other.m_exitCode;
        other.m_pid = other.m_waiter = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    Release();
}

void ChildProcess::Release() {
    CloseFd(m_waiter);
    m_pid = -1;
}

std::uint32_t ChildProcess::Start(std::wstring_view commandLine, const Pipe& output,
                                  ChildProcess* process) {
    std::vector<std::wstring> words = SplitCommandLine(commandLine);
    if (words.empty() || output.m_write < 0) {
        return EINVAL;
    }
    std::vector<std::string> args;
    args.reserve(words.size());
    for (const std::wstring& w : words) {
        args.push_back(WideToLocale(w));
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (int rc = posix_spawn_file_actions_init(&actions); rc != 0) {
        return static_cast<std::uint32_t>(rc);
    }
    int writeFd = static_cast<int>(output.m_write);
    posix_spawn_file_actions_adddup2(&actions, writeFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeFd, STDERR_FILENO);
    // Nothing else of this process reaches the child: descriptors that libraries opened without
    // close-on-exec (Net-SNMP's UDP 162 sockets among them) would outlive this process in an
    // orphaned child and keep the next run from binding its ports.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    pid_t pid = -1;
    // A name with a folder is taken as it stands; a bare name is looked up in PATH.
    int rc = args[0].find('/') != std::string::npos
                 ? posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                 : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return static_cast<std::uint32_t>(rc);
    }
    process->Release();
    process->m_pid = pid;
    process->m_waiter = OpenPidFd(pid);
    process->m_exited = false;
    process->m_exitCode = 0;
    return 0;
}

ChildProcess::WaitStatus ChildProcess::Wait(std::uint32_t milliseconds, std::uint32_t* error) {
    if (m_exited) {
        return WaitStatus::kExited;
    }
    if (m_pid < 0) {
        *error = EBADF;
        return WaitStatus::kFailed;
    }
    auto reap = [this, error]() -> int {  // 1 ended, 0 running, -1 failed
        int status = 0;
        pid_t rc;
        do {
            rc = ::waitpid(static_cast<pid_t>(m_pid), &status, WNOHANG);
        } while (rc < 0 && errno == EINTR);
        if (rc < 0) {
            *error = static_cast<std::uint32_t>(errno);
            return -1;
        }
        if (rc == 0) {
            return 0;
        }
        m_exited = true;
        m_exitCode = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                       : 128u + static_cast<std::uint32_t>(WTERMSIG(status));
        return 1;
    };
    if (int r = reap(); r != 0) {
        return r > 0 ? WaitStatus::kExited : WaitStatus::kFailed;
    }
    if (m_waiter >= 0) {
        pollfd pfd{static_cast<int>(m_waiter), POLLIN, 0};
        int rc;
        do {
            rc = ::poll(&pfd, 1, static_cast<int>(milliseconds));
        } while (rc < 0 && errno == EINTR);
        if (rc < 0) {
            *error = static_cast<std::uint32_t>(errno);
            return WaitStatus::kFailed;
        }
    } else {
        // No pidfd on this kernel: look again in short steps.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (int r = reap(); r != 0) {
                return r > 0 ? WaitStatus::kExited : WaitStatus::kFailed;
            }
        }
    }
    int r = reap();
    return r > 0 ? WaitStatus::kExited : (r == 0 ? WaitStatus::kTimeout : WaitStatus::kFailed);
}

std::uint32_t ChildProcess::ExitCode(std::uint32_t* code) const {
    if (!m_exited) {
        return m_pid < 0 ? EBADF : ECHILD;
    }
    *code = m_exitCode;
    return 0;
}

}  // namespace platform
