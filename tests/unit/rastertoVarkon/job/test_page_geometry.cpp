// SPDX-License-Identifier: GPL-2.0-or-later
// Device image size, refusal of unprintable pages, and the parameter records.
#include "page_geometry.h"

#include "page_pipeline.h"
#include "platform.h"
#include "raster_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using varkon::PageGeometry;
using varkon::test::gray_header;

class Geometry : public ::testing::Test {
protected:
    PRINT_FUNC_INFO features[FUNC_COUNT];
    const char *problem = nullptr;
    void SetUp() override { std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), features); }

    // The geometry of `h` on `platform` with `table`; fails the test when it is refused.
    PageGeometry geometry(cups_page_header2_t h, const PAPER_SIZE_INFO *table, int platform,
                          const char *optionText = "")
    {
        PageGeometry g;
        cups_option_t *options = nullptr;
        const int count = cupsParseOptions(optionText, 0, &options);
        EXPECT_EQ(varkon::compute_page_geometry(&h, table, count, options, features, platform, &g, &problem), 1)
            << (problem != nullptr ? problem : "");
        cupsFreeOptions(count, options);
        return g;
    }

    bool refused(cups_page_header2_t h, const PAPER_SIZE_INFO *table, int platform)
    {
        PageGeometry g;
        problem = nullptr;
        const int ok = varkon::compute_page_geometry(&h, table, 0, nullptr, features, platform, &g, &problem);
        return ok == 0 && problem != nullptr && std::strncmp(problem, "ERROR: ", 7) == 0;
    }

    GDI_START_PAGE_PARAM start_page(const cups_page_header2_t &h, const PageGeometry &g, int platform)
    {
        GDI_START_PAGE_PARAM p;
        varkon::fill_start_page_param(&p, g, h, features, platform, 0, 3);
        return p;
    }
};

TEST_F(Geometry, A4TakesTheRowOfThePlatformsTable)
{
    PageGeometry m = geometry(gray_header(595, 842), gPaperSizeArray_Nimbrel_Sarvel, PLATFORM_M);
    EXPECT_EQ(m.W, 4736u);
    EXPECT_EQ(m.H, 6784u);
    EXPECT_EQ(m.paperNum, 9);
    EXPECT_EQ(m.resolutionX, 600);
    PageGeometry c = geometry(gray_header(595, 842), gPaperSizeArray_Belvar, PLATFORM_C);
    EXPECT_EQ(c.W, 4800u);
    EXPECT_EQ(c.H, 6780u);
    EXPECT_EQ(c.paperNum, 1);
    EXPECT_EQ(c.resolutionX, 60);
    PageGeometry mfp = geometry(gray_header(279, 540), gPaperSizeArray_BelvarMFP, PLATFORM_C);
    EXPECT_EQ(mfp.marginX, 240);
    EXPECT_EQ(mfp.marginY, 120);
}

TEST_F(Geometry, UnknownSizesAreComputedAndRoundedUpTo32And8)
{
    // 300 x 500 pt: 2500 x 4166.7 pixels at 600 dpi.
    PageGeometry z = geometry(gray_header(300, 500), gPaperSizeArray_Oskel_Drevan, PLATFORM_Z);
    EXPECT_EQ(z.W, 2528u);
    EXPECT_EQ(z.H, 4168u);
    EXPECT_EQ(z.paperNum, 0);
    PageGeometry c = geometry(gray_header(595, 841), gPaperSizeArray_Belvar, PLATFORM_C);
    EXPECT_EQ(c.W, 4960u); // 4958.3
    EXPECT_EQ(c.H, 7008u); // 7008.3
    EXPECT_EQ(c.paperNum, 255);
    // No table at all: computed as well.
    EXPECT_EQ(geometry(gray_header(595, 842), nullptr, PLATFORM_M).W, 4960u);
}

TEST_F(Geometry, AnImagingBoxFromTheCupsChainGivesThePrintableArea)
{
    cups_page_header2_t h = gray_header(300, 500);
    const float box[4] = {12, 12, 288, 488}; // 276 x 476 pt: 2300 x 3966.7 pixels
    std::copy(box, box + 4, h.cupsImagingBBox);
    PageGeometry g = geometry(h, gPaperSizeArray_Oskel_Drevan, PLATFORM_Z);
    EXPECT_EQ(g.W, 2304u);
    EXPECT_EQ(g.H, 3968u);
    // Two margins per side instead of a box: page minus both.
    const float margins[4] = {12, 12, 12, 12};
    std::copy(margins, margins + 4, h.cupsImagingBBox);
    EXPECT_EQ(geometry(h, gPaperSizeArray_Oskel_Drevan, PLATFORM_Z).W, 2304u);
}

TEST_F(Geometry, Platform1DoublesAt1200DpiOthersStayAt600)
{
    cups_page_header2_t h = gray_header(595, 842, 1200);
    PageGeometry c = geometry(h, gPaperSizeArray_Belvar, PLATFORM_C);
    EXPECT_EQ(c.W, 9600u);
    EXPECT_EQ(c.H, 13560u);
    EXPECT_EQ(c.resolutionX, 120);
    EXPECT_EQ(c.resolutionY, 120);
    h.HWResolution[1] = 600;
    c = geometry(h, gPaperSizeArray_Belvar, PLATFORM_C);
    EXPECT_EQ(c.H, 6780u);
    EXPECT_EQ(c.resolutionY, 60);
    PageGeometry z = geometry(gray_header(595, 842, 1200), gPaperSizeArray_Oskel_Drevan, PLATFORM_Z);
    EXPECT_EQ(z.W, 4736u);
    EXPECT_EQ(z.resolutionX, 60);
}

TEST_F(Geometry, AnOversizePageIsPrintedOnThePaperItsPageSizeOptionNames)
{
    PageGeometry g = geometry(gray_header(842, 1191), gPaperSizeArray_Oskel_Drevan, PLATFORM_Z, "PageSize=A4");
    EXPECT_EQ(g.paperNum, 1);
    EXPECT_EQ(g.W, 4736u);
}

TEST_F(Geometry, LongEdgeA5SwapsTheSizesAndUsesThePlatformsPaperCode)
{
    const struct {
        int platform;
        const PAPER_SIZE_INFO *table;
        int paper;
    } cases[] = {{PLATFORM_Z, gPaperSizeArray_Oskel_Drevan, 18},
                 {PLATFORM_M, gPaperSizeArray_Nimbrel_Sarvel, 61},
                 {PLATFORM_C, gPaperSizeArray_Belvar, 6}};
    for (const auto &c : cases) {
        SetUp();
        const cups_page_header2_t h = gray_header(421, 595);
        const PageGeometry g = geometry(h, c.table, c.platform);
        EXPECT_EQ(features[LONGEDGEFEED].value, 1);
        EXPECT_TRUE(varkon::long_edge_a5(g, features, c.platform));
        const GDI_START_PAGE_PARAM p = start_page(h, g, c.platform);
        EXPECT_EQ(p.feedEdge, 0x40);
        EXPECT_EQ(p.paperSize, c.paper) << "platform " << c.platform;
        EXPECT_EQ(p.userPrntAreaW, g.H);
        EXPECT_EQ(p.userPrntAreaH, g.W);
        EXPECT_EQ(p.userPhyPgW, 4958); // 595 pt
        EXPECT_EQ(p.userPhyPgH, 3508); // 421 pt
    }
    // Plain A5 is fed short edge first.
    SetUp();
    const cups_page_header2_t a5 = gray_header(420, 595);
    const GDI_START_PAGE_PARAM p = start_page(a5, geometry(a5, gPaperSizeArray_Oskel_Drevan, PLATFORM_Z), PLATFORM_Z);
    EXPECT_EQ(p.feedEdge, 0);
    EXPECT_EQ(p.paperSize, 11);
    EXPECT_EQ(p.userPrntAreaW, 3264);
}

TEST_F(Geometry, CollatedCopiesAreMadeByReplaySoEachPageAsksForOne)
{
    cups_page_header2_t h = gray_header(595, 842);
    h.NumCopies = 3;
    const PageGeometry g = geometry(h, gPaperSizeArray_Oskel_Drevan, PLATFORM_Z);
    EXPECT_EQ(start_page(h, g, PLATFORM_Z).copies, 3);
    features[COLLATE].value = 1;
    EXPECT_EQ(start_page(h, g, PLATFORM_Z).copies, 1);
}

TEST_F(Geometry, TheTrayFollowsInputSlotOnlyForPlainPaper)
{
    features[INPUTSLOT].value = 2;
    cups_page_header2_t h = gray_header(595, 842);
    const PageGeometry g = geometry(h, gPaperSizeArray_Nimbrel_Sarvel, PLATFORM_M);
    const struct {
        unsigned media;
        int platform;
        int tray;
    } cases[] = {{0, PLATFORM_Z, 2}, {5, PLATFORM_C, 2}, {1, PLATFORM_M, 2}, {1, PLATFORM_Z, 1}, {3, PLATFORM_M, 1}};
    for (const auto &c : cases) {
        h.cupsMediaType = c.media;
        EXPECT_EQ(start_page(h, g, c.platform).tray, c.tray) << "media " << c.media << " platform " << c.platform;
    }
}

TEST_F(Geometry, UnprintableSizesAreRefusedWithAnErrorLine)
{
    cups_page_header2_t h = gray_header(300, 500);
    h.PageSize[0] = 0;
    EXPECT_TRUE(refused(h, gPaperSizeArray_Oskel_Drevan, PLATFORM_Z));
    h = gray_header(300, 500);
    h.cupsImagingBBox[0] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(refused(h, gPaperSizeArray_Oskel_Drevan, PLATFORM_Z));
    h = gray_header(300, 500);
    h.cupsImagingBBox[0] = 200;
    h.cupsImagingBBox[2] = 150; // margins wider than the page
    EXPECT_TRUE(refused(h, nullptr, PLATFORM_Z));
    h = gray_header(4000000000u, 500);
    EXPECT_TRUE(refused(h, gPaperSizeArray_Oskel_Drevan, PLATFORM_Z));
    // Each side within its cap, together beyond the pixel cap.
    h = gray_header(1900, 3900);
    EXPECT_TRUE(refused(h, nullptr, PLATFORM_M));
    // Legal at 1200 dpi on platform C, the largest real page, is printed.
    EXPECT_FALSE(refused(gray_header(612, 1008, 1200), gPaperSizeArray_Belvar, PLATFORM_C));
    // The physical page must fit the 16-bit fields of the page start.
    h = gray_header(612, 1008, 600);
    h.HWResolution[0] = 10000; // 85000 pixels
    EXPECT_TRUE(refused(h, gPaperSizeArray_Belvar, PLATFORM_Z));
}

TEST(RasterHeader, OnlyEightBitGrayWithConsistentLinesIsAccepted)
{
    const cups_page_header2_t good = gray_header(595, 842);
    EXPECT_EQ(varkon::raster_header_problem(good), nullptr);
    auto refused = [](cups_page_header2_t h) {
        const char *problem = varkon::raster_header_problem(h);
        return problem != nullptr && std::strncmp(problem, "ERROR: ", 7) == 0;
    };
    cups_page_header2_t h = good;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
    EXPECT_TRUE(refused(h));
    h = good;
    h.cupsBitsPerPixel = 24; // three 8-bit colours
    EXPECT_TRUE(refused(h));
    h = good;
    h.cupsBytesPerLine = 0;
    EXPECT_TRUE(refused(h));
    h = good;
    h.cupsHeight = 0;
    EXPECT_TRUE(refused(h));
    h = good;
    h.cupsBytesPerLine = h.cupsWidth - 1;
    EXPECT_TRUE(refused(h));
    h = good;
    h.cupsWidth = h.cupsBytesPerLine = varkon::kMaxRasterLineBytes + 1;
    EXPECT_TRUE(refused(h));
    h = good;
    h.cupsHeight = varkon::kMaxRasterLines + 1;
    EXPECT_TRUE(refused(h));
}

TEST(Records, StartDocCarriesJobIdTitleAndDuplexBits)
{
    PRINT_FUNC_INFO f[FUNC_COUNT];
    std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), f);
    GDI_START_DOC_PARAM p;
    const char title[] = "A title that is longer than thirty-two bytes";
    varkon::fill_start_doc_param(&p, "300", title, f, PLATFORM_C, 0);
    EXPECT_EQ(p.jobID, 300);
    EXPECT_EQ(std::memcmp(p.jobName, title, 32), 0);
    EXPECT_EQ(p.DuplexMode, 0);
    EXPECT_EQ(p.saveMode, 0x10);
    EXPECT_EQ(p.densityLevel, 2);
    varkon::fill_start_doc_param(&p, "7", "short", f, PLATFORM_M, 0);
    EXPECT_EQ(p.saveMode, 0);
    EXPECT_EQ(p.jobName[5], '\0');
    EXPECT_EQ(p.jobName[31], '\0');

    f[AUTODUPLEX].value = 1;
    f[TONERMODE].value = 1;
    f[FINEMODE].value = 1;
    varkon::fill_start_doc_param(&p, "1", "", f, PLATFORM_Z, 1);
    EXPECT_EQ(p.DuplexMode, 0x20);
    EXPECT_EQ(p.densityLevel, 0);
    EXPECT_EQ(p.FineMode, 1);
    // Platform Z with manual duplex support: manual duplex is not a printer duplex.
    f[AUTODUPLEX].value = 0;
    f[MANUALDUPLEX].value = 1;
    varkon::fill_start_doc_param(&p, "1", "", f, PLATFORM_Z, 1);
    EXPECT_EQ(p.DuplexMode, 0);
    EXPECT_EQ(p.saveMode, 0x10);
    varkon::fill_start_doc_param(&p, "1", "", f, PLATFORM_M, 1);
    EXPECT_EQ(p.DuplexMode, 0x20);
}

TEST(Records, PageDataAndPageEndFollowPlatformAndMode)
{
    PRINT_FUNC_INFO f[FUNC_COUNT];
    std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), f);
    unsigned char image[1];
    cups_page_header2_t h = gray_header(595, 842, 1200);
    GDI_SEND_PAGE_PARAM s;
    varkon::fill_send_page_param(&s, 4800, 6780, 0, h, PLATFORM_C, image);
    EXPECT_EQ(s.compression, 0x20);
    EXPECT_EQ(s.rasImgW, 4800);
    EXPECT_EQ(s.rasImgH, 384u);
    EXPECT_EQ(s.cmpImgBytes, 853);
    EXPECT_EQ(s.sendImgBuf, image);
    varkon::fill_send_page_param(&s, 4736, 6784, 1, h, PLATFORM_M, image);
    EXPECT_EQ(s.whlImgW, 9472);
    EXPECT_EQ(s.whlImgH, 6784);
    EXPECT_EQ(s.rasImgH, 0u);
    EXPECT_EQ(varkon::mono_image_bytes(4736, 6784, 1), 2u * 4736 * 6784 / 8);

    GDI_END_PAGE_PARAM e;
    f[AUTODUPLEX].value = 2;
    varkon::fill_end_page_param(&e, gray_header(420, 595), f, 5);
    EXPECT_EQ(e.page, 5);
    EXPECT_EQ(e.bMachDup, 1);
    EXPECT_EQ(e.paperWidthE, 148);
    EXPECT_EQ(e.resolutionE, 600);
    EXPECT_EQ(e.densityE, 2);
}

} // namespace
