// SPDX-License-Identifier: GPL-2.0-or-later
// Captures descriptor 1 in a file that accepts only the first `limit` bytes: every
// write past them fails (EFBIG), so a test can make a command sequence fail at
// exactly the item it wants and check that item's failure text.
#pragma once

#include <sys/resource.h>

#include <cstddef>
#include <string>

namespace varkon::test {

class LimitedStdout {
public:
    explicit LimitedStdout(size_t limit);
    ~LimitedStdout();
    LimitedStdout(const LimitedStdout &) = delete;
    LimitedStdout &operator=(const LimitedStdout &) = delete;

    // Lifts the limit, restores descriptor 1 and returns what was accepted.
    std::string finish();

private:
    int saved_fd_ = -1;
    int capture_fd_ = -1;
    bool finished_ = false;
    rlimit saved_limit_{};
    void (*saved_handler_)(int) = nullptr;
    std::string data_;
};

} // namespace varkon::test
