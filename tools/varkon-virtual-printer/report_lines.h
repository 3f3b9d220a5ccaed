// SPDX-License-Identifier: GPL-2.0-or-later
// What the printer says: report lines on standard output, each written whole
// and at once whatever thread writes it, and log lines on standard error.
#pragma once

#include <mutex>
#include <string>

namespace varkon {

class ReportLines {
public:
    explicit ReportLines(int fd) : fd_(fd) {}
    ReportLines(const ReportLines &) = delete;
    ReportLines &operator=(const ReportLines &) = delete;

    // Writes `line` and a newline in one piece; false when the output failed.
    bool print(const std::string &line);
    // True once any line could not be written.
    bool failed() const;

private:
    mutable std::mutex mutex_;
    int fd_;
    bool failed_ = false;
};

// "varkon-virtual-printer: <message>" on standard error, in one write.
void log_message(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Text from a job made safe for a line of its own: every byte outside
// printable ASCII, and the backslash itself, as \xNN.
std::string printable(const std::string &text);

} // namespace varkon
