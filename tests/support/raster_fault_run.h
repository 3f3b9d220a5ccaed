// SPDX-License-Identifier: GPL-2.0-or-later
// A rastertoVarkon job (filter_job.h) run under injected faults (fault_run.h).
#pragma once

#include "fault_run.h"
#include "filter_job.h"

#include <string>

namespace varkon::test {

// The job's command line, PPD, TMPDIR and environment, the raster on standard input.
FaultRun raster_fault_run(const FilterJob &job, const std::string &raster);

// Whether the printer stream ends with the job end of platform C or Z: the point
// after which a manual-duplex job only waits for the user.
bool ends_with_job_end(const std::string &out);

} // namespace varkon::test
