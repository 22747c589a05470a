#include "platform/posix/WriteAll.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/posix/UniqueFd.h"

namespace {

using platform::posix::UniqueFd;
using platform::posix::WriteAll;

// More than a pipe holds: the writes are cut short until the reader has taken what they wrote.
TEST(WriteAllTest, WritesEveryByteThroughShortWrites) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    UniqueFd reader(ends[0]);
    UniqueFd writer(ends[1]);
    std::string data(1 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 + i / 4096);
    }
    std::string received;
    std::thread reading([&] {
        char buffer[5000];
        for (ssize_t n; (n = ::read(reader.Get(), buffer, sizeof buffer)) > 0;) {
            received.append(buffer, static_cast<std::size_t>(n));
        }
    });
    EXPECT_FALSE(WriteAll(writer.Get(), data));
    EXPECT_TRUE(writer.Close());
    reading.join();
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST(WriteAllTest, TellsTheErrorOfTheWriteThatFailed) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    UniqueFd writer(ends[1]);
    ::close(ends[0]);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
    EXPECT_EQ(WriteAll(writer.Get(), "x"), std::error_code(EPIPE, std::generic_category()));
    ::sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_EQ(WriteAll(-1, "x"), std::error_code(EBADF, std::generic_category()));
    EXPECT_FALSE(WriteAll(-1, ""));  // nothing to write: no write at all
}

TEST(WriteAllTest, UniqueFdClosesWhatItOwnsOnce) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    {
        UniqueFd first(ends[0]);
        UniqueFd second(std::move(first));
        EXPECT_FALSE(first.IsValid());
        EXPECT_EQ(second.Get(), ends[0]);
        UniqueFd released(ends[1]);
        EXPECT_EQ(released.Release(), ends[1]);
    }
    EXPECT_EQ(::fcntl(ends[0], F_GETFD), -1);  // closed with `second`
    EXPECT_NE(::fcntl(ends[1], F_GETFD), -1);  // released: still open
    ::close(ends[1]);
    UniqueFd none;
    EXPECT_TRUE(none.Close());
}

}  // namespace
