// SPDX-License-Identifier: GPL-2.0-or-later
// Writes CUPS raster streams for tests with the real libcups writer
// (cupsRasterOpen, cupsRasterWriteHeader2, cupsRasterWritePixels), so that the
// filter under test reads exactly what the CUPS imaging filters would give it.
//
//   varkon::test::RasterPage page(varkon::test::gray_header(595, 842));
//   page.fill = [](unsigned y, unsigned char *line, unsigned bytes) { ... };
//   std::string stream = varkon::test::make_raster({page, page});
#pragma once

#include <cups/raster.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace varkon::test {

// Fills raster line `y` (0 is the top line) of `bytes` bytes, already set to white (255).
using LineFill = std::function<void(unsigned y, unsigned char *line, unsigned bytes)>;

struct RasterPage {
    explicit RasterPage(const cups_page_header2_t &h, LineFill f = {}, long r = -1)
        : header(h), fill(std::move(f)), rows(r)
    {
    }
    cups_page_header2_t header;
    LineFill fill; // nothing: the page stays white
    long rows;     // lines actually written; -1 for all cupsHeight lines. Fewer lines
                   // make a cut-off page, which only makes sense as the last page.
};

// An 8-bit gray page header (cupsColorSpace SW, 0 = black) the way the CUPS
// chain sends it to a raster filter: PageSize in points, the whole page as the
// image (cupsImagingBBox all zero), one copy, simplex.
cups_page_header2_t gray_header(unsigned width_pt, unsigned height_pt, unsigned dpi = 600);

// The raster stream of `pages`, compressed as the CUPS writer does it; with
// CUPS_RASTER_WRITE_PWG or CUPS_RASTER_WRITE_APPLE, PWG or Apple raster.
std::string make_raster(const std::vector<RasterPage> &pages, cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED);

// The same stream written to `path`.
void write_raster_file(const std::string &path, const std::vector<RasterPage> &pages);

// A LineFill that paints the rectangle [x0, x1) x [y0, y1) with `gray`.
LineFill fill_rect(unsigned x0, unsigned y0, unsigned x1, unsigned y1, unsigned char gray = 0);

} // namespace varkon::test
