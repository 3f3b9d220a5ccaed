// SPDX-License-Identifier: GPL-2.0-or-later
// The accept loop: a thread for each connection (a bounded number at once,
// the rest wait in the listen queue), stopping on signals or the job limit,
// and every thread joined before the printer ends.
#pragma once

#include "connection_job.h"
#include "printer_options.h"
#include "report_lines.h"
#include "stop_signals.h"
#include "unique_fd.h"

#include <atomic>
#include <list>
#include <thread>

namespace varkon {

class PrinterServer {
public:
    PrinterServer(const PrinterOptions &options, ReportLines &lines);
    // Cuts what is still under way and joins every thread.
    ~PrinterServer();
    PrinterServer(const PrinterServer &) = delete;
    PrinterServer &operator=(const PrinterServer &) = delete;

    // Serves until the job limit or a signal, then waits for the jobs under way.
    // Returns the exit status.
    int run(UniqueFd listener, const SignalWatch &signals);

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void accept_loop(int listener, const SignalWatch &signals);
    void finish_workers(const SignalWatch &signals);
    void take_connection(int listener);
    void reap();
    void join_all();

    PrinterState state_;
    UniqueFd finished_;  // an eventfd each worker signals as it ends
    std::list<Worker> workers_;
    unsigned next_number_ = 1;
};

} // namespace varkon
