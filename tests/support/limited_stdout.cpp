// SPDX-License-Identifier: GPL-2.0-or-later
// A file-size limit on the whole process turns writes past `limit` into EFBIG
// failures; the limit applies only while the capture is active.
#include "limited_stdout.h"

#include "scratch_file.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace varkon::test {

LimitedStdout::LimitedStdout(size_t limit)
{
    std::fflush(stdout);
    capture_fd_ = open_scratch_file("varkon-limited");
    if (capture_fd_ < 0)
        throw std::runtime_error("mkstemp failed");
    saved_fd_ = dup(1);
    if (saved_fd_ < 0 || dup2(capture_fd_, 1) < 0)
        throw std::runtime_error("cannot redirect descriptor 1");
    // Without this the first write past the limit would end the test program.
    saved_handler_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_limit_);
    rlimit limited = saved_limit_;
    limited.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &limited);
}

LimitedStdout::~LimitedStdout() { finish(); }

std::string LimitedStdout::finish()
{
    if (finished_)
        return data_;
    finished_ = true;
    setrlimit(RLIMIT_FSIZE, &saved_limit_);
    signal(SIGXFSZ, saved_handler_);
    dup2(saved_fd_, 1);
    close(saved_fd_);
    data_ = read_from_start(capture_fd_);
    close(capture_fd_);
    return data_;
}

} // namespace varkon::test
