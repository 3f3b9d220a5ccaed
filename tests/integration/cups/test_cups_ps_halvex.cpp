// SPDX-License-Identifier: GPL-2.0-or-later
// A Halvex queue of the private cupsd: pdftopdf hands pstoVarkon PDF, which
// it turns for long-edge duplex and converts with the CUPS pdftops filter.
// The printer data is PostScript of the document's pages, the even ones
// turned exactly when the job is two-sided on the long edge, with the copies
// made before the filter. The device ID the backend answers decides the
// family, whatever the PPD's nickname says.
#include "cups_ps_jobs.h"
#include "cupsd_harness.h"
#include "ps_job_fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace varkon::test;

const char kModel[] = "Varkon Halvex41d Series PS";
const char kHalvexId[] = "MFG:Varkon;MDL:Halvex41d series;CMD:PJL,POSTSCRIPT;CLS:PRINTER;";
constexpr auto U = PageWay::Upright;
constexpr auto T = PageWay::Turned;

std::string replace_line(std::string text, const std::string &start, const std::string &line)
{
    const size_t at = text.find("\n" + start);
    if (at != std::string::npos)
        text.replace(at + 1, text.find('\n', at + 1) - at - 1, line);
    return text;
}

class CupsHalvex : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        cupsd_ = new CupsdHarness();
        out_ = new TempDir();
        docs_ = new TempDir();
        ASSERT_EQ(cupsd_->add_queue("halvex", varkontest_uri(out_->path() + "/"), varkon_ppd_name(kModel)).exit_code, 0);
        five_pages_ = new std::string(make_pdf(*docs_, "five", 5));
    }
    static void TearDownTestSuite()
    {
        delete cupsd_;
        delete out_;
        delete docs_;
        delete five_pages_;
    }

    PrintedJob print(const std::string &queue, const std::string &pdf, const std::vector<std::string> &lp_args = {})
    {
        PrintedJob job = print_file(*cupsd_, queue, out_->path(), pdf, lp_args);
        EXPECT_TRUE(job.completed()) << job.state << "\n" << job.log;
        EXPECT_EQ(problem_lines(job.log), "");
        return job;
    }

    // Checks that the job went the Halvex way and gives the way up of its pages.
    std::vector<PageWay> converted_pages(const PrintedJob &job)
    {
        EXPECT_NE(job.log.find("Successfully write print file to stdout."), std::string::npos) << job.log;
        EXPECT_NE(job.data.find("\n%!PS-Adobe-3.0\n"), std::string::npos) << job.data.substr(0, 300);
        const std::string path = docs_->file("job-" + std::to_string(job.id) + ".ps");
        write_file(path, job.data);
        return page_ways(path);
    }

    static CupsdHarness *cupsd_;
    static TempDir *out_, *docs_;
    static std::string *five_pages_;
};

CupsdHarness *CupsHalvex::cupsd_ = nullptr;
TempDir *CupsHalvex::out_ = nullptr;
TempDir *CupsHalvex::docs_ = nullptr;
std::string *CupsHalvex::five_pages_ = nullptr;

TEST_F(CupsHalvex, LongEdgeDuplexTurnsTheEvenPages)
{
    ASSERT_EQ(page_ways(*five_pages_), (std::vector<PageWay>{U, U, U, U, U}));
    const PrintedJob job = print("halvex", *five_pages_, {"-o", "sides=two-sided-long-edge"});
    EXPECT_EQ(converted_pages(job), (std::vector<PageWay>{U, T, U, T, U}));
    EXPECT_EQ(ps_page_count(job.data), 5);
    EXPECT_EQ(count_of(job.data, "<</Duplex true/Tumble false>>setpagedevice"), 1);
}

TEST_F(CupsHalvex, OneSidedAndShortEdgeJobsKeepEveryPageUpright)
{
    const PrintedJob one_sided = print("halvex", *five_pages_);
    EXPECT_EQ(converted_pages(one_sided), (std::vector<PageWay>{U, U, U, U, U}));

    const PrintedJob short_edge = print("halvex", *five_pages_, {"-o", "sides=two-sided-short-edge"});
    EXPECT_EQ(converted_pages(short_edge), (std::vector<PageWay>{U, U, U, U, U}));
    EXPECT_EQ(count_of(short_edge.data, "<</Duplex true/Tumble true>>setpagedevice"), 1);
}

// A queue whose default is long edge: the job's own choice still decides.
TEST_F(CupsHalvex, AJobsOwnChoiceWinsOverALongEdgeQueueDefault)
{
    ASSERT_EQ(cupsd_->add_queue("halvex-long", varkontest_uri(out_->path() + "/"), varkon_ppd_name(kModel)).exit_code, 0);
    ASSERT_EQ(cupsd_->run({"lpadmin", "-p", "halvex-long", "-o", "Duplex=DuplexNoTumble"}).exit_code, 0);

    EXPECT_EQ(converted_pages(print("halvex-long", *five_pages_)), (std::vector<PageWay>{U, T, U, T, U}));
    EXPECT_EQ(converted_pages(print("halvex-long", *five_pages_, {"-o", "sides=one-sided"})),
              (std::vector<PageWay>{U, U, U, U, U}));
    EXPECT_EQ(converted_pages(print("halvex-long", *five_pages_, {"-o", "sides=two-sided-short-edge"})),
              (std::vector<PageWay>{U, U, U, U, U}));
}

// The filter converts a single copy, so pdftopdf makes them all and the
// PostScript asks the printer for none.
TEST_F(CupsHalvex, CopiesAreMadeBeforeTheFilter)
{
    const std::string pdf = make_pdf(*docs_, "three", 3);
    const PrintedJob job = print("halvex", pdf, {"-n", "2", "-o", "collate=true"});
    // pdftopdf's PDF is what the PPD's filter type asks for.
    EXPECT_NE(job.log.find("pdftopdf (application/pdf to application/vnd.cups-pdf"), std::string::npos) << job.log;
    EXPECT_NE(job.log.find("pstoVarkon (application/vnd.cups-pdf to printer/halvex"), std::string::npos) << job.log;
    EXPECT_EQ(converted_pages(job), (std::vector<PageWay>{U, U, U, U, U, U}));
    EXPECT_EQ(ps_page_count(job.data), 6);
    EXPECT_EQ(count_of(job.data, "NumCopies 2"), 0);
}

// A queue whose PPD nickname names no family, on a printer that reports a
// Halvex device ID, prints the Halvex way.
TEST_F(CupsHalvex, HalvexDeviceIdMakesAnyQueueHalvex)
{
    const std::string plain = replace_line(read_file(varkon_ppd_path(kModel)), "*ShortNickName:",
                                           "*ShortNickName: \"Office Printer\"");
    ASSERT_EQ(count_of(plain, "\n*ShortNickName: \"Office Printer\"\n"), 1);
    const std::string ppd = docs_->file("office.ppd");
    write_file(ppd, plain);
    ASSERT_EQ(cupsd_->add_queue("office", varkontest_uri(out_->path() + "/", kHalvexId), ppd).exit_code, 0);

    const PrintedJob job = print("office", *five_pages_, {"-o", "sides=two-sided-long-edge"});
    // The scheduler's log escapes the quotes.
    EXPECT_NE(job.log.find(std::string("answering \\\"") + kHalvexId + "\\\""), std::string::npos) << job.log;
    EXPECT_EQ(converted_pages(job), (std::vector<PageWay>{U, T, U, T, U}));
}

// The device ID wins over the nickname the other way too: a Halvex PPD on a
// printer outside the family gets the chain's PDF unchanged.
TEST_F(CupsHalvex, OtherDeviceIdOnAHalvexQueueGetsThePdfUnchanged)
{
    ASSERT_EQ(cupsd_->add_queue("other", varkontest_uri(out_->path() + "/", "MFG:Varkon;MDL:Office 7;CLS:PRINTER;"),
                                varkon_ppd_name(kModel))
                  .exit_code,
              0);
    const PrintedJob job = print("other", *five_pages_, {"-o", "sides=two-sided-long-edge"});
    EXPECT_EQ(job.data.rfind("%PDF-", 0), 0u) << job.data.substr(0, 100);
    EXPECT_EQ(job.log.find("Successfully write print file to stdout."), std::string::npos);
    const std::string path = docs_->file("other.pdf");
    write_file(path, job.data);
    EXPECT_EQ(page_ways(path), (std::vector<PageWay>{U, U, U, U, U}));
}

} // namespace
