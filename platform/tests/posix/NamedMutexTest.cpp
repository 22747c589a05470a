#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/NamedMutex.h"
#include "tests/support/TempSysRoot.h"

namespace {

using platform::NamedMutex;

TEST(NamedMutexTest, SecondHolderIsRefusedUntilRelease) {
    test::TempSysRoot root;
    std::uint32_t error = 1;
    NamedMutex first = NamedMutex::OpenOrCreate(L"Global\\MUTEX_TEST", &error);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(first.TryAcquire(), NamedMutex::WaitResult::kAcquired);
    EXPECT_TRUE(std::filesystem::exists(root.path() / "BaseNamedObjects/Global/MUTEX_TEST"));

    NamedMutex second = NamedMutex::OpenOrCreate(L"Global\\MUTEX_TEST");
    ASSERT_TRUE(second.IsOpen());
    EXPECT_EQ(second.TryAcquire(), NamedMutex::WaitResult::kTimeout);

    first.Close();
    EXPECT_EQ(second.TryAcquire(), NamedMutex::WaitResult::kAcquired);
}

TEST(NamedMutexTest, HeldAcrossProcessesAndFreedAtExit) {
    test::TempSysRoot root;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NamedMutex held = NamedMutex::OpenOrCreate(L"Global\\MUTEX_PROC");
        bool ok = held.TryAcquire() == NamedMutex::WaitResult::kAcquired;
        char c = ok ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        pause();  // killed below; the lock goes with the process
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    NamedMutex mine = NamedMutex::OpenOrCreate(L"Global\\MUTEX_PROC");
    EXPECT_EQ(mine.TryAcquire(), NamedMutex::WaitResult::kTimeout);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(mine.TryAcquire(), NamedMutex::WaitResult::kAcquired);
    close(ready[0]);
    close(ready[1]);
}

TEST(NamedMutexTest, NamesThatLeaveTheirFolderAreRefused) {
    test::TempSysRoot root;
    for (const wchar_t* name : {L"Global\\..", L"Global\\a/b", L"Other\\x", L"Global\\"}) {
        std::uint32_t error = 0;
        NamedMutex m = NamedMutex::OpenOrCreate(name, &error);
        EXPECT_FALSE(m.IsOpen()) << name;
        EXPECT_NE(error, 0u) << name;
    }
}

}  // namespace
