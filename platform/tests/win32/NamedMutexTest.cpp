#include "platform/NamedMutex.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/Process.h"
#include "platform/tests/win32/TestChild.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WindowsHeaders.h"

namespace {

using platform::NamedMutex;

std::wstring UniqueName(const wchar_t* prefix) {
    return std::wstring(prefix) + std::to_wstring(::GetCurrentProcessId());
}

TEST(NamedMutexTest, HeldByOneThreadAndRefusedToAnother) {
    // A Windows mutex belongs to a thread and is recursive: the refusal shows from another
    // thread, and the owner may ask again.
    std::wstring name = UniqueName(L"Global\\VORMA_TEST_MUTEX_");
    std::uint32_t error = 1;
    NamedMutex first = NamedMutex::OpenOrCreate(name, &error);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(first.TryAcquire(), NamedMutex::WaitResult::kAcquired);
    EXPECT_EQ(first.TryAcquire(), NamedMutex::WaitResult::kAcquired);

    NamedMutex::WaitResult other = NamedMutex::WaitResult::kFailed;
    std::thread([&] {
        NamedMutex second = NamedMutex::OpenOrCreate(name);
        other = second.IsOpen() ? second.TryAcquire() : NamedMutex::WaitResult::kFailed;
    }).join();
    EXPECT_EQ(other, NamedMutex::WaitResult::kTimeout);

    first.Release();
    std::thread([&] {
        NamedMutex second = NamedMutex::OpenOrCreate(name);
        other = second.TryAcquire();
    }).join();
    EXPECT_EQ(other, NamedMutex::WaitResult::kAcquired);
}

// Starts the child holding `name` until `go` is signalled; returns once it holds the mutex.
struct Holder {
    platform::Pipe pipe;
    platform::ChildProcess process;
};

bool StartHolder(const std::wstring& name, const std::wstring& go, const wchar_t* mode,
                 Holder* holder) {
    if (platform::Pipe::Create(&holder->pipe) != 0 ||
        platform::ChildProcess::Start(test::TestChildCommand({L"hold-mutex", name, go, mode}),
                                      holder->pipe, &holder->process) != 0) {
        return false;
    }
    std::string said;
    while (said.size() < 4) {
        char buffer[4];
        std::uint32_t read = 0;
        if (holder->pipe.Read(buffer, static_cast<std::uint32_t>(4 - said.size()), &read) != 0 ||
            read == 0) {
            return false;
        }
        said.append(buffer, read);
    }
    return said == "held";
}

TEST(NamedMutexTest, GlobalMutexIsSharedAcrossProcesses) {
    for (const wchar_t* mode : {L"release", L"abandon"}) {
        std::wstring name = UniqueName(L"Global\\VORMA_TEST_PROC_") + mode;
        std::wstring goName = UniqueName(L"VORMA_TEST_GO_") + mode;
        platform::win32::UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, goName.c_str()));
        ASSERT_TRUE(go.IsValid());
        Holder holder;
        ASSERT_TRUE(StartHolder(name, goName, mode, &holder)) << mode;

        NamedMutex mine = NamedMutex::OpenOrCreate(name);
        ASSERT_TRUE(mine.IsOpen());
        EXPECT_EQ(mine.TryAcquire(), NamedMutex::WaitResult::kTimeout) << mode;

        ::SetEvent(go.Get());
        std::uint32_t error = 0;
        ASSERT_EQ(holder.process.Wait(INFINITE, &error),
                  platform::ChildProcess::WaitStatus::kExited);
        // A holder that ended without releasing leaves the mutex abandoned: the next owner gets
        // it, and is told so.
        EXPECT_EQ(mine.TryAcquire(), std::wstring(mode) == L"release"
                                         ? NamedMutex::WaitResult::kAcquired
                                         : NamedMutex::WaitResult::kAbandoned)
            << mode;
    }
}

TEST(NamedMutexTest, BadNamesAreRefusedWithTheSystemError) {
    // A backslash after the namespace is a path into a folder that does not exist.
    std::uint32_t error = 0;
    NamedMutex m = NamedMutex::OpenOrCreate(L"Global\\a\\b", &error);
    EXPECT_FALSE(m.IsOpen());
    EXPECT_NE(error, 0u);
    EXPECT_EQ(m.TryAcquire(&error), NamedMutex::WaitResult::kFailed);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

}  // namespace
