// SPDX-License-Identifier: GPL-2.0-or-later
// The shared write-all loop against pipes that fill up, that block and do not,
// and whose reader goes away.
#include "signal_handler.h"
#include "write_all.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace {

struct PipeEnds {
    PipeEnds() { ok = pipe2(fds, O_CLOEXEC) == 0; }
    ~PipeEnds()
    {
        for (int fd : fds)
            if (fd >= 0)
                close(fd);
    }
    void close_read()
    {
        close(fds[0]);
        fds[0] = -1;
    }
    int fds[2] = {-1, -1};
    bool ok = false;
};

std::string pattern(std::size_t size)
{
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    return data;
}

// Reads everything until the writer closes, slowly at first, so that the pipe fills.
std::string read_slowly(int fd)
{
    std::string got;
    char block[4096];
    for (int reads = 0;; ++reads) {
        if (reads < 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const ssize_t n = read(fd, block, sizeof block);
        if (n <= 0)
            return got;
        got.append(block, static_cast<std::size_t>(n));
    }
}

void write_through_pipe(bool non_blocking)
{
    PipeEnds pipe;
    ASSERT_TRUE(pipe.ok);
    if (non_blocking)
        fcntl(pipe.fds[1], F_SETFL, fcntl(pipe.fds[1], F_GETFL) | O_NONBLOCK);
    const std::string data = pattern(1 << 20); // sixteen times what a pipe holds
    std::string got;
    std::thread reader([&] { got = read_slowly(pipe.fds[0]); });
    EXPECT_EQ(varkon::write_all(pipe.fds[1], data), data.size());
    close(pipe.fds[1]);
    pipe.fds[1] = -1;
    reader.join();
    EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes arrived in order";
}

TEST(WriteAll, EveryByteReachesABlockingPipeThatFillsUp) { write_through_pipe(false); }

// The backend may hand the filter a non-blocking descriptor: the loop waits
// for room instead of giving up at the first full pipe.
TEST(WriteAll, EveryByteReachesANonBlockingPipeThatFillsUp) { write_through_pipe(true); }

TEST(WriteAll, AReaderThatIsGoneEndsTheWriteShortWithTheReason)
{
    ASSERT_TRUE(varkon::install_signal_handler(SIGPIPE, SIG_IGN));
    PipeEnds pipe;
    ASSERT_TRUE(pipe.ok);
    pipe.close_read();
    errno = 0;
    EXPECT_EQ(varkon::write_all(pipe.fds[1], "data", 4), 0u);
    EXPECT_EQ(errno, EPIPE);
    EXPECT_EQ(varkon::write_all(pipe.fds[1], "", 0), 0u) << "nothing to write is no failure";
    varkon::install_signal_handler(SIGPIPE, SIG_DFL);
}

} // namespace
