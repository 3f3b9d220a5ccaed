// SPDX-License-Identifier: GPL-2.0-or-later
// A model's paper table as IPP media: one PWG media name per page size, its
// size as the raster core knows it, and the margins of the printer's image.
#pragma once

#include "paper_tables.h"

#include <string>
#include <vector>

namespace varkon::app {

struct MediaSize {
    std::string pwgName;        // "iso_a4_210x297mm"
    const PAPER_SIZE_INFO *row; // the first row of that page size
    int width, length;          // hundredths of millimetres
    int left, bottom, right, top;
};

// The page sizes of a table, in its row order, each once.
std::vector<MediaSize> media_sizes(const PAPER_SIZE_INFO *rows);

// A page size that no row of the table has exactly but one row has within a
// point in both directions (a PWG size in millimetres comes out a point short
// in a raster header) becomes that row's size. True when it was changed.
bool snap_page_size(cups_page_header2_t *header, const PAPER_SIZE_INFO *rows);

} // namespace varkon::app
