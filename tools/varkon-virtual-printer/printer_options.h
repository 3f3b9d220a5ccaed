// SPDX-License-Identifier: GPL-2.0-or-later
// The virtual printer's command line: where it listens, where jobs go, and the
// limits and faults it is told to show.
#pragma once

#include <cstdint>
#include <string>

namespace varkon {

constexpr int kExitDone = 0;
constexpr int kExitFilesFailed = 1;  // a job's files or a report line could not be written
constexpr int kExitUsage = 2;        // wrong command line, no socket, unusable output folder

struct PrinterOptions {
    std::string listen_address = "127.0.0.1";
    unsigned port = 9100;
    std::string output_dir;                 // empty: jobs are checked and reported, nothing is kept
    uint64_t max_job_bytes = 512ull << 20;  // beyond it a job is drained and dropped
    uint64_t fail_after = 0;                // 0: never; else the connection is reset past this many bytes
    unsigned delay_ms = 0;                  // pause before each read of a connection
    unsigned jobs = 0;                      // 0: until a signal; else end after this many jobs
};

// Returns -1 to go on, else the exit status (help shown, or a wrong command line).
int parse_printer_options(int argc, char **argv, PrinterOptions &options);

} // namespace varkon
