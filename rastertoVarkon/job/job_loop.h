// SPDX-License-Identifier: GPL-2.0-or-later
// The CUPS filter over the raster job: the command line and the PPD make the
// job's parameters, the raster stream its pages, SIGTERM its cancellation.
#pragma once

#include "job_context.h"
#include "page_geometry.h"

#include <cstddef>

// SIGTERM handler: cancels the filter's job; it ends at the next safe point.
void CancelJob(int sig);

namespace varkon {

// How a job runs in its process. The filter takes the defaults. Tests and the
// fuzzing harness run whole jobs inside their own process: the raster from
// memory, the printer stream into a sink of theirs, the process's signal
// handlers and timers left alone, no wait at the end of manual duplex, and (for
// fuzzing) smaller caps so that each job stays quick.
struct JobRun {
    bool rasterInMemory = false;       // read `raster` instead of standard input or the file argument
    const unsigned char *raster = nullptr;
    size_t rasterSize = 0;
    PrinterSink *printer = nullptr;    // nullptr: descriptor 1
    bool ownSignals = true;            // SIGTERM and SIGPIPE handlers, the SIGALRM keep-alive
    int manualDuplexWaitSeconds = 10;
    unsigned encoderThreads = 0;       // 0: encoder_thread_count()
    PageLimits limits;
};

// Runs one job with the CUPS filter command line
// "rastertoVarkon job-id user title copies options [file]" and returns the
// exit status: 0 when every page read was printed whole; 1 for a wrong command
// line, an unreadable raster file, no pages, a refused page, raster data that
// end inside a page or its header, a spool file that could not be made or
// written, or printer data that could not be written.
int run_job(int argc, char *argv[], const JobRun &run = JobRun{});

} // namespace varkon
