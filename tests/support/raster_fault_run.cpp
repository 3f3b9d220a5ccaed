// SPDX-License-Identifier: GPL-2.0-or-later
// Fault runs of rastertoVarkon.
#include "raster_fault_run.h"

namespace varkon::test {

FaultRun raster_fault_run(const FilterJob &job, const std::string &raster)
{
    FaultRun run;
    run.argv = {built_program("rastertoVarkon/rastertoVarkon"), job.job_id, "user", job.title, "1", job.options};
    run.env = job.process.env;
    run.env.push_back("PPD=" + job.ppd_path);
    run.env.push_back("TMPDIR=" + job.tmpdir);
    run.unset = job.process.unset;
    run.stdin_data = raster;
    run.timeout_ms = job.process.timeout_ms;
    return run;
}

bool ends_with_job_end(const std::string &out)
{
    static const std::string kEnd = "@PJL EOJ\r\n\x1B%-12345X\r\n";
    return out.size() >= kEnd.size() && out.compare(out.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
}

} // namespace varkon::test
