// SPDX-License-Identifier: GPL-2.0-or-later
// Halftone dither: properties (white stays blank, black fills, density follows the
// gray level, tile phase runs across lines), negative printing, the four-level mode
// and the dot count for the coverage frames.
#include "dither.h"
#include "test_job.h"

#include "halftone_tables.h"
#include "platform.h"
#include "prnt.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using varkon::test::job;

struct Mode {
    int platform;
    int b1200dpi;
    bool twoBit;
};
const Mode kModes[] = {{PLATFORM_C, 0, false}, {PLATFORM_C, 1, false}, {PLATFORM_Z, 0, false},
                       {PLATFORM_Z, 1, false}, {PLATFORM_M, 0, false}, {PLATFORM_M, 1, true},
                       {PLATFORM_M, 2, false}};

struct Result {
    int status;
    std::vector<unsigned char> target;
    uint32_t coverage;
};

// Dithers into a target with two canary bytes after the expected size.
Result dither(const std::vector<unsigned char> &gray, uint32_t width, uint32_t height, int platform, int b1200dpi,
              int negative = 0, uint32_t realWidth = 0)
{
    const bool twoBit = platform == PLATFORM_M && b1200dpi == 1;
    Result r;
    r.target.assign(size_t{width} * height / 8 * (twoBit ? 2 : 1) + 2, 0);
    r.target[r.target.size() - 2] = 0xA5;
    r.target[r.target.size() - 1] = 0x5A;
    job().gImageCoverage = 0;
    r.status = HalftoneDither(gray.data(), width, height, r.target.data(), realWidth ? realWidth : width, negative,
                              b1200dpi, platform);
    r.coverage = job().gImageCoverage;
    return r;
}

bool canaries_intact(const Result &r) { return r.target[r.target.size() - 2] == 0xA5 && r.target.back() == 0x5A; }

// Bit (or two-bit level) of pixel n of the packed target.
unsigned pixel(const Result &r, size_t n, bool twoBit)
{
    if (twoBit)
        return (r.target[n / 4] >> (6 - 2 * (n % 4))) & 3;
    return (r.target[n / 8] >> (7 - n % 8)) & 1;
}

TEST(Dither, WhiteStaysBlankAndBlackFillsOnEveryPlatform)
{
    const uint32_t w = 64, h = 40;
    for (const Mode &m : kModes) {
        const Result white = dither(std::vector<unsigned char>(w * h, 255), w, h, m.platform, m.b1200dpi);
        EXPECT_EQ(white.status, 1);
        EXPECT_EQ(white.coverage, 0u) << m.platform << "/" << m.b1200dpi;
        for (size_t i = 0; i + 2 < white.target.size(); ++i)
            ASSERT_EQ(white.target[i], 0) << "platform " << m.platform << " byte " << i;

        const Result black = dither(std::vector<unsigned char>(w * h, 0), w, h, m.platform, m.b1200dpi);
        EXPECT_EQ(black.coverage, w * h) << m.platform << "/" << m.b1200dpi;
        for (size_t i = 0; i + 2 < black.target.size(); ++i)
            ASSERT_EQ(black.target[i], 0xFF) << "platform " << m.platform << " byte " << i;
        EXPECT_TRUE(canaries_intact(black)) << "platform " << m.platform << "/" << m.b1200dpi;
    }
}

TEST(Dither, DensityFollowsTheGrayLevelOverWholeTiles)
{
    // Over whole 16 x 16 tiles the inked share is exactly the share of thresholds above the gray.
    const uint32_t w = 64, h = 32;
    for (int g : {1, 6, 64, 128, 200, 254}) {
        uint32_t above = 0;
        for (const auto &row : HT_TABLE_600)
            for (uint8_t t : row)
                above += g < t;
        const Result r = dither(std::vector<unsigned char>(w * h, static_cast<unsigned char>(g)), w, h, PLATFORM_Z, 0);
        EXPECT_EQ(r.coverage, above * (w * h / 256)) << "gray " << g;
    }
    // Darker gray never inks fewer dots.
    uint32_t previous = w * h + 1;
    for (int g = 0; g <= 255; g += 15) {
        const Result r = dither(std::vector<unsigned char>(w * h, static_cast<unsigned char>(g)), w, h, PLATFORM_C, 1);
        EXPECT_LE(r.coverage, previous) << "gray " << g;
        previous = r.coverage;
    }
}

TEST(Dither, FirstPixelMeetsTheFirstThresholdInTheTopBit)
{
    std::vector<unsigned char> gray(16 * 2, 255);
    gray[0] = HT_TABLE_600[0][0] - 1;
    EXPECT_EQ(dither(gray, 16, 2, PLATFORM_C, 0).target[0], 0x80);
    // A pixel equal to its threshold stays blank.
    gray[0] = HT_TABLE_600[0][0];
    EXPECT_EQ(dither(gray, 16, 2, PLATFORM_C, 0).target[0], 0x00);
}

TEST(Dither, TilePhaseRunsOnAcrossLines)
{
    // With 24-pixel lines the first pixel of line 1 meets tile column 8 of tile row 1.
    ASSERT_LT(HT_TABLE_600[1][0], HT_TABLE_600[1][8]);
    std::vector<unsigned char> gray(24 * 2, 255);
    gray[24] = HT_TABLE_600[1][8] - 1;  // below column 8's threshold, above column 0's
    const Result r = dither(gray, 24, 2, PLATFORM_Z, 0);
    EXPECT_EQ(r.target[3], 0x80);
    EXPECT_EQ(r.coverage, 1u);
}

TEST(Dither, EveryPixelMeetsItsMatrixCell)
{
    // A random page against the screens' stepping: the 16 x 16 screens follow the
    // running pixel count, the 28 x 28 screen of C at 1200 dpi restarts each line.
    const uint32_t w = 40, h = 60; // neither a multiple of 16 nor of 28
    std::mt19937 random(7);
    std::vector<unsigned char> gray(w * h);
    for (auto &g : gray)
        g = static_cast<unsigned char>(random());

    struct Screen {
        int platform, b1200dpi;
        const uint8_t *cells;
        uint32_t size;
        bool restarts;
    };
    const Screen screens[] = {{PLATFORM_C, 0, &HT_TABLE_600[0][0], 16, false},
                              {PLATFORM_Z, 1, &HT_TABLE_1200_Z[0][0], 16, false},
                              {PLATFORM_C, 1, &HT_TABLE_1200_C[0][0], 28, true}};
    for (const Screen &s : screens) {
        const Result r = dither(gray, w, h, s.platform, s.b1200dpi);
        uint32_t inked = 0;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const size_t n = size_t{y} * w + x;
                const uint32_t column = s.restarts ? x % s.size : n % s.size;
                const unsigned expected = gray[n] < s.cells[(y % s.size) * s.size + column];
                inked += expected;
                ASSERT_EQ(pixel(r, n, false), expected) << "platform " << s.platform << " at " << x << "," << y;
            }
        EXPECT_EQ(r.coverage, inked);
    }
}

TEST(Dither, NegativeRegionOfCAndZ)
{
    // 32-pixel lines with 16 real pixels: the content turns black, the padding stays blank.
    for (int platform : {PLATFORM_C, PLATFORM_Z}) {
        const Result r = dither(std::vector<unsigned char>(32 * 3, 255), 32, 3, platform, 0, 1, 16);
        for (int line = 0; line < 3; ++line) {
            EXPECT_EQ(r.target[line * 4 + 0], 0xFF);
            EXPECT_EQ(r.target[line * 4 + 1], 0xFF);
            EXPECT_EQ(r.target[line * 4 + 2], 0x00);
            EXPECT_EQ(r.target[line * 4 + 3], 0x00);
        }
        EXPECT_EQ(r.coverage, 3u * 16);
    }

    const Result whole = dither(std::vector<unsigned char>(32 * 4, 255), 32, 4, PLATFORM_Z, 0, 1, 32);
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(whole.target[i], 0xFF);
    EXPECT_EQ(whole.coverage, 32u * 4);

    // Black content under negative printing stays blank and inks nothing.
    const Result black = dither(std::vector<unsigned char>(32 * 2, 0), 32, 2, PLATFORM_C, 0, 1, 32);
    EXPECT_EQ(black.target[0], 0x00);
    EXPECT_EQ(black.coverage, 0u);
}

TEST(Dither, NegativeOnMInvertsTheComparison)
{
    std::vector<unsigned char> gray(16 * 2, 255);
    gray[0] = HT_TABLE_600[0][0]; // equal to its threshold: set in negative mode
    gray[1] = HT_TABLE_600[0][1] - 1;
    const Result r = dither(gray, 16, 2, PLATFORM_M, 0, 1, 8);
    // The real width does not limit the negative print on M.
    EXPECT_EQ(r.target[0], 0xBF);
    EXPECT_EQ(r.target[1], 0xFF);
}

TEST(Dither, TwoBitLevels)
{
    // The first pixel meets threshold 6: code = 255 - gray - 6, then the level table.
    const struct {
        unsigned char gray;
        unsigned level;
    } cases[] = {{0, 3}, {100, 3}, {185, 3}, {186, 2}, {225, 2}, {226, 1}, {248, 1}, {249, 0}, {255, 0}};
    for (const auto &c : cases) {
        std::vector<unsigned char> gray(16 * 2, 255);
        gray[0] = c.gray;
        const Result r = dither(gray, 16, 2, PLATFORM_M, 1);
        EXPECT_EQ(pixel(r, 0, true), c.level) << "gray " << int(c.gray);
        EXPECT_EQ(r.target[0] & 0x3F, 0) << "gray " << int(c.gray);
        const Result negative = dither(gray, 16, 2, PLATFORM_M, 1, 1);
        EXPECT_EQ(pixel(negative, 0, true), 3 - c.level) << "gray " << int(c.gray);
    }
    // Platform M with a 1200-dpi value other than 1 stays bi-level.
    std::vector<unsigned char> gray(16 * 2, 0);
    const Result r = dither(gray, 16, 2, PLATFORM_M, 2);
    EXPECT_EQ(r.target.size(), 4u + 2);
    EXPECT_TRUE(canaries_intact(r));
}

TEST(Dither, RefusesMissingArgumentsWithoutWriting)
{
    std::vector<unsigned char> gray(16 * 2, 0);
    std::vector<unsigned char> target(4, 0x33);
    job().gImageCoverage = 5;
    EXPECT_EQ(HalftoneDither(nullptr, 16, 2, target.data(), 16, 0, 0, PLATFORM_C), 0);
    EXPECT_EQ(HalftoneDither(gray.data(), 16, 2, nullptr, 16, 0, 0, PLATFORM_C), 0);
    EXPECT_EQ(HalftoneDither(gray.data(), 16, 2, target.data(), 16, 0, 0, PLATFORM_NONE), 0);
    EXPECT_EQ(HalftoneDither(gray.data(), 16, 0, target.data(), 16, 0, 0, PLATFORM_C), 1);
    EXPECT_EQ(target, std::vector<unsigned char>(4, 0x33));
    EXPECT_EQ(job().gImageCoverage, 5u);
}

TEST(Dither, CoverageAccumulatesOverCalls)
{
    std::vector<unsigned char> gray(16 * 2, 0);
    std::vector<unsigned char> target(4, 0);
    job().gImageCoverage = 10;
    HalftoneDither(gray.data(), 16, 2, target.data(), 16, 0, 0, PLATFORM_Z);
    EXPECT_EQ(job().gImageCoverage, 10u + 32);
}

} // namespace

// ---------------------------------------------------------------------------
// The vector kernel against the reference loop: every mode, odd widths, the
// tile column carried across line ends, partial last bytes, negative regions.

struct Case {
    Mode mode;
    int negative;
};

std::vector<Case> every_case()
{
    std::vector<Case> cases;
    for (const Mode &m : kModes)
        for (int negative : {0, 1})
            cases.push_back({m, negative});
    return cases;
}

// A page of random gray with runs of pure black and white, which meet the
// comparison edges (0, 255, equal to the threshold) more often than noise does.
std::vector<unsigned char> random_page(std::mt19937 &random, uint32_t width, uint32_t height)
{
    std::vector<unsigned char> gray(size_t{width} * height);
    for (size_t i = 0; i < gray.size(); ++i) {
        const unsigned kind = random() % 8;
        gray[i] = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<unsigned char>(random());
    }
    return gray;
}

Result dither_with(int (*fn)(const unsigned char *, uint32_t, uint32_t, unsigned char *, uint32_t, int32_t, int32_t,
                             int32_t),
                   const std::vector<unsigned char> &gray, uint32_t width, uint32_t height, const Case &c,
                   uint32_t realWidth)
{
    Result r;
    const size_t bits = size_t{width} * height * (c.mode.twoBit ? 2 : 1);
    r.target.assign((bits + 7) / 8 + 2, 0);
    r.target[r.target.size() - 2] = 0xA5;
    r.target[r.target.size() - 1] = 0x5A;
    job().gImageCoverage = 7; // the dither adds to what the page already counted
    r.status = fn(gray.data(), width, height, r.target.data(), realWidth, c.negative, c.mode.b1200dpi,
                  c.mode.platform);
    r.coverage = job().gImageCoverage;
    return r;
}

TEST(DitherFastPath, MatchesTheReferenceLoopOnRandomPages)
{
    std::mt19937 random(2024);
    // Multiples of 16 and 8, lines ending mid-byte, widths below one vector, and
    // the real widths of the tables (4776 is 8 modulo 16).
    const uint32_t widths[] = {1, 3, 7, 8, 12, 15, 16, 17, 24, 28, 31, 37, 40, 56, 100, 113, 129, 250, 4776};
    for (uint32_t width : widths) {
        const uint32_t height = width > 1000 ? 3 : 1 + random() % 45;
        const std::vector<unsigned char> gray = random_page(random, width, height);
        for (const Case &c : every_case()) {
            for (uint32_t realWidth : {width, width / 2 + 1, 0u, width + 9}) {
                const Result fast = dither_with(HalftoneDither, gray, width, height, c, realWidth);
                const Result slow =
                    dither_with(varkon::halftone_dither_reference, gray, width, height, c, realWidth);
                ASSERT_EQ(fast.status, 1);
                ASSERT_EQ(fast.target, slow.target) << "width " << width << " height " << height << " platform "
                                                    << c.mode.platform << "/" << c.mode.b1200dpi << " negative "
                                                    << c.negative << " real " << realWidth;
                ASSERT_EQ(fast.coverage, slow.coverage) << "width " << width << " platform " << c.mode.platform;
            }
        }
    }
}

TEST(DitherFastPath, LinesDitheredOneByOneInAnyOrderGiveTheReferencePage)
{
    // The streaming page path dithers each line as it arrives, and a half-turned
    // page from its last line up; the bits may only depend on the line's index.
    std::mt19937 random(99);
    for (uint32_t width : {8u, 24u, 40u, 88u, 320u, 4776u}) {
        const uint32_t height = 61;
        const std::vector<unsigned char> gray = random_page(random, width, height);
        for (const Case &c : every_case()) {
            const uint32_t realWidth = width - 8;
            const varkon::LineDither setup =
                varkon::line_dither_for(width, realWidth, c.negative, c.mode.b1200dpi, c.mode.platform);
            ASSERT_TRUE(varkon::lines_start_on_bytes(setup));
            const uint32_t bytes = varkon::line_bytes(setup);
            std::vector<unsigned char> target(size_t{bytes} * height, 0xEE); // overwritten, never merged
            uint32_t coverage = 7;
            for (uint32_t n = 0; n < height; ++n) {
                const uint32_t line = height - 1 - n;
                coverage += varkon::dither_line(setup, gray.data() + size_t{line} * width, line,
                                                target.data() + size_t{line} * bytes);
            }
            const Result slow = dither_with(varkon::halftone_dither_reference, gray, width, height, c, realWidth);
            ASSERT_EQ(target, std::vector<unsigned char>(slow.target.begin(), slow.target.end() - 2))
                << "width " << width << " platform " << c.mode.platform << "/" << c.mode.b1200dpi << " negative "
                << c.negative;
            EXPECT_EQ(coverage, slow.coverage);
        }
    }
}

TEST(DitherFastPath, WidthsThatSplitBytesAreNotStreamed)
{
    EXPECT_FALSE(varkon::lines_start_on_bytes(varkon::line_dither_for(12, 12, 0, 0, PLATFORM_Z)));
    EXPECT_TRUE(varkon::lines_start_on_bytes(varkon::line_dither_for(12, 12, 0, 1, PLATFORM_M)));
    EXPECT_EQ(varkon::line_bytes(varkon::line_dither_for(12, 12, 0, 1, PLATFORM_M)), 3u);
    EXPECT_EQ(varkon::line_bytes(varkon::line_dither_for(4776, 4776, 0, 0, PLATFORM_C)), 597u);
}
