// SPDX-License-Identifier: GPL-2.0-or-later
// Ordered halftoning of the 8-bit gray page into the packed printer image.
#pragma once

#include <cstdint>

// Dithers srcImgHpixels lines of srcImgWbytes gray pixels (0 black, 255 white) into
// the zero-filled target: 1 bit per pixel, or 2 bits on platform M with b1200dpi 1.
// Adds the page's inked dots to gImageCoverage. 1 on success, 0 when the source or
// target is absent or the platform is 0 (nothing written).
int HalftoneDither(const unsigned char *pSrcImgData, uint32_t srcImgWbytes, uint32_t srcImgHpixels,
                   unsigned char *pTarImgData, uint32_t realImgWByte, int32_t bNegative, int32_t b1200dpi,
                   int32_t platform);

namespace varkon {

// The plain pixel-by-pixel loop with the same contract as HalftoneDither. It is the
// definition of the printed bits: the fast paths are tested against it.
int halftone_dither_reference(const unsigned char *pSrcImgData, uint32_t srcImgWbytes, uint32_t srcImgHpixels,
                              unsigned char *pTarImgData, uint32_t realImgWByte, int32_t bNegative,
                              int32_t b1200dpi, int32_t platform);

// How every line of one page is halftoned, so that a page can be dithered line by
// line as its rows arrive: the bits of line y depend only on y and its pixels.
struct LineDither {
    const uint8_t *pattern = nullptr; // screen rows widened for 16-pixel loads, see dither.cpp
    uint32_t patternStride = 0;       // bytes per widened row
    uint32_t screenSize = 16;         // rows (and columns) of the screen
    uint32_t period = 16;             // pixels after which a widened row repeats
    bool columnRestartsEachLine = false;
    bool twoBit = false;
    bool invertCompare = false;   // M: negative print sets a bit where the gray reaches the threshold
    bool complementBytes = false; // C and Z: negative print complements whole bytes of real content
    bool negativeLevels = false;  // two-bit negative print
    uint32_t width = 0;           // pixels per line
    uint32_t realWidth = 0;       // columns of page content, at most width
};

// The line setup of a page, with HalftoneDither's arguments. platform must not be 0.
LineDither line_dither_for(uint32_t width, uint32_t realImgWByte, int32_t bNegative, int32_t b1200dpi,
                           int32_t platform);

// Whether every line starts on a byte of the target, so that lines can be dithered
// one at a time and in any order.
bool lines_start_on_bytes(const LineDither &setup);

// Bytes one line occupies in the target when lines start on bytes.
uint32_t line_bytes(const LineDither &setup);

// Dithers line `line` of the page from `gray` (setup.width pixels) into `out`, the
// line's first target byte, overwriting line_bytes() bytes. Only for setups whose
// lines start on bytes. Returns the line's share of the coverage count.
uint32_t dither_line(const LineDither &setup, const unsigned char *gray, uint32_t line, unsigned char *out);

} // namespace varkon
