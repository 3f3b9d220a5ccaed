// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarkon on a Halvex queue: PDF in, turned for long-edge duplex by qpdf,
// converted by the CUPS pdftops filter, streamed out; failures leave no output
// and no temporary file.
#include "ps_job_fixtures.h"
#include "run_process.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace varkon::test;

namespace {

class HalvexJob : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(tmp_);
        ppd_ = queue_ppd(dir_, Queue::Halvex, kHalvexDuplexOption);
    }

    ProcessResult run(const std::string &title, const std::string &job_options, const std::string &stdin_data,
                      const std::string &file = "") const
    {
        ProcessOptions o;
        o.env = {"PPD=" + ppd_, "TMPDIR=" + tmp_};
        o.unset = {"DEVICE_URI"};
        o.stdin_data = stdin_data;
        o.cwd = dir_.path();
        std::vector<std::string> argv = {built_program("pstoVarkon/pstoVarkon"), "17", "bob", title, "1",
                                         job_options};
        if (!file.empty())
            argv.push_back(file);
        return run_process(argv, o);
    }

    bool temp_dir_empty() const { return std::filesystem::is_empty(tmp_); }

    TempDir dir_;
    std::string tmp_ = dir_.file("tmp");
    std::string ppd_;
    NoSideChannel no_side_channel_;
};

TEST_F(HalvexJob, DuplexPdfBecomesPostScriptOfEveryPage)
{
    const std::string pdf = make_pdf(dir_, "five", 5);
    const ProcessResult r = run("report", "Duplex=DuplexNoTumble", read_file(pdf));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("%!PS", 0), 0u);
    EXPECT_EQ(ps_page_count(r.out), 5);
    EXPECT_NE(r.err.find("DEBUG:Successfully write print file to stdout.\n"), std::string::npos);
    EXPECT_EQ(r.err.find("The page count is"), std::string::npos);
    EXPECT_TRUE(temp_dir_empty());
}

TEST_F(HalvexJob, InputFileIsConvertedInPlaceAndKept)
{
    const std::string pdf = make_pdf(dir_, "two", 2);
    const std::string before = read_file(pdf);
    const ProcessResult r = run("report", "Duplex=DuplexNoTumble", "", pdf);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ps_page_count(r.out), 2);
    EXPECT_EQ(read_file(pdf), before);
    EXPECT_TRUE(temp_dir_empty());
}

// Nothing was printed, so the job fails instead of reporting success.
TEST_F(HalvexJob, FailedConversionEndsWithoutOutputAndFails)
{
    const ProcessResult r = run("report", "", "this is not a PDF document at all\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("ERROR: Unable to convert the PDF document to PostScript.\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("DEBUG: fail to change file from pdf to ps.\n"), std::string::npos) << r.err;
    EXPECT_TRUE(temp_dir_empty());
}

TEST_F(HalvexJob, TitleAndOptionsRunNothing)
{
    const std::string marker = dir_.file("ran");
    const std::string title = "q\"; touch " + marker + "; $(touch " + marker + ") `touch " + marker + "` '\n";
    const ProcessResult r = run(title, "Duplex=None x=\";touch " + marker + "\"", read_file(make_pdf(dir_, "one", 1)));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ps_page_count(r.out), 1);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(temp_dir_empty());
}

} // namespace
