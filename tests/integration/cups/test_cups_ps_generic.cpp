// SPDX-License-Identifier: GPL-2.0-or-later
// The generic Varkon PostScript queue of the private cupsd: the printer gets
// the PostScript the CUPS chain hands pstoVarkon (as cupsfilter makes it for
// the same PPD) byte for byte, unless its device ID names the Jurvex family;
// then the job is rewritten for it.
#include "cups_ps_jobs.h"
#include "cupsd_harness.h"
#include "ps_job_fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace varkon::test;

const char kModel[] = "Varkon PostScript Printer";

class CupsGenericPs : public ::testing::Test {
protected:
    // A queue of the generic model on a printer that reports `device_id`.
    PrintedJob print(const std::string &device_id, const std::vector<std::string> &lp_args = {})
    {
        const std::string queue = "generic" + std::to_string(++queues_);
        EXPECT_EQ(cupsd_.add_queue(queue, varkontest_uri(out_.path() + "/", device_id), varkon_ppd_name(kModel)).exit_code,
                  0);
        PrintedJob job = print_file(cupsd_, queue, out_.path(), pdf_, lp_args);
        EXPECT_TRUE(job.completed()) << job.state << "\n" << job.log;
        EXPECT_EQ(problem_lines(job.log), "");
        return job;
    }

    // What the chain hands the filter, with the job's own job-name line.
    std::string chain_for(const PrintedJob &job, const std::vector<std::string> &options = {}) const
    {
        std::string chain = chain_postscript(varkon_ppd_path(kModel), pdf_, "letter.pdf", options);
        const std::string job_one = pjl_job_name_line(1, "letter.pdf");
        const size_t at = chain.find(job_one);
        if (at == std::string::npos)
            return "no job-name line in the chain's PostScript";
        return undated(chain.replace(at, job_one.size(), pjl_job_name_line(job.id, "letter.pdf")));
    }

    CupsdHarness cupsd_;
    TempDir out_, docs_;
    std::string pdf_ = make_pdf(docs_, "letter", 2);
    int queues_ = 0;
};

TEST_F(CupsGenericPs, ChainsPostScriptReachesThePrinterUnchanged)
{
    // No device ID (the nickname decides), and one of a printer in neither family.
    for (const std::string device_id : {"", "MFG:Varkon;MDL:Office 7;CMD:PJL,POSTSCRIPT;CLS:PRINTER;"}) {
        const PrintedJob job = print(device_id);
        EXPECT_EQ(undated(job.data), chain_for(job)) << device_id;
        EXPECT_EQ(ps_page_count(job.data), 2);
        EXPECT_EQ(count_of(job.data, "JOBOWNER"), 0);
    }
}

// The same queue on a Jurvex printer: owner and id after the job name, and
// collated copies made by the filter.
TEST_F(CupsGenericPs, JurvexDeviceIdMakesTheJobAJurvexOne)
{
    const PrintedJob job = print("MFG:Varkon;MDL:Jurvex 31 series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;",
                                 {"-n", "2", "-o", "collate=true"});
    const std::string owner_id = "\r\n@PJL SET JOBID=" + std::to_string(job.id) + "\r\n";
    const std::string job_name = pjl_job_name_line(job.id, "letter.pdf");
    EXPECT_EQ(count_of(job.data, job_name + "@PJL SET JOBOWNER="), 2) << job.data.substr(0, 400);
    EXPECT_EQ(count_of(job.data, owner_id), 2);
    EXPECT_EQ(ps_page_count(job.data), 4);
    EXPECT_EQ(count_of(job.data, "%RBIBeginNonPPDFeature: *NumCopies"), 0);
    EXPECT_NE(chain_for(job, {"copies=2", "collate=true"}).find("%RBIBeginNonPPDFeature: *NumCopies 2"),
              std::string::npos);
}

} // namespace
