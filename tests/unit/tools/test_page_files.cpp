// SPDX-License-Identifier: GPL-2.0-or-later
// Page files: PBM and PGM exactly as netpbm reads them, PNG read back through
// netpbm's pngtopnm, for 1-bit and 2-bit pages.
#include "page_files.h"
#include "run_process.h"
#include "stream_builder.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace varkon::test;
using varkon::decode::Page;

Page page_from(const TestImage &image)
{
    Page page;
    page.width = image.width;
    page.height = image.height;
    page.bits_per_pixel = image.bits;
    page.stride = image.stride();
    page.pixels = image.rows;
    return page;
}

struct Pnm {
    std::string magic;
    unsigned width = 0, height = 0, maxval = 1;
    std::string raster;
};

Pnm parse_pnm(const std::string &data)
{
    Pnm pnm;
    std::istringstream in(data);
    in >> pnm.magic >> pnm.width >> pnm.height;
    if (pnm.magic != "P4")
        in >> pnm.maxval;
    in.get();
    pnm.raster.assign(std::istreambuf_iterator<char>(in), {});
    return pnm;
}

TEST(DecodePageFiles, NamesCountFromOne)
{
    EXPECT_EQ(varkon::decode::page_file_name(1, "pbm"), "page-001.pbm");
    EXPECT_EQ(varkon::decode::page_file_name(1234, "png"), "page-1234.png");
}

TEST(DecodePageFiles, PbmHoldsThePrintersBits)
{
    TempDir dir;
    TestImage image = make_image(77, 31, 1, 2);
    ASSERT_EQ(varkon::decode::write_pnm(page_from(image), dir.file("p.pbm")), "");
    Pnm pnm = parse_pnm(read_file(dir.file("p.pbm")));
    EXPECT_EQ(pnm.magic, "P4");
    EXPECT_EQ(pnm.width, 77u);
    EXPECT_EQ(pnm.height, 31u);
    EXPECT_EQ(pnm.raster, std::string(image.rows.begin(), image.rows.end()));

    // netpbm itself accepts the file: it turns it into PNG and back unchanged.
    ProcessResult png = run_process({"/bin/sh", "-c", "pnmtopng \"$1\" | pngtopnm", "sh", dir.file("p.pbm")});
    ASSERT_EQ(png.exit_code, 0) << png.err;
    EXPECT_EQ(parse_pnm(png.out).raster, pnm.raster);
}

TEST(DecodePageFiles, PgmMapsLevelsToGray)
{
    TempDir dir;
    TestImage image = make_image(21, 5, 2, 3);
    Page page = page_from(image);
    ASSERT_EQ(varkon::decode::write_pnm(page, dir.file("p.pgm")), "");
    Pnm pnm = parse_pnm(read_file(dir.file("p.pgm")));
    EXPECT_EQ(pnm.magic, "P5");
    EXPECT_EQ(pnm.maxval, 255u);
    ASSERT_EQ(pnm.raster.size(), 21u * 5u);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 21; ++x)
            ASSERT_EQ(static_cast<unsigned char>(pnm.raster[y * 21 + x]), 255 - 85 * page.level(x, y))
                << x << "," << y;
}

TEST(DecodePageFiles, PngReadsBackAsThePage)
{
    TempDir dir;
    for (int bits : {1, 2}) {
        SCOPED_TRACE(bits);
        TestImage image = make_image(45, 17, bits, 6);
        Page page = page_from(image);
        ASSERT_EQ(varkon::decode::write_png(page, dir.file("p.png")), "");
        ProcessResult result = run_process({"/usr/bin/pngtopnm", dir.file("p.png")});
        ASSERT_EQ(result.exit_code, 0) << result.err;
        Pnm pnm = parse_pnm(result.out);
        ASSERT_EQ(pnm.width, 45u);
        ASSERT_EQ(pnm.height, 17u);
        if (bits == 1) {
            EXPECT_EQ(pnm.magic, "P4");
            EXPECT_EQ(pnm.raster, std::string(image.rows.begin(), image.rows.end()));
            continue;
        }
        // A 2-bit gray PNG comes back as PGM with maxval 3: white is 3, black 0.
        EXPECT_EQ(pnm.magic, "P5");
        EXPECT_EQ(pnm.maxval, 3u);
        ASSERT_EQ(pnm.raster.size(), 45u * 17u);
        for (uint32_t y = 0; y < 17; ++y)
            for (uint32_t x = 0; x < 45; ++x)
                ASSERT_EQ(static_cast<unsigned>(pnm.raster[y * 45 + x]), 3 - page.level(x, y)) << x << "," << y;
    }
}

TEST(DecodePageFiles, FailuresAreReported)
{
    Page page = page_from(make_image(8, 8));
    EXPECT_NE(varkon::decode::write_pnm(page, "/nonexistent-dir/p.pbm").find("cannot write"), std::string::npos);
    page.pixels.clear();
    EXPECT_EQ(varkon::decode::write_png(page, "/tmp/never-written.png"), "page has no pixels");
}

} // namespace
