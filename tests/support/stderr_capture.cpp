// SPDX-License-Identifier: GPL-2.0-or-later
// Redirects descriptor 2 into an unlinked temporary file.
#include "stderr_capture.h"

#include "scratch_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace varkon::test {

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    saved_fd_ = dup(2);
    capture_fd_ = open_scratch_file("varkon-stderr");
    if (saved_fd_ < 0 || capture_fd_ < 0 || dup2(capture_fd_, 2) < 0)
        throw std::runtime_error("cannot redirect descriptor 2");
}

StderrCapture::~StderrCapture() { finish(); }

std::string StderrCapture::text() const
{
    return finished_ ? data_ : read_from_start(capture_fd_);
}

std::string StderrCapture::finish()
{
    if (finished_)
        return data_;
    finished_ = true;
    std::fflush(stderr);
    dup2(saved_fd_, 2);
    close(saved_fd_);
    data_ = read_from_start(capture_fd_);
    close(capture_fd_);
    return data_;
}

} // namespace varkon::test
