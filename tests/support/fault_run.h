// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a filter under injected faults: standard output closed (EPIPE), full
// (ENOSPC) or read slowly; standard input held open; SIGTERM sent at a stage
// recognised from what the filter has written, logged or started so far. It
// notes every program the filter started, so that a test can check that none
// outlives the job, and how long the filter took after the signal.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace varkon::test {

enum class StdoutFault {
    None,   // captured through a pipe, read as fast as it comes
    Closed, // a pipe whose reader has gone: writes fail with EPIPE
    Full,   // /dev/full: writes fail with ENOSPC
    Slow,   // captured, but only slow_chunk bytes every slow_pause_ms
};

// What the stage predicate sees, every few milliseconds.
struct FaultProgress {
    pid_t pid = -1;
    const std::string &out;
    const std::string &err;
    double elapsed_s = 0;
};

struct FaultRun {
    std::vector<std::string> argv;
    std::string program;            // the file to run; empty: argv[0] (CUPS names filters by the queue)
    std::vector<std::string> env;   // "NAME=value", added to or replacing the inherited ones
    std::vector<std::string> unset; // names removed
    std::string stdin_data;
    bool hold_stdin_open = false;   // stdin stays open after the data until the filter ends
    StdoutFault stdout_fault = StdoutFault::None;
    std::size_t slow_chunk = 1024;
    int slow_pause_ms = 20;
    std::function<bool(const FaultProgress &)> sigterm_when; // empty: no signal
    int timeout_ms = 60000;                                  // then SIGKILL
};

struct FaultResult {
    int exit_code = -1;  // -1 when a signal ended it
    int term_signal = 0;
    bool timed_out = false;
    bool sigterm_sent = false;
    double exit_after_sigterm_s = -1; // from the signal to the filter's end
    std::string out;
    std::string err;
    std::vector<pid_t> programs_started; // every descendant seen while it ran
    std::vector<std::string> program_names; // their program names when first seen, in the same order
};

FaultResult run_with_faults(const FaultRun &run);

// Descendants of `pid` (children, their children ...), by /proc.
std::vector<pid_t> descendants_of(pid_t pid);
// The program name of a process ("" when it is gone).
std::string process_name(pid_t pid);
// True while the process exists and is not a zombie.
bool process_running(pid_t pid);
// Whether the process stops running within `ms` (a killed process takes a moment to go).
bool process_stops_within(pid_t pid, int ms);

// True when a descendant of `pid` runs a program of that name.
bool runs_program(pid_t pid, const std::string &name);

} // namespace varkon::test
