// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the real rastertoVarkon the way CUPS does: a CUPS command line, a PPD
// in the environment, a private TMPDIR that must be empty again afterwards.
#pragma once

#include "raster_writer.h"
#include "run_process.h"
#include "test_ppd.h"

#include <string>
#include <vector>

namespace varkon::test {

// A PPD for one platform: a model of that platform's group, or, for "PLATFORM_x"
// texts with an unknown model name, the PlatForm entry alone.
TestPpd platform_ppd(int platform);

struct FilterJob {
    TempDir dir;                           // the PPD, raster files and the TMPDIR below live here
    std::string ppd_path;
    std::string tmpdir;                    // the filter's TMPDIR
    std::string job_id = "42";
    std::string title = "Test job";
    std::string options;                   // argument 5
    ProcessOptions process;                // env gets PPD and TMPDIR added by run()

    explicit FilterJob(const TestPpd &ppd);

    // Runs with the raster on standard input (6 arguments).
    ProcessResult run_stdin(const std::string &raster);
    // Runs with the raster in a file given as argument 6.
    ProcessResult run_file(const std::string &path);
    // Runs with the raster read from a FIFO given as argument 6: `first` is written
    // at once, `rest` after `pause_ms`, the way a slow application delivers a job.
    // Set process.sigterm_after_ms to cancel the job during the pause.
    ProcessResult run_paused(const std::string &first, int pause_ms, const std::string &rest);
    // Runs with exactly these arguments after the program name.
    ProcessResult run_args(const std::vector<std::string> &args, const std::string &stdin_data = {});

    // Names left in the filter's TMPDIR (spool files must never remain).
    std::vector<std::string> leftovers() const;
};

// A platform Z stream with its job time blanked: the envelope carries the wall
// clock, so two runs of one job differ there and nowhere else.
std::string without_job_time(std::string stream);

} // namespace varkon::test
