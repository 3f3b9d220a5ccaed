// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarkon on a Jurvex queue: the real filter rewrites real PostScript jobs
// (made with ghostscript and pdftops), refuses oversize custom pages, makes
// collated copies and cuts a cancelled job at a page boundary.
#include "ps_job_fixtures.h"
#include "run_process.h"
#include "write_all.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

using namespace varkon::test;

namespace {

const std::string kCopyCountBlock = "%RBIBeginNonPPDFeature: *NumCopies 3\n3 dup /NumCopies exch def\n"
                                    "%RBIEndNonPPDFeature\n";
const std::string kMediaSelection = "<<DeferredMediaSelection true /PageSize [595 842]>>setpagedevice\n";

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class JurvexJob : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(tmp_);
        ppd_ = queue_ppd(dir_, Queue::Jurvex);
    }

    // A Jurvex job as the printer expects it: PJL header, then the PostScript
    // with a copy-count block and a media-selection dictionary in its setup.
    std::string jurvex_job(const std::string &postscript) const
    {
        std::string setup = postscript;
        const std::size_t at = setup.find("%%EndComments\n");
        const std::size_t insert = at == std::string::npos ? setup.find('\n') + 1 : at + 14;
        setup.insert(insert, kCopyCountBlock + kMediaSelection);
        return kJobNameLine + "@PJL ENTER LANGUAGE = POSTSCRIPT\r\n" + setup;
    }

    std::string poppler_job(int pages) const
    {
        return jurvex_job(read_file(pdf_to_ps_poppler(make_pdf(dir_, "doc", pages), dir_.file("poppler.ps"))));
    }

    std::string ps2write_job(int pages, int w = 595, int h = 842) const
    {
        return jurvex_job(read_file(pdf_to_ps2write(make_pdf(dir_, "doc", pages, w, h), dir_.file("gs.ps"))));
    }

    // The PJL lines the filter adds after the job-name line.
    std::string owner_lines(const std::string &job_id, bool a5) const
    {
        return "@PJL SET JOBOWNER=\"" + host_name() + "\"\r\n@PJL SET JOBID=" + job_id + "\r\n" +
               (a5 ? "@PJL SET PAPER=A5L\r\n" : "");
    }

    ProcessOptions options(const std::string &stdin_data = "") const
    {
        ProcessOptions o;
        o.env = {"PPD=" + ppd_, "TMPDIR=" + tmp_, "CUPS_SERVER=" + dir_.file("no-cupsd"),
                 "HOME=" + dir_.path()};
        o.unset = {"DEVICE_URI"};
        o.stdin_data = stdin_data;
        return o;
    }

    ProcessResult run(const std::string &copies, const std::string &job_options, const ProcessOptions &o,
                      const std::string &file = "") const
    {
        std::vector<std::string> argv = {built_program("pstoVarkon/pstoVarkon"), "42", "alice", "report", copies,
                                         job_options};
        if (!file.empty())
            argv.push_back(file);
        argv[0] = built_program("pstoVarkon/pstoVarkon");
        return run_process(argv, o);
    }

    bool temp_dir_empty() const { return std::filesystem::is_empty(tmp_); }

    TempDir dir_;
    std::string tmp_ = dir_.file("tmp");
    std::string ppd_;
    NoSideChannel no_side_channel_;
};

TEST_F(JurvexJob, HeaderPageSetupAndMediaSelectionAreRewritten)
{
    const std::string job = poppler_job(3);
    ASSERT_EQ(count_of(job, "595 842 pdfSetupPaper\n"), 3);
    const ProcessResult r = run("1", "PageSize=A5 FeedEdge=LongEdge", options(job));
    ASSERT_EQ(r.exit_code, 0) << r.err;

    std::string expected = replace_all(job, "595 842 pdfSetupPaper\n", "420 595 pdfSetupPaper\n");
    expected = replace_all(expected, kJobNameLine, kJobNameLine + owner_lines("42", true));
    expected = replace_all(expected, "<<DeferredMediaSelection", "<</DeferredMediaSelection");
    EXPECT_EQ(r.out, expected + kEndOfJob);
    EXPECT_NE(r.out.find("/pdfSetupPaper {"), std::string::npos);
    EXPECT_NE(r.out.find(kCopyCountBlock), std::string::npos);
    EXPECT_NE(r.err.find("cups api can't find 1284 information.\n"), std::string::npos);
    EXPECT_TRUE(temp_dir_empty());
}

TEST_F(JurvexJob, PageDictionariesTakeThePpdSizeAndTheInputFileStays)
{
    const std::string input = dir_.file("input.ps");
    const std::string job = ps2write_job(2);
    write_file(input, job);
    const ProcessResult r = run("1", "PageSize=Letter", options(), input);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "\n<</Type/Page/MediaBox [0 0 612 792]\n"), 2);
    EXPECT_EQ(count_of(r.out, "MediaBox [0 0 595 842]"), 0);
    EXPECT_EQ(count_of(r.out, owner_lines("42", false)), 1);
    EXPECT_EQ(count_of(r.out, "PAPER=A5L"), 0);
    // The input CUPS hands over is neither changed nor removed.
    EXPECT_EQ(read_file(input), job);
    EXPECT_TRUE(temp_dir_empty());
}

TEST_F(JurvexJob, LongLinesAreRewrittenWholeAndInOrder)
{
    const std::string padding(3000, 'p');
    const std::string job = kJobNameLine + "%!PS-Adobe-3.0\n/" + padding + " pop\n" + padding +
                            " <<DeferredMediaSelection true>>setpagedevice\n%%Page: 1 1\n/" + padding +
                            " 595 842 pdfSetupPaper\nshowpage\n%%EOF\n";
    const ProcessResult r = run("1", "PageSize=A5", options(job));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, kJobNameLine + owner_lines("42", true) + "%!PS-Adobe-3.0\n/" + padding + " pop\n" + padding +
                         " <</DeferredMediaSelection true>>setpagedevice\n%%Page: 1 1\n420 595 pdfSetupPaper\n"
                         "showpage\n%%EOF\n" + kEndOfJob);
}

TEST_F(JurvexJob, UnknownPageSizeLeavesPageSetupAlone)
{
    const std::string job = poppler_job(2);
    const ProcessResult r = run("1", "PageSize=Tabloid", options(job));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "595 842 pdfSetupPaper\n"), 2);
}

TEST_F(JurvexJob, CollatedCopiesAreMadeByTheFilter)
{
    const std::string job = poppler_job(2);
    const ProcessResult r = run("3", "collate=true PageSize=A4", options(job));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string one_copy = replace_all(job, kCopyCountBlock, "");
    one_copy = replace_all(one_copy, kJobNameLine, kJobNameLine + owner_lines("42", false));
    one_copy = replace_all(one_copy, "<<DeferredMediaSelection", "<</DeferredMediaSelection") + kEndOfJob;
    EXPECT_EQ(r.out, one_copy + one_copy + one_copy);
    EXPECT_TRUE(temp_dir_empty()) << "the spool copy next to the working file is removed";
}

TEST_F(JurvexJob, CollatedCopiesOfAnInputFileRemoveOnlyTheSpoolCopy)
{
    const std::string input = dir_.file("input.ps");
    write_file(input, poppler_job(1));
    const ProcessResult r = run("2", "Collate=True", options(), input);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(count_of(r.out, kJobNameLine), 2);
    EXPECT_EQ(count_of(r.out, "%RBIBeginNonPPDFeature"), 0);
    EXPECT_TRUE(std::filesystem::exists(input));
    EXPECT_FALSE(std::filesystem::exists(input + "_m"));
}

TEST_F(JurvexJob, ASpoolCopyNameThatIsTakenIsNeitherReusedNorRemoved)
{
    const std::string input = dir_.file("input.ps");
    write_file(input, poppler_job(1));
    write_file(input + "_m", "someone else's file");
    const ProcessResult r = run("2", "Collate=True", options(), input);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(count_of(r.out, kJobNameLine), 2);
    EXPECT_EQ(read_file(input + "_m"), "someone else's file");
    EXPECT_NE(r.err.find("Uable create temp file error! \n"), std::string::npos);
}

TEST_F(JurvexJob, NoCollateInAnyLetterCaseKeepsOneCopy)
{
    const std::string job = poppler_job(1);
    const ProcessResult r = run("3", "Collate=True NOCOLLATE", options(job));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(count_of(r.out, kJobNameLine), 1);
    EXPECT_EQ(count_of(r.out, kCopyCountBlock), 1);
}

TEST_F(JurvexJob, CustomSizesOutsideThePrinterRangeAreRefused)
{
    const std::string fits = ps2write_job(1, 612, 1010);
    const ProcessResult ok = run("1", "PageSize=Custom.612x1010", options(fits));
    EXPECT_EQ(ok.exit_code, 0) << ok.err;
    EXPECT_FALSE(ok.out.empty());

    const std::string too_long = ps2write_job(1, 612, 1011);
    const ProcessResult refused = run("1", "PageSize=Custom.612x1011", options(too_long));
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("ERROR:The current custom pager cannot be printed,please use the corrent paper\n"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(temp_dir_empty());
}

TEST_F(JurvexJob, WrongArgumentCountsAreRefusedWithAUsageLine)
{
    for (const std::vector<std::string> &argv :
         {std::vector<std::string>{built_program("pstoVarkon/pstoVarkon"), "1", "u", "t", "1"},
          std::vector<std::string>{built_program("pstoVarkon/pstoVarkon"), "1", "u", "t", "1", "", "f", "x"}}) {
        const ProcessResult r = run_process(argv, options("%!PS\n"));
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("ERROR:", 0), 0u) << r.err;
    }
}

TEST_F(JurvexJob, OtherPrintersGetTheJobUnchanged)
{
    ppd_ = write_ppd(dir_, "other", "Varkon Laser PS");
    const std::string job = poppler_job(2);
    const std::string input = dir_.file("input.ps");
    write_file(input, job);
    const ProcessResult from_file = run("3", "Collate=True PageSize=A5", options(), input);
    EXPECT_EQ(from_file.exit_code, 0);
    EXPECT_EQ(from_file.out, job);
    const ProcessResult from_stdin = run("1", "", options(job));
    EXPECT_EQ(from_stdin.out, job + kEndOfJob);
    EXPECT_TRUE(temp_dir_empty());
}

// Cancellation: the job arrives through a FIFO in two parts, and SIGTERM comes
// while the filter waits for the second.
class CancelledJob : public JurvexJob {
protected:
    ProcessResult run_split(const std::string &first, const std::string &second, const std::string &job_options,
                            const std::string &copies = "1")
    {
        const std::string fifo = dir_.file("job.fifo");
        mkfifo(fifo.c_str(), 0600);
        // A filter that fails before opening or reading the FIFO must not hang the test.
        signal(SIGPIPE, SIG_IGN);
        std::thread feeder([&] {
            const int fd = open_writer(fifo);
            if (fd < 0)
                return;
            varkon::write_all(fd, first);
            std::this_thread::sleep_for(std::chrono::milliseconds(3000));
            varkon::write_all(fd, second);
            close(fd);
        });
        ProcessOptions o = options();
        o.sigterm_after_ms = 1500;
        const ProcessResult r = run(copies, job_options, o, fifo);
        feeder.join();
        return r;
    }

    // The FIFO's write end, once the filter has opened the read end; -1 after 20 s.
    static int open_writer(const std::string &fifo)
    {
        for (int attempt = 0; attempt < 2000; ++attempt) {
            const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                return fd;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
};

TEST_F(CancelledJob, OutputStopsBeforeTheNextPageWithTheTrailer)
{
    const std::string job = poppler_job(3);
    const std::size_t page2 = job.find("%%Page: 2 2\n");
    ASSERT_NE(page2, std::string::npos);
    const ProcessResult r = run_split(job.substr(0, page2), job.substr(page2), "PageSize=A4");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string expected = replace_all(job.substr(0, page2), kJobNameLine, kJobNameLine + owner_lines("42", false));
    expected = replace_all(expected, "<<DeferredMediaSelection", "<</DeferredMediaSelection");
    EXPECT_EQ(r.out, expected + kTrailer);
    EXPECT_EQ(r.out.size() - expected.size(), 69u);
    EXPECT_NE(r.err.find("cancel_job =1\n"), std::string::npos);
    EXPECT_TRUE(temp_dir_empty());
}

TEST_F(CancelledJob, CollatedJobEndsWithOneTrailerAndNoFurtherCopy)
{
    const std::string job = poppler_job(3);
    const std::size_t page2 = job.find("%%Page: 2 2\n");
    const ProcessResult r = run_split(job.substr(0, page2), job.substr(page2), "Collate=True PageSize=A4", "3");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string expected = replace_all(job.substr(0, page2), kCopyCountBlock, "");
    expected = replace_all(expected, kJobNameLine, kJobNameLine + owner_lines("42", false));
    expected = replace_all(expected, "<<DeferredMediaSelection", "<</DeferredMediaSelection");
    EXPECT_EQ(r.out, expected + kTrailer);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("job.fifo_m")));
}

TEST_F(CancelledJob, JobWithoutAFurtherPageIsWrittenToItsEnd)
{
    const std::string job = poppler_job(2);
    const std::size_t split = job.find('\n', job.find("%%Page: 2 2\n")) + 1;
    const ProcessResult r = run_split(job.substr(0, split), job.substr(split), "PageSize=A4");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "%%Page:"), 2);
    EXPECT_EQ(r.out.find("%%Trailer\nend\n%%Pages: 4"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 6), "%%EOF\n");
}

TEST_F(CancelledJob, OtherPrintersAreCutAtTheNextPageStartToo)
{
    ppd_ = write_ppd(dir_, "other", "Varkon Laser PS");
    const std::string job = poppler_job(30);
    const std::size_t split = job.find("%%Page: 25 25\n");
    // The copy goes by 8192-byte blocks: the block that was waiting for the
    // rest of the job is cut at its first page start.
    const std::size_t block = split / 8192 * 8192;
    ASSERT_EQ(job.substr(block, 8192).find("%%EndSetup"), std::string::npos);
    const ProcessResult r = run_split(job.substr(0, split), job.substr(split), "");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::size_t cut = job.find("%%Page:", block);
    ASSERT_LE(cut, split);
    EXPECT_EQ(r.out, job.substr(0, cut) + kTrailer);
}

TEST_F(CancelledJob, OtherPrintersPassTheBlockThatEndsTheSetupWhole)
{
    ppd_ = write_ppd(dir_, "other", "Varkon Laser PS");
    const std::string job = poppler_job(3);
    const std::size_t split = job.find("%%Page: 3 3\n");
    const std::size_t block = split / 8192 * 8192;
    ASSERT_NE(job.substr(block, 8192).find("%%EndSetup\n%%Page:"), std::string::npos);
    const ProcessResult r = run_split(job.substr(0, split), job.substr(split), "");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, job);
}

} // namespace
