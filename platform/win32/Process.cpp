#include "platform/Process.h"

#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/Win32Error.h"
#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

constexpr std::intptr_t kNone = -1;

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

void CloseOne(std::intptr_t& handle) {
    if (handle != kNone) {
        ::CloseHandle(AsHandle(handle));
        handle = kNone;
    }
}

}  // namespace

Pipe::Pipe(Pipe&& other) noexcept : m_read(other.m_read), m_write(other.m_write) {
    other.m_read = other.m_write = kNone;
}

Pipe& Pipe::operator=(Pipe&& other) noexcept {
    if (this != &other) {
        Close();
        m_read = other.m_read;
        m_write = other.m_write;
        other.m_read = other.m_write = kNone;
    }
    return *this;
}

Pipe::~Pipe() {
    Close();
}

std::uint32_t Pipe::Create(Pipe* pipe) {
    // The write end is inherited by the child as its standard output and standard error; the
    // read end stays with this process only.
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, &attributes, 0)) {
        return ::GetLastError();
    }
    if (!::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0)) {
        DWORD error = ::GetLastError();
        ::CloseHandle(read);
        ::CloseHandle(write);
        return error;
    }
    pipe->Close();
    pipe->m_read = reinterpret_cast<std::intptr_t>(read);
    pipe->m_write = reinterpret_cast<std::intptr_t>(write);
    return kErrorSuccess;
}

std::uint32_t Pipe::BytesAvailable(std::uint32_t* count) const {
    if (m_read == kNone) {
        return kErrorInvalidHandle;
    }
    DWORD available = 0;
    if (!::PeekNamedPipe(AsHandle(m_read), nullptr, 0, nullptr, &available, nullptr)) {
        DWORD error = ::GetLastError();
        if (error != ERROR_BROKEN_PIPE) {
            return error;
        }
        available = 0;  // every writer is gone and nothing is left: the end of the data
    }
    *count = available;
    return kErrorSuccess;
}

std::uint32_t Pipe::Read(char* buffer, std::uint32_t size, std::uint32_t* read) {
    *read = 0;
    if (m_read == kNone) {
        return kErrorInvalidHandle;
    }
    DWORD n = 0;
    if (!::ReadFile(AsHandle(m_read), buffer, size, &n, nullptr)) {
        DWORD error = ::GetLastError();
        // Every writer is gone: the end of the data, as a read of 0 bytes.
        return error == ERROR_BROKEN_PIPE ? kErrorSuccess : error;
    }
    *read = n;
    return kErrorSuccess;
}

void Pipe::Close() {
    CloseOne(m_read);
    CloseOne(m_write);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(other.m_pid),
      m_waiter(other.m_waiter),
      m_exited(other.m_exited),
      m_exitCode(other.m_exitCode) {
    other.m_pid = other.m_waiter = kNone;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Release();
        m_pid = other.m_pid;
        m_waiter = other.m_waiter;
        m_exited = other.m_exited;
        m_exitCode = other.m_exitCode;
        other.m_pid = other.m_waiter = kNone;
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    Release();
}

void ChildProcess::Release() {
    CloseOne(m_waiter);
    CloseOne(m_pid);
}

std::uint32_t ChildProcess::Start(std::wstring_view commandLine, const Pipe& output,
                                  ChildProcess* process) {
    if (SplitCommandLine(commandLine).empty() || output.m_write == kNone) {
        return kErrorInvalidParameter;
    }
    // CreateProcessW may write into the command line: it gets a buffer of its own.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    // Only the pipe's write end (and the standard input, when it is an inheritable handle) reaches
    // the child: sockets are inheritable by default, and an orphaned child holding the UDP 162
    // sockets would keep the next run of the service from binding its ports.
    std::vector<HANDLE> inherited = {AsHandle(output.m_write)};
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD inputFlags = 0;
    if (input != nullptr && input != INVALID_HANDLE_VALUE && input != inherited.front() &&
        ::GetHandleInformation(input, &inputFlags) && (inputFlags & HANDLE_FLAG_INHERIT) != 0) {
        inherited.push_back(input);
    } else {
        input = nullptr;
    }
    SIZE_T listSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<unsigned char> listBuffer(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &listSize)) {
        return ::GetLastError();
    }
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                     inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
        DWORD error = ::GetLastError();
        ::DeleteProcThreadAttributeList(list);
        return error;
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = AsHandle(output.m_write);
    startup.StartupInfo.hStdError = AsHandle(output.m_write);
    startup.lpAttributeList = list;
    PROCESS_INFORMATION info{};
    // The command line names the program; the child runs without a console window, with the
    // caller's environment and working folder.
    const BOOL created =
        ::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE,
                         CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | EXTENDED_STARTUPINFO_PRESENT,
                         nullptr, nullptr, &startup.StartupInfo, &info);
    const DWORD error = created ? 0 : ::GetLastError();
    ::DeleteProcThreadAttributeList(list);
    if (!created) {
        return error;
    }
    process->Release();
    process->m_pid = reinterpret_cast<std::intptr_t>(info.hProcess);
    process->m_waiter = reinterpret_cast<std::intptr_t>(info.hThread);
    process->m_exited = false;
    process->m_exitCode = 0;
    return kErrorSuccess;
}

ChildProcess::WaitStatus ChildProcess::Wait(std::uint32_t milliseconds, std::uint32_t* error) {
    if (m_exited) {
        return WaitStatus::kExited;
    }
    if (m_pid == kNone) {
        *error = kErrorInvalidHandle;
        return WaitStatus::kFailed;
    }
    switch (::WaitForSingleObject(AsHandle(m_pid), milliseconds)) {
        case WAIT_OBJECT_0: {
            DWORD code = 0;
            if (!::GetExitCodeProcess(AsHandle(m_pid), &code)) {
                *error = ::GetLastError();
                return WaitStatus::kFailed;
            }
            m_exited = true;
            m_exitCode = code;
            return WaitStatus::kExited;
        }
        case WAIT_TIMEOUT:
            return WaitStatus::kTimeout;
        default:
            *error = ::GetLastError();
            return WaitStatus::kFailed;
    }
}

std::uint32_t ChildProcess::ExitCode(std::uint32_t* code) const {
    if (!m_exited) {
        // STILL_ACTIVE: the process has not ended (or was never started).
        return m_pid == kNone ? kErrorInvalidHandle : ERROR_INVALID_STATE;
    }
    *code = m_exitCode;
    return kErrorSuccess;
}

}  // namespace platform
