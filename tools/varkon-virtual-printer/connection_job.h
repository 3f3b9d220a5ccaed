// SPDX-License-Identifier: GPL-2.0-or-later
// One connection from its first byte to its report line: admission, the
// spool, the read, the check. Each connection runs this in a thread of its own
// and shares only the printer's state below.
#pragma once

#include "printer_options.h"
#include "report_lines.h"
#include "stop_signals.h"
#include "unique_fd.h"

#include <atomic>
#include <mutex>

namespace varkon {

// Admission of jobs: once the --jobs limit has started, or the printer is
// stopping, no new job starts.
class JobLimit {
public:
    JobLimit(unsigned limit, Latch &stopping) : limit_(limit), stopping_(stopping) {}
    // False when the job may not start.
    bool start();

private:
    std::mutex mutex_;
    unsigned started_ = 0;
    unsigned limit_;  // 0: none
    Latch &stopping_;
};

struct PrinterState {
    PrinterState(const PrinterOptions &printer_options, ReportLines &report_lines)
        : options(printer_options), lines(report_lines), limit(printer_options.jobs, stopping)
    {
    }

    const PrinterOptions &options;
    ReportLines &lines;
    Latch stopping;  // no new jobs; connections that have sent nothing are closed
    Latch abort;     // the jobs under way are cut
    JobLimit limit;
    std::atomic<bool> files_failed{false};
};

// Serves connection `number`: numbers follow the order connections arrive in,
// and the job on a connection, if it brings one, keeps its number.
void serve_connection(UniqueFd socket, unsigned number, PrinterState &state);

} // namespace varkon
