// SPDX-License-Identifier: GPL-2.0-or-later
// Taking one job from a connection: everything up to the sender's end, within
// the job size limit, with the faults the printer was told to show.
#pragma once

#include "job_spool.h"

#include <cstdint>
#include <string>

namespace varkon {

struct ReceiveLimits {
    uint64_t max_job_bytes = 0;
    uint64_t fail_after = 0;  // 0: never
    unsigned delay_ms = 0;
};

enum class JobEnd {
    Closed,         // the sender closed the connection or shut down its write side
    Reset,          // the connection broke; `error` says how
    PrinterFailed,  // more than fail_after bytes came: the printer reset the connection
    Stopped,        // the printer was told to stop at once
};

struct ReceivedJob {
    JobEnd end = JobEnd::Closed;
    int error = 0;
    uint64_t bytes = 0;        // taken from the connection, kept or not
    bool too_large = false;    // the spool holds the first max_job_bytes, the rest was drained
    std::string spool_error;   // the spool failed; what came after was drained
};

enum class FirstData { Arrived, Closed, Reset, Stopping };

// Waits until the connection has data (left unread for receive_job), ends
// without any, or one of the latches fires while it is silent.
FirstData wait_for_first_data(int socket, int stopping_fd, int abort_fd);

// Reads the connection to its end into `spool` (none: the job is only drained).
// Whatever happens to the spool the sender is read to its end, so that it is
// never left blocked.
ReceivedJob receive_job(int socket, int abort_fd, const ReceiveLimits &limits, JobSpool *spool);

} // namespace varkon
