// Child processes whose standard output and standard error go into an anonymous pipe.
// Windows: CreatePipe, CreateProcessW, PeekNamedPipe, WaitForSingleObject, GetExitCodeProcess.
// POSIX: pipe2, posix_spawn, FIONREAD, a pidfd and waitpid.
// The child gets no descriptor or handle of this process but its standard input and the pipe's
// write end (POSIX: every descriptor above 2 is closed in it; Windows: the handle list of
// PROC_THREAD_ATTRIBUTE_HANDLE_LIST). The command line is split into
// arguments by the Windows command-line rules (platform/CommandLine.h); its first argument names
// the program.
//
// Every function returns a system error number (0 success).
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// An anonymous pipe. Move-only; closes both ends on destruction.
class Pipe {
  public:
    Pipe() = default;
    Pipe(Pipe&& other) noexcept;
    Pipe& operator=(Pipe&& other) noexcept;
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe();

    static std::uint32_t Create(Pipe* pipe);

    // Bytes waiting in the pipe, without reading them and without blocking.
    std::uint32_t BytesAvailable(std::uint32_t* count) const;
    // Reads at most `size` bytes; blocks only when the pipe is empty.
    std::uint32_t Read(char* buffer, std::uint32_t size, std::uint32_t* read);
    void Close();

  private:
    friend class ChildProcess;
    std::intptr_t m_read = -1;
    std::intptr_t m_write = -1;
};

// A started child process. Move-only. Destruction closes its handles but never ends the process.
class ChildProcess {
  public:
    enum class WaitStatus { kExited, kTimeout, kFailed };

    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts `commandLine` with the caller's environment, working folder and standard input, and
    // standard output and standard error both on the write end of `output`.
    static std::uint32_t Start(std::wstring_view commandLine, const Pipe& output,
                               ChildProcess* process);

    // Waits at most `milliseconds` for the process to end. kFailed sets `*error`.
    WaitStatus Wait(std::uint32_t milliseconds, std::uint32_t* error);

    // The exit code of an ended process (POSIX: a process ended by signal N gives 128 + N).
    std::uint32_t ExitCode(std::uint32_t* code) const;

  private:
    void Release();
    std::intptr_t m_pid = -1;     // Windows: process handle
    std::intptr_t m_waiter = -1;  // POSIX: pidfd; Windows: thread handle
    bool m_exited = false;
    std::uint32_t m_exitCode = 0;
};

}  // namespace platform
