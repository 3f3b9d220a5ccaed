// SPDX-License-Identifier: GPL-2.0-or-later
// Page turns, the half-turn rule of duplex jobs, and the blank page that completes
// an odd duplex job.
#include "page_transforms.h"

#include "bytes.h"
#include "command_sequence.h"
#include "hex_bytes.h"
#include "jbig_decode.h"
#include "test_job.h"
#include "output_sink.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

using namespace varkon::test;

namespace {

TEST(Rotate, SmallExample)
{
    std::vector<unsigned char> image = {1, 2, 3, 4, 5, 6}; // 2 wide, 3 high
    EXPECT_EQ(Rotate180(image.data(), 2, 3), 1);
    EXPECT_EQ(image, (std::vector<unsigned char>{6, 5, 4, 3, 2, 1}));

    image = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Rotate90(image.data(), 2, 3), 1);
    EXPECT_EQ(image, (std::vector<unsigned char>{5, 3, 1, 6, 4, 2})); // 3 wide, 2 high
}

TEST(Rotate, QuarterTurnAcrossTileEdges)
{
    // Sizes that are not multiples of the 64-pixel tiles, and thin strips.
    struct Size {
        uint32_t w, h;
    };
    std::mt19937 random(3);
    for (const Size s : {Size{100, 70}, Size{64, 64}, Size{130, 1}, Size{1, 130}, Size{65, 129}}) {
        std::vector<unsigned char> original(size_t{s.w} * s.h);
        for (auto &p : original)
            p = static_cast<unsigned char>(random());
        std::vector<unsigned char> image = original;
        ASSERT_EQ(Rotate90(image.data(), s.w, s.h), 1);
        for (uint32_t c = 0; c < s.w; ++c)
            for (uint32_t x = 0; x < s.h; ++x)
                ASSERT_EQ(image[size_t{c} * s.h + x], original[size_t{s.h - 1 - x} * s.w + c])
                    << s.w << "x" << s.h << " row " << c << " column " << x;

        // Four quarter turns and two half turns give the original back.
        for (int i = 0; i < 3; ++i)
            Rotate90(image.data(), i % 2 == 0 ? s.h : s.w, i % 2 == 0 ? s.w : s.h);
        EXPECT_EQ(image, original) << s.w << "x" << s.h;
        Rotate180(image.data(), s.w, s.h);
        Rotate180(image.data(), s.w, s.h);
        EXPECT_EQ(image, original);
    }
}

TEST(Rotate, RefusesWithoutTouchingTheImage)
{
    std::vector<unsigned char> image = {1, 2, 3, 4, 5, 6};
    const std::vector<unsigned char> original = image;
    for (auto turn : {Rotate180, Rotate90}) {
        EXPECT_EQ(turn(image.data(), 0, 3), 0);
        EXPECT_EQ(turn(image.data(), 2, 0), 0);
        EXPECT_EQ(turn(nullptr, 2, 3), 0);
        // A size no buffer can have: refused before anything is read or allocated.
        EXPECT_EQ(turn(image.data(), UINT32_MAX, UINT32_MAX), 0);
        EXPECT_EQ(image, original);
    }
}

struct HalfTurnCase {
    int autoDuplex, manualDuplex, imageRotation, platform, mDuplexType;
    unsigned feedEdge;
    int page;
    int expected;
};

TEST(HalfTurn, RuleTable)
{
    const HalfTurnCase cases[] = {
        // Long edge turns the even pages, or the odd ones with ImageRotation.
        {1, 0, 0, PLATFORM_C, 0, 0, 1, 0}, {1, 0, 0, PLATFORM_C, 0, 0, 2, 1}, {1, 0, 0, PLATFORM_M, 0, 0, 6, 1},
        {1, 0, 1, PLATFORM_C, 0, 0, 1, 1}, {1, 0, 1, PLATFORM_C, 0, 0, 2, 0}, {1, 0, 1, PLATFORM_Z, 0, 0, 5, 1},
        // Short edge: none, or all with ImageRotation.
        {2, 0, 0, PLATFORM_C, 0, 0, 1, 0}, {2, 0, 0, PLATFORM_C, 0, 0, 2, 0},
        {2, 0, 1, PLATFORM_C, 0, 0, 1, 1}, {2, 0, 1, PLATFORM_C, 0, 0, 2, 1},
        // Manual duplex on Z (long-edge type): even pages of normal feed flip.
        {0, 1, 0, PLATFORM_Z, 0, 0, 2, 1}, {0, 1, 1, PLATFORM_Z, 0, 0, 2, 0}, {0, 1, 0, PLATFORM_Z, 0, 0, 3, 0},
        {0, 1, 1, PLATFORM_Z, 0, 0, 3, 1}, {0, 1, 0, PLATFORM_Z, 0, 0x40, 2, 0},
        // Manual duplex elsewhere, and short-edge manual duplex on Z: even pages of long-edge feed flip.
        {0, 1, 0, PLATFORM_C, 0, 0x40, 2, 1}, {0, 1, 0, PLATFORM_C, 0, 0, 2, 0}, {0, 1, 1, PLATFORM_M, 0, 0x40, 4, 0},
        {0, 1, 0, PLATFORM_Z, 1, 0x40, 2, 1}, {0, 1, 0, PLATFORM_Z, 1, 0, 2, 0},
        // Simplex: only ImageRotation turns.
        {0, 0, 0, PLATFORM_C, 0, 0x40, 2, 0}, {0, 0, 1, PLATFORM_Z, 0, 0, 2, 1},
    };
    for (const auto &c : cases) {
        PRINT_FUNC_INFO features[FUNC_COUNT] = {};
        features[AUTODUPLEX].value = c.autoDuplex;
        features[MANUALDUPLEX].value = c.manualDuplex;
        features[IMAGEROTATION].value = c.imageRotation;
        EXPECT_EQ(varkon::half_turn_needed(features, c.page, c.platform, c.mDuplexType, c.feedEdge), c.expected)
            << "auto " << c.autoDuplex << " manual " << c.manualDuplex << " IR " << c.imageRotation << " platform "
            << c.platform << " type " << c.mDuplexType << " feed " << c.feedEdge << " page " << c.page;
    }
}

class BlankPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        job().g_page = 3;
        header = {};
        header.HWResolution[0] = 600;
        header.HWResolution[1] = 600;
        start = {};
        start.paperSize = 9;
        start.resolutionX = start.resolutionY = 60;
        start.pageNum = 3;
        start.userPrntAreaW = 256;
        start.userPrntAreaH = 96;
    }
    cups_page_header2_t header;
    GDI_START_PAGE_PARAM start;
};

TEST_F(BlankPage, CNumbersThePageAfterTheLastAndPrintsNothing)
{
    const CapturedRun run = run_captured([&] {
        InsertBlankPage(header, &start, PLATFORM_C);
        return 1;
    });
    EXPECT_EQ(start.pageNum, 4);
    EXPECT_EQ(job().g_page, 3);
    EXPECT_EQ(run.error, "");
    // Page start: 00 00, then the page specification with page number 4.
    ASSERT_GT(run.out.size(), 100u);
    EXPECT_EQ(hex(run.out.substr(2, 3)), "0B 12 12");
    EXPECT_EQ(varkon::get_le16(reinterpret_cast<const unsigned char *>(run.out.data()) + 2 + 15), 4u);

    // Raster header after the 42 bytes of the page start: an empty page with its stripe height.
    const auto *raster = reinterpret_cast<const unsigned char *>(run.out.data()) + 42;
    ASSERT_EQ(hex(raster, 3), "0B 12 0C");
    EXPECT_EQ(varkon::get_le16(raster + 5), 256u);
    EXPECT_EQ(varkon::get_le16(raster + 7), 96u);
    EXPECT_EQ(varkon::get_le16(raster + 11), 768u);
    const uint32_t compressed = varkon::get_le32(raster + 13);
    const DecodedImage image = jbig_decode(run.out.substr(60, compressed));
    ASSERT_EQ(image.status, JBG_EOK);
    EXPECT_EQ(image.width, 256u);
    EXPECT_EQ(image.height, 96u);
    EXPECT_EQ(image.plane, std::vector<unsigned char>(256 * 96 / 8, 0));
    // Page end follows the data.
    EXPECT_EQ(hex(run.out.substr(60 + compressed, 9)), "1B FF 2D 31 32 33 34 35 58");
}

TEST_F(BlankPage, MImageMatchesTheAnnouncedAreaOfATurnedPage)
{
    // Long-edge A5: the record holds the turned page's area, and so must the image.
    start.feedEdge = 0x40;
    start.iIs2bit = 1;
    start.paperSize = 61;
    start.resolutionX = start.resolutionY = 600;
    const CapturedRun run = run_captured([&] {
        InsertBlankPage(header, &start, PLATFORM_M);
        return 1;
    });
    const auto *out = reinterpret_cast<const unsigned char *>(run.out.data());
    ASSERT_EQ(varkon::get_be32(out), 16u + 14 * 12); // START_PAGE_CMD
    const unsigned char *params = out + 16;
    EXPECT_EQ(varkon::get_be16(params + 8 * 12 + 4), 0x000Cu);     // IMG_WIDTH_PARAM
    EXPECT_EQ(varkon::get_be32(params + 8 * 12 + 8), 2u * 256);
    EXPECT_EQ(varkon::get_be32(params + 9 * 12 + 8), 96u);        // IMG_HEIGHT_PARAM
    const unsigned char *jbigParam = out + 16 + 14 * 12;
    EXPECT_EQ(varkon::get_be32(jbigParam + 4), 4u);               // JBIG_PARAM_CMD
    EXPECT_EQ(varkon::get_be32(jbigParam + 20), 2u * 256);
    EXPECT_EQ(varkon::get_be32(jbigParam + 24), 96u);
    EXPECT_EQ(hex(run.out.substr(run.out.size() - 16)), "00 00 00 10 00 00 00 03 00 00 00 00 00 00 5A 5A");
}

TEST_F(BlankPage, FailuresAreReportedAndTheRestStillSent)
{
    std::fflush(stderr);
    const CapturedRun run = [&] {
        CapturedRun r;
        job().prntLastError[0] = '\0';
        StdoutCapture capture(StdoutCapture::Target::Full);
        InsertBlankPage(header, &start, PLATFORM_Z);
        capture.finish();
        r.error = job().prntLastError;
        return r;
    }();
    const std::string endFirst = "InsertBlankPage() :: End page Fail ! \nPrnt_EndPage() :: send formFeedCmd Fail 0 ==  \n";
    EXPECT_EQ(run.error.substr(0, endFirst.size()), endFirst);
    EXPECT_NE(run.error.find("InsertBlankPage() :: Send page Fail!\nPrnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"),
              std::string::npos);
    EXPECT_NE(run.error.find("InsertBlankPage() :: Start page Fail ! \nPrnt_StartPage() :: send cmdPageSpec Fail"),
              std::string::npos);
}

} // namespace
