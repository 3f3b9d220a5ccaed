// SPDX-License-Identifier: GPL-2.0-or-later
// Turning the gray page for duplex and long-edge feed, and the blank page of odd duplex jobs.
#pragma once

#include "job_options.h"
#include "prnt.h"

#include <cups/raster.h>

#include <cstdint>

// Half turn in place: the byte order of the whole image is reversed. 1 when turned.
int Rotate180(unsigned char *imgBuf, uint32_t widthBytes, uint32_t heightPixels);

// Quarter turn clockwise in place: afterwards heightPixels bytes per row and
// widthBytes rows; the caller swaps its W and H. 1 when turned.
int Rotate90(unsigned char *imgBuf, uint32_t widthBytes, uint32_t heightPixels);

// Sends one empty page numbered g_page + 1 with the last page's start record.
void InsertBlankPage(cups_page_header2_t header, PGDI_START_PAGE_PARAM pStartPageParam, int platform);

namespace varkon {

// The half-turn rule: whether page `page` is turned by 180 degrees before dithering.
int half_turn_needed(const PRINT_FUNC_INFO *features, int page, int platform, int mDuplexType,
                     unsigned feedEdge);

} // namespace varkon
