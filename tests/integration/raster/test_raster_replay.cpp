// SPDX-License-Identifier: GPL-2.0-or-later
// Spool replays, cancellation and a printer stream that cannot be written,
// through the real rastertoVarkon. No spool file may be left in TMPDIR.
#include "filter_job.h"

#include "varkon_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

decode::DecodedStream decoded(const std::string &out)
{
    return decode::decode_stream(reinterpret_cast<const unsigned char *>(out.data()), out.size());
}

bool has_line(const std::string &log, const std::string &line) { return log.find(line) != std::string::npos; }

std::vector<int> page_numbers(const decode::DecodedStream &s)
{
    std::vector<int> numbers;
    for (const auto &page : s.pages)
        numbers.push_back(page.number);
    return numbers;
}

// An A6 page with a pattern that compresses poorly, so the stream is large.
RasterPage busy_page(unsigned copies = 1)
{
    cups_page_header2_t h = gray_header(298, 420);
    h.NumCopies = copies;
    return RasterPage(h, [](unsigned y, unsigned char *line, unsigned bytes) {
        for (unsigned x = 0; x < bytes; ++x)
            line[x] = static_cast<unsigned char>((x * 37 + y * 101 + (x * y) % 17) & 0xFF);
    });
}

RasterPage marked_page(unsigned copies = 1)
{
    cups_page_header2_t h = gray_header(298, 420);
    h.NumCopies = copies;
    return RasterPage(h, fill_rect(300, 300, 400, 400));
}

TestPpd manual_duplex_ppd()
{
    TestPpd ppd = platform_ppd(2);
    ppd.supportManualDuplex = "TRUE";
    ppd.manualDuplexMessage = "Put the printed pages back into the tray, printed side down";
    return ppd;
}

TEST(Replay, CollatedCopiesRepeatTheFirstCopyByteForByte)
{
    FilterJob job(platform_ppd(2));
    job.options = "Collate=true";
    const ProcessResult r = job.run_stdin(make_raster({busy_page(3), busy_page(3)}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const decode::DecodedStream s = decoded(r.out);
    ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
    EXPECT_EQ(page_numbers(s), (std::vector<int>{1, 2, 1, 2, 1, 2}));
    // Between the job start and the 40-byte platform-Z job end (reset, end of job)
    // the stream is three identical copies of the spooled pages.
    const size_t copy = s.pages[2].offset - s.pages[0].offset;
    ASSERT_GT(r.out.size(), 40 + 3 * copy);
    const size_t start = r.out.size() - 40 - 3 * copy;
    EXPECT_LE(start, s.pages[0].offset);
    const std::string first = r.out.substr(start, copy);
    EXPECT_TRUE(r.out.compare(start + copy, copy, first) == 0);
    EXPECT_TRUE(r.out.compare(start + 2 * copy, copy, first) == 0);
    EXPECT_TRUE(s.job_ended);
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(Replay, ManualDuplexPrintsOddPagesThenTheBlankAndEvenPagesReversed)
{
    FilterJob job(manual_duplex_ppd());
    job.options = "Duplex=DuplexNoTumble"; // no duplexer: turned into manual duplex
    std::vector<RasterPage> pages(5, marked_page());
    const ProcessResult r = job.run_stdin(make_raster(pages));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(has_line(r.err, "DEBUG: ##ManualDuplex = 1, type is 0\n"));
    EXPECT_TRUE(has_line(r.err, "INFO:Put the printed pages back into the tray, printed side down\n"));
    const decode::DecodedStream s = decoded(r.out);
    ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
    EXPECT_EQ(page_numbers(s), (std::vector<int>{1, 3, 5, 6, 4, 2}));
    ASSERT_TRUE(s.manual_duplex_at.has_value());
    EXPECT_LT(s.pages[2].offset, *s.manual_duplex_at);
    EXPECT_GT(s.pages[3].offset, *s.manual_duplex_at);
    EXPECT_EQ(s.pages[3].ink, 0u);
    EXPECT_GT(s.pages[4].ink, 0u);
    EXPECT_TRUE(s.job_ended);
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(Replay, ManualDuplexInReverseOrderEndsWithTheBlankSide)
{
    FilterJob job(manual_duplex_ppd());
    job.options = "ManualDuplex=true outputorder=true";
    std::vector<RasterPage> pages(5, marked_page());
    const ProcessResult r = job.run_stdin(make_raster(pages));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const decode::DecodedStream s = decoded(r.out);
    ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
    EXPECT_EQ(page_numbers(s), (std::vector<int>{1, 3, 5, 4, 2, 6}));
    EXPECT_EQ(s.pages[5].ink, 0u);
    EXPECT_TRUE(job.leftovers().empty());
}

// The job is cancelled while the filter waits for the rest of its raster.
class CancelledJob : public ::testing::Test {
protected:
    ProcessResult run(FilterJob &job, const std::string &first, const std::string &rest)
    {
        job.process.sigterm_after_ms = 1000;
        return job.run_paused(first, 2500, rest);
    }
};

TEST_F(CancelledJob, BetweenPagesTheJobStillGetsItsEnd)
{
    for (int platform : {1, 2}) {
        FilterJob job(platform_ppd(platform));
        const std::string one = make_raster({marked_page()});
        const std::string two = make_raster({marked_page(), marked_page()});
        const ProcessResult r = run(job, one, two.substr(one.size()));
        EXPECT_EQ(r.exit_code, 0) << r.err;
        const decode::DecodedStream s = decoded(r.out);
        EXPECT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        EXPECT_EQ(s.pages.size(), 1u) << "platform " << platform;
        EXPECT_TRUE(s.job_ended) << "platform " << platform;
        EXPECT_TRUE(job.leftovers().empty());
    }
}

TEST_F(CancelledJob, DuringTheRowsOfAPlatformMPageTheProgramStopsWithoutJobEnd)
{
    FilterJob job(platform_ppd(3));
    job.options = "Collate=true";
    const std::string raster = make_raster({busy_page(2)});
    const ProcessResult r = run(job, raster.substr(0, raster.size() / 2), raster.substr(raster.size() / 2));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const decode::DecodedStream s = decoded(r.out);
    EXPECT_TRUE(s.job_started);
    EXPECT_FALSE(s.job_ended);
    EXPECT_TRUE(s.pages.empty());
    EXPECT_TRUE(job.leftovers().empty());
}

// Runs the filter with standard output replaced by `redirect` (a shell
// fragment that gets the filter's stream on its standard input, or "> FILE").
ProcessResult run_redirected(FilterJob &job, const std::string &raster_path, const std::string &redirect)
{
    const std::string script = "{ \"$0\" \"$@\"; echo \"filter-exit=$?\" >&2; } " + redirect;
    ProcessOptions options = job.process;
    options.env.push_back("PPD=" + job.ppd_path);
    options.env.push_back("TMPDIR=" + job.tmpdir);
    options.timeout_ms = 30000;
    return run_process({"/bin/sh", "-c", script, built_program("rastertoVarkon/rastertoVarkon"), job.job_id, "user",
                        job.title, "1", job.options, raster_path},
                       options);
}

TEST(BrokenOutput, AFullDiskEndsTheJobWithAnError)
{
    FilterJob job(platform_ppd(2));
    job.options = "Collate=true";
    write_raster_file(job.dir.file("job.ras"), {busy_page(3), busy_page(3)});
    const ProcessResult r = run_redirected(job, job.dir.file("job.ras"), "> /dev/full");
    EXPECT_FALSE(r.timed_out);
    EXPECT_TRUE(has_line(r.err, "filter-exit=1\n")) << r.err;
    EXPECT_TRUE(has_line(r.err, "ERROR: The printer data could not be sent: No space left on device\n")) << r.err;
    EXPECT_FALSE(has_line(r.err, "INFO: Ready to print."));
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(BrokenOutput, ABackendThatStopsReadingDuringTheCopiesEndsTheJobWithAnError)
{
    FilterJob job(platform_ppd(2));
    job.options = "Collate=true";
    write_raster_file(job.dir.file("job.ras"), {busy_page(50)});
    // The reader goes away after the first copy; the replay of 49 more must give up.
    const ProcessResult one = job.run_file(job.dir.file("job.ras"));
    const decode::DecodedStream s = decoded(one.out);
    ASSERT_GE(s.pages.size(), 2u);
    const size_t firstCopyEnd = s.pages[1].offset;
    const ProcessResult r =
        run_redirected(job, job.dir.file("job.ras"), "| head -c " + std::to_string(firstCopyEnd) + " > /dev/null");
    EXPECT_FALSE(r.timed_out);
    EXPECT_TRUE(has_line(r.err, "filter-exit=1\n")) << r.err;
    EXPECT_TRUE(has_line(r.err, "ERROR: The printer data could not be sent: Broken pipe\n")) << r.err;
    EXPECT_TRUE(job.leftovers().empty());
}

} // namespace
