// SPDX-License-Identifier: GPL-2.0-or-later
// Page geometry: the device image size of a page, and the five parameter
// records that the job loop hands to the command layer.
#pragma once

#include "job_options.h"
#include "paper_tables.h"
#include "prnt.h"

#include <cups/cups.h>
#include <cups/raster.h>

#include <cstddef>
#include <cstdint>

namespace varkon {

// Limits on what one page may ask for. Raster headers and PPD sizes are
// untrusted: a page beyond these is refused before anything is allocated.
// The largest real page, Legal at 1200 x 1200 dpi on platform C, is 9856 x
// 16328 device pixels (161 MB of gray) with lines of 10200 bytes.
constexpr uint32_t kMaxDeviceWidth = 16384;  // device pixels per line; twice that still fits 16 bits
constexpr uint32_t kMaxDeviceHeight = 32768; // device lines; fits the 16-bit image height
constexpr uint64_t kMaxDevicePixels = uint64_t(1) << 28; // 256 MB gray page
constexpr uint32_t kMaxRasterLineBytes = 65536;
constexpr uint32_t kMaxRasterLines = 131072;
// Copies per page: the page start carries them in 16 bits.
constexpr uint32_t kMaxCopies = 65535;
static_assert(2 * kMaxDeviceWidth <= 65536 && kMaxDeviceHeight <= 65535,
              "two-bit lines and the page height must fit the 16-bit image fields");

// The caps as one record: the filter always uses these values; a harness that
// runs many jobs in one process may lower them to keep each job small.
struct PageLimits {
    uint32_t maxDeviceWidth = kMaxDeviceWidth;
    uint32_t maxDeviceHeight = kMaxDeviceHeight;
    uint64_t maxDevicePixels = kMaxDevicePixels;
    uint32_t maxRasterLineBytes = kMaxRasterLineBytes;
    uint32_t maxRasterLines = kMaxRasterLines;
};

// The device image of one page and what the printer is told about it.
struct PageGeometry {
    uint32_t W = 0;          // fwImgWPixel: printable width in device pixels
    uint32_t H = 0;          // fwImgHPixel: printable height in device lines
    int32_t paperNum = 0;    // the printer's paper code; 255 (C) or 0 (Z, M) for a computed size
    uint16_t marginX = 0;
    uint16_t marginY = 0;
    uint16_t resolutionX = 0; // as sent: dpi / 10 on C and Z, dpi on M
    uint16_t resolutionY = 0;
};

// Why a raster header cannot be printed, as an "ERROR:" line, or nullptr when
// it can: gray (W or SW) with 8 bits per colour and per pixel, lines and line
// count non-zero, cupsBytesPerLine at least cupsWidth, both within the caps,
// at most kMaxCopies copies.
const char *raster_header_problem(const cups_page_header2_t &header, const PageLimits &limits = PageLimits{});

// A header that asks for no copy at all asks for one.
void normalise_copies(cups_page_header2_t *header);

// Device image size and paper code of a page. An oversize page may first be
// replaced from the table by the PageSize option; the lookup may set the
// LONGEDGEFEED feature. Returns 1, or 0 with `problem` set to an "ERROR:" line
// when the size or resolution is zero, not a number or beyond the caps.
int compute_page_geometry(cups_page_header2_t *header, const PAPER_SIZE_INFO *paperSizeArray, int num_option,
                          cups_option_t *options, PRINT_FUNC_INFO *features, int platform, PageGeometry *geometry,
                          const char **problem, const PageLimits &limits = PageLimits{});

// Whether the page is A5 fed long edge first: its image is turned by a quarter.
bool long_edge_a5(const PageGeometry &geometry, const PRINT_FUNC_INFO *features, int platform);

void fill_start_doc_param(GDI_START_DOC_PARAM *param, const char *jobId, const char *title,
                          const PRINT_FUNC_INFO *features, int platform, int iSupportManDuplex);

void fill_start_page_param(GDI_START_PAGE_PARAM *param, const PageGeometry &geometry,
                           const cups_page_header2_t &header, const PRINT_FUNC_INFO *features, int platform,
                           int b2Bit, int page);

// W and H are those of the image as dithered (after any quarter turn).
void fill_send_page_param(GDI_SEND_PAGE_PARAM *param, uint32_t W, uint32_t H, int b2Bit,
                          const cups_page_header2_t &header, int platform, unsigned char *image);

void fill_end_page_param(GDI_END_PAGE_PARAM *param, const cups_page_header2_t &header,
                         const PRINT_FUNC_INFO *features, int page);

void fill_end_doc_param(GDI_END_DOC_PARAM *param, const PRINT_FUNC_INFO *features, int page);

} // namespace varkon
