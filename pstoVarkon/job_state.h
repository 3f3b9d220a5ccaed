// SPDX-License-Identifier: GPL-2.0-or-later
// Process-wide job state of pstoVarkon: one job per process.
#pragma once

#include <atomic>
#include <cstdint>

// The job was cancelled: raised by the SIGTERM handler and by the cancel watcher,
// read by the writers and the keep-alive thread. Only ever goes from 0 to 1.
extern std::atomic<int32_t> job_canceled;
static_assert(std::atomic<int32_t>::is_always_lock_free, "job_canceled is set from a signal handler");

extern unsigned char isjurvex;  // the queue serves a Jurvex-family printer
extern int32_t width;           // the job's page size from the PPD, in points; 0 when unknown
extern int32_t height;
extern unsigned char iscollate; // the filter makes collated copies itself
extern int32_t copies;          // number of collated copies
extern unsigned char isA5Page;  // A5 fed long edge first
