// SPDX-License-Identifier: GPL-2.0-or-later
// A job that has come in, checked with the decoder: its pages written as PNG
// next to its stream, and the one line that reports it.
#pragma once

#include "job_receiver.h"
#include "job_spool.h"

#include <string>

namespace varkon {

struct JobReport {
    std::string line;           // without the newline
    bool files_failed = false;  // the stream or a page could not be kept as asked
};

// "job-0007": the name of the job's stream (.prn) and of its page folder.
std::string job_file_name(unsigned number);

// Checks the spooled job. With an output folder the pages go to
// DIR/job-NNNN/page-NNN.png; a job that was dropped (too large, or its spool
// failed) leaves no files.
JobReport check_job(unsigned number, const ReceivedJob &received, JobSpool &spool, const std::string &output_dir);

} // namespace varkon
