// SPDX-License-Identifier: GPL-2.0-or-later
// Redirects descriptor 2 into an unlinked temporary file.
#include "stderr_capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace varkon::test {

namespace {

std::string read_all(int fd)
{
    std::string data;
    char buf[65536];
    off_t offset = 0;
    ssize_t n;
    while ((n = pread(fd, buf, sizeof buf, offset)) > 0) {
        data.append(buf, static_cast<size_t>(n));
        offset += n;
    }
    return data;
}

} // namespace

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    saved_fd_ = dup(2);
    char path[] = "/tmp/varkon-stderr-XXXXXX";
    capture_fd_ = mkstemp(path);
    if (capture_fd_ >= 0)
        unlink(path);
    if (saved_fd_ < 0 || capture_fd_ < 0 || dup2(capture_fd_, 2) < 0)
        throw std::runtime_error("cannot redirect descriptor 2");
}

StderrCapture::~StderrCapture() { finish(); }

std::string StderrCapture::text() const
{
    return finished_ ? data_ : read_all(capture_fd_);
}

std::string StderrCapture::finish()
{
    if (finished_)
        return data_;
    finished_ = true;
    std::fflush(stderr);
    dup2(saved_fd_, 2);
    close(saved_fd_);
    data_ = read_all(capture_fd_);
    close(capture_fd_);
    return data_;
}

} // namespace varkon::test
