// SPDX-License-Identifier: GPL-2.0-or-later
// The job state that the dither and the command layer count into, bound to the
// benchmark program's main thread before main() runs: every benchmark here
// runs on that thread, as a job runs on one.
#pragma once

#include "job_context.h"

namespace varkon::bench {

inline JobContext &bench_job()
{
    static JobContext job;
    return job;
}

inline const JobBinding kBenchJobBinding(bench_job());

} // namespace varkon::bench
