// SPDX-License-Identifier: GPL-2.0-or-later
// The pixel path of a page, from raster rows to the page encoder. A page that is
// not turned by a quarter never exists as a gray page: each row is halftoned into
// its line of the image as it is read (a half-turned page into the mirrored line,
// from the row read backwards), and the encoder takes the lines as they are done.
// Only a quarter turn needs the whole gray page, which is then turned and dithered
// as before. The bits are those of the gray page turned and dithered whole.
#pragma once

#include "dither.h"
#include "page_encoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace varkon {

// A byte buffer that keeps its memory for the next page and is never cleared:
// the pipeline writes every byte it later reads, so fresh memory is touched once
// per job, not once per page.
class PageMemory {
public:
    // Room for `bytes`; the contents are kept only when no new memory was needed.
    // False when memory is short.
    bool reserve(size_t bytes);
    unsigned char *data() const { return data_.get(); }

private:
    std::unique_ptr<unsigned char[]> data_;
    size_t capacity_ = 0;
};

// Bytes of the dithered page: W x H / 8, twice that in two-bit mode.
size_t mono_image_bytes(uint32_t W, uint32_t H, int b2Bit);

// What the buffers of a page must hold.
struct PageShape {
    uint32_t W = 0;            // device pixels per line, before any quarter turn
    uint32_t H = 0;            // device lines
    uint32_t bytesPerLine = 0; // raster bytes per line
    int b2Bit = 0;
    bool wholeGrayPage = false; // turned by a quarter, or lines that do not start on a byte
};

// The gray page buffers of the job loop, kept from page to page. The halftoned
// image (pMonoImgBuf) is kept apart, one per page in flight.
struct PageBuffers {
    PageMemory pGrayImgLineBuf; // one raster line; from its end up to W, white
    PageMemory reversedLine;    // one line of a half-turned page
    PageMemory pGrayImgBuf;     // the whole gray page, only where the page needs it
};

// Sizes the buffers and the halftoned image for the page. False when memory is short.
bool prepare_page_buffers(PageBuffers &buffers, PageMemory &pMonoImgBuf, const PageShape &shape);

// The W gray pixels of the raster line in the line buffer: the line, white after
// its end, or its middle W bytes when it is wider than the device image.
const unsigned char *device_row(const PageBuffers &buffers, const PageShape &shape);

// A page halftoned row by row.
struct StreamedPage {
    PageBuffers *buffers = nullptr;
    unsigned char *image = nullptr; // the halftoned page
    PageEncoder *encoder = nullptr;
    LineDither setup;
    uint32_t H = 0;
    bool halfTurn = false;
    uint32_t rowsTaken = 0; // gray rows 0 .. rowsTaken - 1 are in the image
    uint32_t coverage = 0;  // the page's dot count, for gImageCoverage
};

// Row y of the gray page (W pixels), which must be the next row: dithered into
// line y of the image, or into line H - 1 - y mirrored when the page is half-turned.
void take_row(StreamedPage &page, uint32_t y, const unsigned char *row);

// The gray rows the raster did not give are white, as in a gray page filled white.
void finish_rows(StreamedPage &page);

// Drops a page whose rows stopped: the lines not dithered are made blank for the
// encoder to run out over, and no thread reads the image after this returns.
void abandon_rows(StreamedPage &page);

// Whole gray page: row y as read, then white for the rows the raster did not give.
void put_gray_row(PageBuffers &buffers, const PageShape &shape, uint32_t y, const unsigned char *row);
void whiten_gray_rows(PageBuffers &buffers, const PageShape &shape, uint32_t from);

} // namespace varkon
