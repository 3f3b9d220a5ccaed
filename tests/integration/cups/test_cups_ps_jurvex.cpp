// SPDX-License-Identifier: GPL-2.0-or-later
// A Jurvex queue of the private cupsd: a PDF goes through lp, pdftopdf and
// pdftops (which write the PJL job header from the PPD's JCL) into pstoVarkon
// and on to the varkontest backend. The printer data is the chain's
// PostScript as cupsfilter makes it, rewritten for the printer: job owner and
// id after the job-name line, A5 long-edge paper, the PPD's page size,
// collated copies made by the filter, custom sizes the printer cannot take refused.
#include "cups_ps_jobs.h"
#include "cupsd_harness.h"
#include "ps_job_fixtures.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

using namespace varkon::test;

const char kModel[] = "Varkon Jurvex23d Series PS";
const std::string kUel = "\x1b%-12345X";
const std::string kCopyCountBegin = "%RBIBeginNonPPDFeature: *NumCopies";

std::string owner_lines(int job_id)
{
    return "@PJL SET JOBOWNER=\"" + host_name() + "\"\r\n@PJL SET JOBID=" + std::to_string(job_id) + "\r\n";
}

// The chain's PostScript of job 1 as the filter sends it for `job_id`: its own
// job-name line, followed by the lines the filter adds.
std::string rewritten_header(std::string chain, int job_id, const std::string &title, const std::string &added)
{
    const std::string reference_line = pjl_job_name_line(1, title);
    const size_t at = chain.find(reference_line);
    if (at == std::string::npos)
        return "no job-name line in the chain's PostScript";
    return chain.replace(at, reference_line.size(), pjl_job_name_line(job_id, title) + added);
}

// The chain's PostScript without the document's copy-count block.
std::string without_copy_count(std::string chain)
{
    const size_t begin = chain.find(kCopyCountBegin);
    const std::string end_marker = "%RBIEndNonPPDFeature\n";
    const size_t end = chain.find(end_marker, begin);
    if (begin == std::string::npos || end == std::string::npos)
        return "no copy-count block in the chain's PostScript";
    return chain.erase(begin, end + end_marker.size() - begin);
}

// Every "<</Type/Page/MediaBox [...]" line of a job, in order.
std::vector<std::string> media_boxes(const std::string &data)
{
    std::vector<std::string> boxes;
    const std::string key = "<</Type/Page/MediaBox [";
    for (size_t at = data.find(key); at != std::string::npos; at = data.find(key, at + 1))
        boxes.push_back(data.substr(at + key.size(), data.find(']', at) - at - key.size()));
    return boxes;
}

class CupsJurvex : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        cupsd_ = new CupsdHarness();
        out_ = new TempDir();
        docs_ = new TempDir();
        // No device ID from the backend: the PPD's nickname names the family.
        ASSERT_EQ(cupsd_->add_queue("jurvex", varkontest_uri(out_->path() + "/"), varkon_ppd_name(kModel)).exit_code, 0);
        ASSERT_EQ(cupsd_->add_queue("jurvex-a5l", varkontest_uri(out_->path() + "/"), varkon_ppd_name(kModel),
                                    {"FeedEdge=LongEdge"})
                      .exit_code,
                  0);
    }
    static void TearDownTestSuite()
    {
        delete cupsd_;
        delete out_;
        delete docs_;
    }

    // Prints and expects a clean, completed job.
    PrintedJob print(const std::string &queue, const std::string &pdf, const std::vector<std::string> &lp_args = {})
    {
        PrintedJob job = print_file(*cupsd_, queue, out_->path(), pdf, lp_args);
        EXPECT_TRUE(job.completed()) << job.state << "\n" << job.log;
        EXPECT_EQ(problem_lines(job.log), "");
        EXPECT_NE(job.log.find("attr->value :Jurvex23d Series PS."), std::string::npos) << job.log;
        return job;
    }

    static CupsdHarness *cupsd_;
    static TempDir *out_, *docs_;
};

CupsdHarness *CupsJurvex::cupsd_ = nullptr;
TempDir *CupsJurvex::out_ = nullptr;
TempDir *CupsJurvex::docs_ = nullptr;

TEST_F(CupsJurvex, OwnerAndJobIdFollowTheJobNameOfTheChainsPostScript)
{
    const std::string pdf = make_pdf(*docs_, "report", 3);
    const PrintedJob job = print("jurvex", pdf);
    EXPECT_NE(job.log.find("pstoVarkon (application/vnd.cups-postscript to printer/jurvex"), std::string::npos)
        << job.log;
    const std::string chain = chain_postscript(varkon_ppd_path(kModel), pdf, "report.pdf");
    ASSERT_EQ(count_of(chain, "@PJL JOB NAME"), 1);
    EXPECT_EQ(undated(job.data), undated(rewritten_header(chain, job.id, "report.pdf", owner_lines(job.id))));
    EXPECT_EQ(ps_page_count(job.data), 3);
    EXPECT_EQ(count_of(job.data, "PAPER=A5L"), 0);
}

TEST_F(CupsJurvex, A5FedLongEdgeIsToldToThePrinter)
{
    const std::string pdf = make_pdf(*docs_, "a5", 2, 420, 595);
    const std::string header_a5l = "@PJL SET PAPER=A5L\r\n";

    const PrintedJob long_edge = print("jurvex", pdf, {"-o", "PageSize=A5", "-o", "FeedEdge=LongEdge"});
    EXPECT_NE(long_edge.data.find(pjl_job_name_line(long_edge.id, "a5.pdf") + owner_lines(long_edge.id) + header_a5l),
              std::string::npos)
        << long_edge.data.substr(0, 400);
    EXPECT_EQ(media_boxes(long_edge.data), (std::vector<std::string>{"0 0 420 595", "0 0 420 595"}));

    // The PPD's default feeds short edge first.
    const PrintedJob short_edge = print("jurvex", pdf, {"-o", "PageSize=A5"});
    EXPECT_EQ(count_of(short_edge.data, "PAPER=A5L"), 0);
    EXPECT_EQ(count_of(short_edge.data, owner_lines(short_edge.id)), 1);

    // A queue whose default is long edge first; the size comes as media=A5.
    const PrintedJob queue_default = print("jurvex-a5l", pdf, {"-o", "media=A5"});
    EXPECT_EQ(count_of(queue_default.data, owner_lines(queue_default.id) + header_a5l), 1);
}

// The page setup of every page carries the size the job chose in the PPD.
TEST_F(CupsJurvex, PageSetupCarriesThePpdSize)
{
    const std::string pdf = make_pdf(*docs_, "sizes", 2);
    const PrintedJob letter = print("jurvex", pdf, {"-o", "PageSize=Letter"});
    EXPECT_EQ(media_boxes(letter.data), (std::vector<std::string>{"0 0 612 792", "0 0 612 792"}));
    EXPECT_NE(letter.log.find("pagesize:Letter width:612,heigh:792"), std::string::npos) << letter.log;

    const PrintedJob custom = print("jurvex", pdf, {"-o", "PageSize=Custom.300x500"});
    EXPECT_EQ(media_boxes(custom.data), (std::vector<std::string>{"0 0 300 500", "0 0 300 500"}));
}

// Collated copies: the filter sends the whole job once per copy without the
// document's copy count. Uncollated: once, and the printer repeats each page.
TEST_F(CupsJurvex, CollatedCopiesAreWholeJobsUncollatedOnesThePrintersCount)
{
    const std::string pdf = make_pdf(*docs_, "copies", 2);
    const PrintedJob collated = print("jurvex", pdf, {"-n", "3", "-o", "collate=true"});
    const std::string chain = chain_postscript(varkon_ppd_path(kModel), pdf, "copies.pdf", {"copies=3", "collate=true"});
    const std::string one_copy =
        undated(rewritten_header(without_copy_count(chain), collated.id, "copies.pdf", owner_lines(collated.id)));
    EXPECT_EQ(undated(collated.data), one_copy + one_copy + one_copy);
    EXPECT_EQ(count_of(collated.data, kCopyCountBegin), 0);
    EXPECT_EQ(ps_page_count(collated.data), 6);

    for (const std::vector<std::string> &args : {std::vector<std::string>{"-n", "3"},
                                                 std::vector<std::string>{"-n", "3", "-o", "collate=false"}}) {
        const PrintedJob uncollated = print("jurvex", pdf, args);
        EXPECT_EQ(count_of(uncollated.data, kCopyCountBegin + " 3\n"), 1) << args.back();
        EXPECT_EQ(count_of(uncollated.data, "@PJL JOB NAME"), 1) << args.back();
        EXPECT_EQ(ps_page_count(uncollated.data), 2) << args.back();
    }
}

// CUPS takes any custom size; the filter refuses one the printer cannot feed
// before sending anything, and the job stops with the reason.
TEST_F(CupsJurvex, OversizeCustomPageStopsTheJobWithNothingSent)
{
    const std::string pdf = make_pdf(*docs_, "poster", 1);
    const PrintedJob job = print_file(*cupsd_, "jurvex", out_->path(), pdf, {"-o", "PageSize=Custom.700x900"});
    EXPECT_EQ(job.state, "processing-stopped") << job.log;
    EXPECT_EQ(job.data, "");
    // The refusal, and the scheduler's note that the job stopped on it; nothing else.
    const std::string problems = problem_lines(job.log);
    EXPECT_EQ(count_of(problems, "\n"), 2) << problems;
    EXPECT_NE(problems.find("] The current custom pager cannot be printed,please use the corrent paper\n"),
              std::string::npos)
        << problems;
    EXPECT_NE(problems.find("] Job stopped due to filter errors"), std::string::npos) << problems;
}

} // namespace
