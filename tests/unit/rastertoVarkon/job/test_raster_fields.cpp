// SPDX-License-Identifier: GPL-2.0-or-later
// Header fields of enumeration type carrying values outside their enumeration,
// as a raster stream may: the filter reads them as numbers. Under the
// sanitizer build an enumeration load of such a value fails these tests.
#include "raster_fields.h"

#include "job_options.h"
#include "page_geometry.h"
#include "stderr_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Stores a raw 32-bit value into an enumeration field, as libcups does.
template <typename Enum>
void store(Enum *field, unsigned value)
{
    std::memcpy(field, &value, sizeof value);
}

cups_page_header2_t gray_page()
{
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsWidth = h.cupsBytesPerLine = h.cupsHeight = 100;
    h.NumCopies = 1;
    return h;
}

int autoduplex(const cups_page_header2_t &h)
{
    PRINT_FUNC_INFO table[FUNC_COUNT];
    std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), table);
    varkon::test::StderrCapture quiet;
    GetFunctionValue(table, 0, nullptr, &h);
    return table[AUTODUPLEX].value;
}

TEST(RasterFields, AnyNonZeroDuplexAndTumbleCountAsSet)
{
    cups_page_header2_t h = gray_page();
    store(&h.Duplex, 2);
    EXPECT_EQ(autoduplex(h), 1);
    store(&h.Tumble, 0x80000000u);
    EXPECT_EQ(autoduplex(h), 2);
    store(&h.Duplex, 0);
    EXPECT_EQ(autoduplex(h), 0);
}

TEST(RasterFields, ColourSpaceOutsideTheEnumerationIsRefused)
{
    cups_page_header2_t h = gray_page();
    EXPECT_EQ(varkon::raster_header_problem(h), nullptr);
    store(&h.cupsColorSpace, 0xFFFFFFFFu);
    ASSERT_NE(varkon::raster_header_problem(h), nullptr);
    EXPECT_STREQ(varkon::raster_header_problem(h), "ERROR: The page is not 8-bit grayscale raster and cannot be printed.\n");
}

TEST(RasterFields, HeaderLogShowsTheNumbersTheStreamCarried)
{
    cups_page_header2_t h = gray_page();
    store(&h.Duplex, 3);
    store(&h.ManualFeed, 5);
    store(&h.Orientation, 1594753024u);
    store(&h.cupsColorOrder, 9);
    store(&h.cupsColorSpace, 77);
    varkon::test::StderrCapture capture;
    log_page_header2(&h);
    const std::string log = capture.finish();
    EXPECT_NE(log.find("DEBUG: Duplex = 3\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG: ManualFeed = 5\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG: Orientation = 1594753024\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG: cupsColorOrder = 9\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG: cupsColorSpace = 77\n"), std::string::npos) << log;
}

} // namespace
