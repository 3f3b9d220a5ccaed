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
