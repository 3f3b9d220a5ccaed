// SPDX-License-Identifier: GPL-2.0-or-later
// Captures what code under test writes to file descriptor 1, so that unit tests
// can compare the bytes the output sink sent to the printer.
#pragma once

#include <string>

namespace varkon::test {

class StdoutCapture {
public:
    enum class Target {
        File,   // an ordinary temporary file: every write succeeds
        Full,   // /dev/full: every write fails with ENOSPC
        Closed, // a pipe whose reader is gone: every write fails with EPIPE
    };

    explicit StdoutCapture(Target target = Target::File);
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Restores descriptor 1 and returns everything written meanwhile (empty for Full and Closed).
    std::string finish();

private:
    int saved_fd_ = -1;
    int capture_fd_ = -1;
    bool finished_ = false;
    std::string data_;
};

} // namespace varkon::test
