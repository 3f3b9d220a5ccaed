// SPDX-License-Identifier: GPL-2.0-or-later
// Redirects descriptor 1 into a temporary file, /dev/full or a broken pipe.
#include "stdout_capture.h"

#include "scratch_file.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace varkon::test {

StdoutCapture::StdoutCapture(Target target)
{
    std::fflush(stdout);
    saved_fd_ = dup(1);
    if (saved_fd_ < 0)
        throw std::runtime_error("dup(1) failed");
    switch (target) {
    case Target::File: {
        capture_fd_ = open_scratch_file("varkon-stdout");
        break;
    }
    case Target::Full:
        capture_fd_ = open("/dev/full", O_WRONLY);
        break;
    case Target::Closed: {
        int fds[2];
        if (pipe(fds) == 0) {
            close(fds[0]);
            capture_fd_ = fds[1];
        }
        // A write into the broken pipe must fail with EPIPE, not end the test program.
        signal(SIGPIPE, SIG_IGN);
        break;
    }
    }
    if (capture_fd_ < 0 || dup2(capture_fd_, 1) < 0)
        throw std::runtime_error("cannot redirect descriptor 1");
}

StdoutCapture::~StdoutCapture() { finish(); }

std::string StdoutCapture::finish()
{
    if (finished_)
        return data_;
    finished_ = true;
    std::fflush(stdout);
    dup2(saved_fd_, 1);
    close(saved_fd_);
    data_ = read_from_start(capture_fd_);
    close(capture_fd_);
    return data_;
}

} // namespace varkon::test
