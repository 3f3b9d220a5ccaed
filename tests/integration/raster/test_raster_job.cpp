// SPDX-License-Identifier: GPL-2.0-or-later
// The job loop of the real rastertoVarkon: command line, refused input, page
// contents as the printer would decode them, copies, duplex blank pages.
#include "filter_job.h"

#include "varkon_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <utility>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

decode::DecodedStream decoded(const ProcessResult &r)
{
    return decode::decode_stream(reinterpret_cast<const unsigned char *>(r.out.data()), r.out.size());
}

bool has_line(const std::string &log, const std::string &line) { return log.find(line) != std::string::npos; }

// A6 is small, and at 600 dpi its raster (2483 x 3500) is wider and taller
// than the platform-Z device image (2272 x 3260).
RasterPage a6_page(LineFill fill = {}) { return RasterPage(gray_header(298, 420), std::move(fill)); }

class RasterFilter : public ::testing::Test {
protected:
    void expect_clean(const FilterJob &job) { EXPECT_TRUE(job.leftovers().empty()) << job.leftovers().front(); }
};

TEST_F(RasterFilter, WrongArgumentCountsPrintTheUsageLine)
{
    FilterJob job(platform_ppd(2));
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"1", "user", "title", "1"}, {"1", "user", "title", "1", "", "file", "extra"}}) {
        const ProcessResult r = job.run_args(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, "ERROR: job-id user title copies options [file]\n");
        EXPECT_EQ(r.out, "");
    }
    expect_clean(job);
}

TEST_F(RasterFilter, AnEmptyStreamHasNoPagesAndSendsNothing)
{
    FilterJob job(platform_ppd(2));
    const ProcessResult r = job.run_stdin("");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has_line(r.err, "ERROR: No pages found!\n"));
    EXPECT_EQ(r.out, "");
    expect_clean(job);
}

TEST_F(RasterFilter, AnUnreadableRasterFileIsReported)
{
    FilterJob job(platform_ppd(2));
    const ProcessResult r = job.run_file(job.dir.file("missing.ras"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has_line(r.err, "ERROR: Unable to open raster file - : No such file or directory\n")) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(RasterFilter, PagesFromAFileOrStandardInputAreCountedAndPrinted)
{
    FilterJob job(platform_ppd(2));
    const std::string raster = make_raster({a6_page(), a6_page()});
    write_file(job.dir.file("job.ras"), raster);
    for (const ProcessResult &r : {job.run_stdin(raster), job.run_file(job.dir.file("job.ras"))}) {
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(has_line(r.err, "PAGE: 1 1\n"));
        EXPECT_TRUE(has_line(r.err, "PAGE: 2 1\n"));
        EXPECT_TRUE(has_line(r.err, "INFO: Ready to print.\n"));
        const decode::DecodedStream s = decoded(r);
        EXPECT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        EXPECT_EQ(s.platform, decode::Platform::Z);
        EXPECT_EQ(s.job_id, 42);
        EXPECT_TRUE(s.job_ended);
        ASSERT_EQ(s.pages.size(), 2u);
        EXPECT_EQ(s.pages[1].number, 2);
        EXPECT_EQ(s.pages[0].width, 2272u);
        EXPECT_EQ(s.pages[0].height, 3260u);
        EXPECT_EQ(s.pages[0].ink, 0u);
    }
    expect_clean(job);
}

TEST_F(RasterFilter, WideLinesAreCentredAndExtraRowsDropped)
{
    // The raster is 2483 pixels wide: the middle 2272 are printed, 105 are cut on the left.
    auto fill = [](unsigned y, unsigned char *line, unsigned bytes) {
        if (y < 64) {
            std::memset(line, 0, 105);                 // cut off
            std::memset(line + 105, 0, 64);            // the first 64 printed columns
            std::memset(line + bytes - 105, 0, 105);   // cut off
        }
        if (y >= 3260)
            std::memset(line, 0, bytes);               // below the device image
    };
    FilterJob job(platform_ppd(2));
    const ProcessResult r = job.run_stdin(make_raster({a6_page(fill)}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const decode::DecodedStream s = decoded(r);
    ASSERT_EQ(s.pages.size(), 1u);
    const decode::Page &p = s.pages[0];
    EXPECT_EQ(p.ink, 64u * 64u);
    EXPECT_EQ(p.level(0, 0), 1u);
    EXPECT_EQ(p.level(63, 63), 1u);
    EXPECT_EQ(p.level(64, 0), 0u);
    EXPECT_EQ(p.level(0, 64), 0u);
}

TEST_F(RasterFilter, ShortPagesStayWhiteBelowTheirLastRow)
{
    cups_page_header2_t h = gray_header(298, 420);
    h.cupsHeight = 100;
    FilterJob job(platform_ppd(3));
    const ProcessResult r = job.run_stdin(make_raster({RasterPage(h, fill_rect(0, 0, 5000, 100))}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const decode::DecodedStream s = decoded(r);
    ASSERT_EQ(s.pages.size(), 1u);
    EXPECT_EQ(s.pages[0].height, 3264u);
    EXPECT_EQ(s.pages[0].ink, 100u * s.pages[0].width);
}

TEST_F(RasterFilter, TheFirstPagesCopiesCountForTheWholeJob)
{
    cups_page_header2_t first = gray_header(298, 420), second = first;
    first.NumCopies = 3;
    second.NumCopies = 5;
    FilterJob job(platform_ppd(2));
    job.options = "Collate=true";
    const ProcessResult r = job.run_stdin(make_raster({RasterPage(first), RasterPage(second)}));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(has_line(r.err, "PAGE: 1 3\n"));
    EXPECT_TRUE(has_line(r.err, "PAGE: 2 5\n"));
    EXPECT_TRUE(has_line(r.err, "DEBUG: Spool file " + job.tmpdir + "/")) << r.err;
    const decode::DecodedStream s = decoded(r);
    EXPECT_EQ(s.copies, 3);
    ASSERT_EQ(s.pages.size(), 6u);
    for (const auto &page : s.pages)
        EXPECT_EQ(page.copies, 1);
    expect_clean(job);
}

TEST_F(RasterFilter, AnOddAutomaticDuplexJobEndsWithABlankSide)
{
    for (int platform : {1, 2}) {
        FilterJob job(platform_ppd(platform));
        job.options = "Duplex=DuplexNoTumble";
        const ProcessResult r =
            job.run_stdin(make_raster({a6_page(), a6_page(), a6_page(fill_rect(200, 200, 300, 300))}));
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const decode::DecodedStream s = decoded(r);
        EXPECT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        ASSERT_EQ(s.pages.size(), 4u);
        EXPECT_EQ(s.pages[3].number, 4);
        EXPECT_EQ(s.pages[3].ink, 0u);
        EXPECT_GT(s.pages[2].ink, 0u);
        EXPECT_TRUE(has_line(r.err, "DEBUG: ##page is 2, rotate180 is 1\n"));
        EXPECT_TRUE(has_line(r.err, "DEBUG: ##page is 3, rotate180 is 0\n"));
        // The blank side is made from the last page's header: 600 dpi stripes on platform C.
        for (const auto &item : s.items) {
            if (item.name == "raster image header" && platform == 1) {
                EXPECT_EQ(item.number("raster_height"), 768) << "at offset " << item.offset;
            }
        }
    }
}

TEST_F(RasterFilter, EveryPlatformPrintsAndThePlatformTextWorksWithoutAKnownModel)
{
    TestPpd byText = platform_ppd(0);
    byText.platform = "platform_c";
    const struct {
        TestPpd ppd;
        decode::Platform platform;
    } cases[] = {{platform_ppd(1), decode::Platform::C},
                 {platform_ppd(3), decode::Platform::M},
                 {byText, decode::Platform::C}};
    for (const auto &c : cases) {
        FilterJob job(c.ppd);
        const ProcessResult r = job.run_stdin(make_raster({a6_page(fill_rect(200, 200, 300, 300))}));
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const decode::DecodedStream s = decoded(r);
        EXPECT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        EXPECT_EQ(s.platform, c.platform);
        ASSERT_EQ(s.pages.size(), 1u);
        EXPECT_GT(s.pages[0].ink, 0u);
        EXPECT_TRUE(s.job_ended);
    }
}

TEST_F(RasterFilter, APpdWithoutAPlatformIsAnErrorNotASilentEmptyJob)
{
    FilterJob job(platform_ppd(0));
    const ProcessResult r = job.run_stdin(make_raster({a6_page()}));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has_line(r.err, "ERROR: The printer's PPD names no Varkon printer platform")) << r.err;
    EXPECT_FALSE(has_line(r.err, "INFO: Ready to print."));
    EXPECT_EQ(r.out, "");
}

TEST_F(RasterFilter, RasterThatIsNotEightBitGrayIsRefusedBeforeAnyByteIsSent)
{
    cups_page_header2_t mono = gray_header(298, 420);
    mono.cupsBitsPerColor = mono.cupsBitsPerPixel = 1;
    mono.cupsColorSpace = CUPS_CSPACE_K;
    mono.cupsBytesPerLine = (mono.cupsWidth + 7) / 8;
    FilterJob job(platform_ppd(2));
    const ProcessResult r = job.run_stdin(make_raster({RasterPage(mono)}));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has_line(r.err, "ERROR: The page is not 8-bit grayscale raster")) << r.err;
    EXPECT_FALSE(has_line(r.err, "PAGE:"));
    EXPECT_EQ(r.out, "");
    expect_clean(job);
}

TEST_F(RasterFilter, ARefusedLaterPageEndsTheJobCleanlyAfterThePrintedOnes)
{
    cups_page_header2_t huge = gray_header(298, 420);
    huge.cupsWidth = huge.cupsBytesPerLine = 1u << 20;
    huge.cupsHeight = 2;
    FilterJob job(platform_ppd(2));
    job.options = "Collate=true";
    cups_page_header2_t first = gray_header(298, 420);
    first.NumCopies = 2;
    const ProcessResult r = job.run_stdin(make_raster({RasterPage(first), RasterPage(huge)}));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has_line(r.err, "ERROR: The raster page is too large to be printed.\n")) << r.err;
    EXPECT_FALSE(has_line(r.err, "PAGE: 2"));
    const decode::DecodedStream s = decoded(r);
    EXPECT_TRUE(s.valid()) << decode::format_violation(*s.violation);
    EXPECT_TRUE(s.job_ended);
    // The job is ended as after any page that could not be made: the printed page's copies still follow.
    ASSERT_EQ(s.pages.size(), 2u);
    EXPECT_EQ(s.pages[0].number, 1);
    EXPECT_EQ(s.pages[1].number, 1);
    expect_clean(job);
}

TEST_F(RasterFilter, AnOversizePageSizeFromTheHeaderIsRefused)
{
    cups_page_header2_t h = gray_header(298, 420);
    h.PageSize[0] = 100000; // not in the table: its computed image would be 833,000 pixels wide
    FilterJob job(platform_ppd(2));
    const ProcessResult r = job.run_stdin(make_raster({RasterPage(h)}));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(has_line(r.err, "ERROR: The page size is")) << r.err;
    EXPECT_EQ(r.out, "");
}

// While the filter waits more than ten seconds for the next page, platforms C
// and Z get two zero bytes as keep-alive between the pages; platform M gets none.
TEST_F(RasterFilter, ALongWaitBetweenPagesSendsKeepAliveBytesOnlyBetweenFrames)
{
    const std::string one = make_raster({a6_page()});
    const std::string two = make_raster({a6_page(), a6_page()});
    FilterJob jobZ(platform_ppd(2)), jobM(platform_ppd(3));
    // Both slow jobs at once: each waits 10.5 seconds.
    auto slowZ = std::async(std::launch::async, [&] { return jobZ.run_paused(one, 10500, two.substr(one.size())); });
    auto slowM = std::async(std::launch::async, [&] { return jobM.run_paused(one, 10500, two.substr(one.size())); });
    const std::pair<ProcessResult, FilterJob *> slowRuns[] = {{slowZ.get(), &jobZ}, {slowM.get(), &jobM}};
    for (const auto &[slow, jobPtr] : slowRuns) {
        FilterJob &job = *jobPtr;
        const int platform = (jobPtr == &jobZ) ? 2 : 3;
        const ProcessResult quick = job.run_stdin(two);
        ASSERT_EQ(slow.exit_code, 0) << slow.err;
        const decode::DecodedStream s = decoded(slow);
        EXPECT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        EXPECT_EQ(s.pages.size(), 2u);
        const decode::DecodedStream q = decoded(quick);
        ASSERT_EQ(q.pages.size(), 2u);
        // Up to the end of page 1 the two streams have the same shape.
        EXPECT_EQ(s.pages[0].offset, q.pages[0].offset);
        const size_t extra = slow.out.size() - quick.out.size();
        if (platform == 3) {
            EXPECT_EQ(extra, 0u);
            continue;
        }
        EXPECT_EQ(extra, 2u);
        const size_t gap = s.pages[1].offset - q.pages[1].offset;
        EXPECT_EQ(gap, 2u);
        EXPECT_EQ(slow.out.compare(s.pages[1].offset, std::string::npos, quick.out, q.pages[1].offset), 0);
    }
}

} // namespace
