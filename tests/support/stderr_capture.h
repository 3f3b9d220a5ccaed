// SPDX-License-Identifier: GPL-2.0-or-later
// Captures what code under test writes to file descriptor 2 (the job log),
// including lines written by threads it starts, so tests can check messages.
#pragma once

#include <string>

namespace varkon::test {

class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // What was written so far; the capture goes on.
    std::string text() const;
    // Restores descriptor 2 and returns everything written meanwhile.
    std::string finish();

private:
    int saved_fd_ = -1;
    int capture_fd_ = -1;
    bool finished_ = false;
    std::string data_;
};

} // namespace varkon::test
