// SPDX-License-Identifier: GPL-2.0-or-later
// Documents for the Printer Application tests, in every format it takes, all
// showing the same kind of page: white, with black boxes at known places
// (fractions of the page); and the measure that finds them again in a page
// the decoder read back from the printer stream.
#pragma once

#include "raster_writer.h"
#include "varkon_decode.h"

#include <string>
#include <vector>

namespace varkon::test {

// A box [x0, x1) x [y0, y1) in fractions of the page width and height, top left at 0, 0.
struct Box {
    double x0, y0, x1, y1;
};

// The page of a document: the boxes black on white.
using PageBoxes = std::vector<Box>;

// An A4 page at `dpi` as PWG raster would carry it (PageSize from the PWG
// size in millimetres), gray, 0 = black.
cups_page_header2_t pwg_a4_header(unsigned dpi = 600);

// Fills the boxes into the page's lines.
LineFill box_fill(const PageBoxes &boxes, unsigned width, unsigned height);

// Raster pages of the given boxes; `mode` CUPS_RASTER_WRITE_PWG or _APPLE.
std::string raster_document(const std::vector<PageBoxes> &pages, cups_mode_t mode, unsigned dpi = 600);

// A PDF of A4 pages with the boxes, written by hand.
std::string pdf_document(const std::vector<PageBoxes> &pages);

// A one-page JPEG or PNG of an A4-shaped picture with the boxes, made by
// Ghostscript ("jpeggray", "pnggray") into `path`.
void image_document(const PageBoxes &boxes, const std::string &device, const std::string &path);

// The share of black pixels of a decoded page in a box, 0 to 1.
double ink_share(const decode::Page &page, const Box &box);

// A page the boxes were printed on: almost all black inside them, almost all
// white in the given clear area. Empty when so; else what was found.
std::string boxes_found(const decode::Page &page, const PageBoxes &boxes, const Box &clear);

} // namespace varkon::test
