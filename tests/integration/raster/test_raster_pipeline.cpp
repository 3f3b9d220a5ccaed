// SPDX-License-Identifier: GPL-2.0-or-later
// The page pipeline of the real filter. At every encoder thread count the printer
// stream is the same byte for byte, and every decoded page is what the plain
// pipeline makes of its raster: the gray page filled white, rows centred, turned
// for duplex or long-edge feed, then dithered by the reference loop. A row whose
// read the cancellation cuts short is white.
#include "filter_job.h"
#include "job_context.h"

#include "dither.h"
#include "page_transforms.h"
#include "platform.h"
#include "prnt.h"
#include "varkon_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

const char *const kThreadCounts[] = {"1", "2", "8"};

// Strokes, a gray ramp and a black frame; different on every page.
LineFill busy_fill(unsigned page)
{
    return [page](unsigned y, unsigned char *line, unsigned bytes) {
        for (unsigned x = 0; x < bytes; ++x) {
            const unsigned cell = (x / 23) * 7919u + (y / 41) * 104729u + page * 15485863u;
            if (x < 40 || x + 40 >= bytes || y < 30)
                line[x] = 0;
            else if (y > 900 && y < 1700 && x > 300 && x < 1900)
                line[x] = static_cast<unsigned char>((x + 2 * y + 60 * page) % 256);
            else if ((cell ^ (cell >> 7)) % 5 == 0 && (x % 23) < 15 && (y % 41) < 30)
                line[x] = static_cast<unsigned char>(page * 40 % 128);
        }
    };
}

struct TestPage {
    unsigned widthPt, heightPt;
    long rows; // -1: all
};

// A6 (its raster is wider and taller than the device image of C and Z), an A5
// page (turned by a quarter when fed long edge), and a last page cut off early.
const TestPage kPages[] = {{298, 420, -1}, {298, 420, -1}, {420, 595, -1}, {298, 420, -1}, {298, 420, 1800}};

// The cut page is printed whole, blank below its last line, and the job fails.
// Of its 1800 lines the last 100, white, never left the CUPS writer.
void expect_cut_last_page(const ProcessResult &r)
{
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find("ERROR: The raster data of page 5 end after 1700 of its 3500 lines;"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("INFO: Ready to print."), std::string::npos);
}

// The CUPS writer holds back a run of equal lines until a different one or the
// page end comes, so a cut-off page ends with white lines, whose loss changes nothing.
LineFill cut_off(LineFill fill, unsigned rows)
{
    return [fill, rows](unsigned y, unsigned char *line, unsigned bytes) {
        if (y + 100 < rows)
            fill(y, line, bytes);
    };
}

std::vector<RasterPage> raster_pages()
{
    std::vector<RasterPage> pages;
    unsigned n = 0;
    for (const TestPage &p : kPages) {
        LineFill fill = busy_fill(n++);
        if (p.rows >= 0)
            fill = cut_off(fill, static_cast<unsigned>(p.rows));
        pages.emplace_back(gray_header(p.widthPt, p.heightPt), fill, p.rows);
    }
    return pages;
}

struct FilterRun {
    std::string threads;
    ProcessResult result;
};

std::vector<FilterRun> run_at_every_count(int platform, const std::string &options, const std::string &raster)
{
    std::vector<FilterRun> runs;
    for (const char *threads : kThreadCounts) {
        FilterJob job(platform_ppd(platform));
        job.options = options;
        job.process.env.push_back(std::string("VARKON_THREADS=") + threads);
        runs.push_back({threads, job.run_stdin(raster)});
        expect_cut_last_page(runs.back().result);
        EXPECT_TRUE(job.leftovers().empty());
    }
    return runs;
}

decode::DecodedStream decoded(const std::string &stream)
{
    return decode::decode_stream(reinterpret_cast<const unsigned char *>(stream.data()), stream.size());
}

struct Job {
    int platform;
    std::string options;
};

const Job kJobs[] = {
    {PLATFORM_C, ""},
    {PLATFORM_Z, ""},
    {PLATFORM_M, ""},
    {PLATFORM_C, "Duplex=DuplexNoTumble FeedLongEdge=True"},
    {PLATFORM_Z, "Duplex=DuplexNoTumble FeedLongEdge=True"},
    {PLATFORM_M, "Duplex=DuplexNoTumble FeedLongEdge=True"},
    {PLATFORM_C, "NegativePrint=True DPI1200=True Duplex=DuplexTumble ImageRotation=True"},
    {PLATFORM_Z, "NegativePrint=True DPI1200=True"},
    {PLATFORM_M, "DPI1200=True Duplex=DuplexNoTumble"},
    {PLATFORM_M, "NegativePrint=True"},
};

TEST(PagePipeline, EveryCountSendsTheSameStream)
{
    const std::string raster = make_raster(raster_pages());
    for (const Job &job : kJobs) {
        const std::vector<FilterRun> runs = run_at_every_count(job.platform, job.options, raster);
        const std::string single = without_job_time(runs.front().result.out);
        const decode::DecodedStream s = decoded(runs.front().result.out);
        ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        ASSERT_GE(s.pages.size(), std::size(kPages)) << job.options;
        for (const FilterRun &run : runs)
            EXPECT_TRUE(without_job_time(run.result.out) == single)
                << "platform " << job.platform << ", \"" << job.options << "\", " << run.threads
                << " threads: " << decode::format_summary(decoded(run.result.out));
    }
}

TEST(PagePipeline, CollatedCopiesAreTheSameAtEveryCount)
{
    std::vector<RasterPage> pages = raster_pages();
    for (RasterPage &page : pages)
        page.header.NumCopies = 2;
    const std::string raster = make_raster(pages);
    for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
        const std::vector<FilterRun> runs = run_at_every_count(platform, "Collate=True", raster);
        const decode::DecodedStream s = decoded(runs.front().result.out);
        ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        EXPECT_EQ(s.pages.size(), 2 * std::size(kPages)) << "platform " << platform;
        for (const FilterRun &run : runs)
            EXPECT_TRUE(without_job_time(run.result.out) == without_job_time(runs.front().result.out))
                << "platform " << platform << ", " << run.threads << " threads";
    }
}

// What the plain pipeline prints for one raster page: its rows in a white gray
// page of the device size (centred when wider), the turns, the reference dither.
struct Expected {
    std::vector<unsigned char> bits;
    uint32_t coverage = 0;
};

Expected expected_page(const RasterPage &page, uint32_t deviceW, uint32_t deviceH, bool halfTurn, bool quarterTurn,
                       int negative, int b1200dpi, int platform)
{
    const uint32_t W = deviceW, H = deviceH; // before any turn
    const uint32_t bpl = page.header.cupsBytesPerLine;
    const uint32_t rows = page.rows < 0 ? page.header.cupsHeight : static_cast<uint32_t>(page.rows);
    std::vector<unsigned char> gray(size_t{W} * H, 255), line(bpl);
    for (uint32_t y = 0; y < std::min(rows, H); ++y) {
        std::fill(line.begin(), line.end(), 255);
        page.fill(y, line.data(), bpl);
        if (bpl <= W)
            std::memcpy(&gray[size_t{y} * W], line.data(), bpl);
        else
            std::memcpy(&gray[size_t{y} * W], line.data() + (bpl - W) / 2, W);
    }
    uint32_t realWidth = std::min(bpl, W), width = W, height = H;
    if (halfTurn)
        Rotate180(gray.data(), W, H);
    if (quarterTurn) {
        Rotate90(gray.data(), W, H);
        std::swap(width, height);
        realWidth = std::min(page.header.cupsHeight, width);
    }
    const bool twoBit = platform == PLATFORM_M && b1200dpi == 1;
    Expected e;
    e.bits.assign(size_t{width} * height / 8 * (twoBit ? 2 : 1), 0);
    // The dither counts its dots into the job it runs for.
    varkon::JobContext reference;
    const varkon::JobBinding bound(reference);
    varkon::halftone_dither_reference(gray.data(), width, height, e.bits.data(), realWidth, negative, b1200dpi,
                                      platform);
    e.coverage = reference.gImageCoverage;
    return e;
}

TEST(PagePipeline, DecodedPagesAreTheReferencePipelineOfTheirRaster)
{
    struct Case {
        Job job;
        bool duplexLongEdge;
        bool feedLongEdge;
        int negative;
        int b1200dpi;
    };
    const Case cases[] = {
        {kJobs[1], false, false, 0, 0}, {kJobs[3], true, true, 0, 0}, {kJobs[4], true, true, 0, 0},
        {kJobs[5], true, true, 0, 0},   {kJobs[7], false, false, 1, 1}, {kJobs[8], true, false, 0, 1},
        {kJobs[9], false, false, 1, 0},
    };
    const std::vector<RasterPage> pages = raster_pages();
    const std::string raster = make_raster(pages);
    for (const Case &c : cases) {
        for (const char *threads : {"1", "3"}) {
            FilterJob job(platform_ppd(c.job.platform));
            job.options = c.job.options;
            job.process.env.push_back(std::string("VARKON_THREADS=") + threads);
            const ProcessResult r = job.run_stdin(raster);
            expect_cut_last_page(r);
            const decode::DecodedStream s = decoded(r.out);
            ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
            ASSERT_GE(s.pages.size(), pages.size());
            for (size_t n = 0; n < pages.size(); ++n) {
                const decode::Page &got = s.pages[n];
                const bool a5 = pages[n].header.PageSize[0] == 420;
                const bool quarter = c.feedLongEdge && a5;
                const bool half = c.duplexLongEdge && (n + 1) % 2 == 0;
                const uint32_t W = quarter ? got.height : got.width, H = quarter ? got.width : got.height;
                const Expected want = expected_page(pages[n], W, H, half, quarter, c.negative, c.b1200dpi,
                                                    c.job.platform);
                const std::string what = "platform " + std::to_string(c.job.platform) + ", \"" + c.job.options +
                                         "\", " + threads + " threads, page " + std::to_string(n + 1);
                ASSERT_EQ(got.pixels.size(), want.bits.size()) << what;
                EXPECT_TRUE(got.pixels == want.bits) << what;
                // The Z coverage frame counts thousands of dots.
                if (c.job.platform == PLATFORM_Z) {
                    EXPECT_EQ(got.coverage, static_cast<long long>(want.coverage / 1000)) << what;
                }
            }
        }
    }
}

TEST(PagePipeline, ARowWhoseReadTheCancellationCutsIsWhite)
{
    // Black lines wider than the device image, each with one white byte in the
    // part that centring cuts off (so that no two lines are equal and the raster
    // stream is long enough to be cut between rows).
    const RasterPage page(gray_header(298, 420), [](unsigned y, unsigned char *line, unsigned bytes) {
        std::memset(line, 0, bytes);
        line[y % 80] = 255;
    });
    const std::string raster = make_raster({page});
    for (int platform : {PLATFORM_C, PLATFORM_Z}) {
        FilterJob job(platform_ppd(platform));
        // Cancelled while the filter waits in the middle of the page; then the stream ends.
        job.process.sigterm_after_ms = 1000;
        const ProcessResult r = job.run_paused(raster.substr(0, raster.size() / 2), 2500, "");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const decode::DecodedStream s = decoded(r.out);
        ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
        ASSERT_EQ(s.pages.size(), 1u) << "platform " << platform;
        // The rows read are black, every row from the cut one on is blank: none is in between.
        const decode::Page &p = s.pages[0];
        uint32_t black = 0;
        for (uint32_t y = 0; y < p.height; ++y) {
            uint32_t inked = 0;
            for (uint32_t x = 0; x < p.width; ++x)
                inked += p.level(x, y);
            ASSERT_TRUE(inked == 0 || (inked == p.width && black == y))
                << "platform " << platform << ", row " << y << ": " << inked << " of " << p.width << " dots";
            black += inked == p.width;
        }
        EXPECT_GT(black, 100u);
        EXPECT_LT(black, p.height - 100);
    }
}

} // namespace
