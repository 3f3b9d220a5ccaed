// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs for the PostScript models through the private cupsd, and what their
// printer data is compared with: the PostScript cupsfilter makes for the same
// PPD (the chain in front of pstoVarkon), and the way up of each page as
// ghostscript renders it.
#pragma once

#include "cupsd_harness.h"
#include "run_process.h"

#include <string>
#include <vector>

namespace varkon::test {

struct PrintedJob {
    int id = -1;
    std::string state; // "completed", "processing-stopped", "aborted", "canceled", "timeout", or why lp failed
    std::string data;  // what the varkontest backend received
    std::string log;   // the scheduler's log lines of the job
    bool completed() const { return state == "completed"; }
};

// lp -d queue [lp_args] file on a queue whose varkontest URI writes into
// output_dir; waits until the job has ended, or stopped on a filter error.
PrintedJob print_file(const CupsdHarness &cupsd, const std::string &queue, const std::string &output_dir,
                      const std::string &file, const std::vector<std::string> &lp_args = {});

// Log lines the scheduler writes at error or warning level ("E [", "W [").
std::string problem_lines(const std::string &job_log);

// What the CUPS chain hands the PPD's filter for `file`, by cupsfilter (job 1,
// this user, `title`), with `options` as for lp -o.
std::string chain_postscript(const std::string &ppd, const std::string &file, const std::string &title,
                             const std::vector<std::string> &options = {});

// The job-name line CUPS writes from a PPD's JCL for a job.
std::string pjl_job_name_line(int job_id, const std::string &title);

// The text without its "%%CreationDate:" lines, which ghostscript dates.
std::string undated(std::string postscript);

// The user name lp submits under, which CUPS puts into the job.
std::string current_user();

// Which way up each page of a document (PDF or PostScript) prints, for pages
// whose ink lies in their lower left quarter when upright.
enum class PageWay { Upright, Turned, Unclear };
std::vector<PageWay> page_ways(const std::string &document);

} // namespace varkon::test
