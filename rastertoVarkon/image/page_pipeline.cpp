// SPDX-License-Identifier: GPL-2.0-or-later
// Page buffers that live for the job, and the row-by-row halftoning of pages that
// are not turned by a quarter.
#include "page_pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace varkon {

bool PageMemory::reserve(size_t bytes)
{
    if (bytes <= capacity_ && data_)
        return true;
    data_.reset();
    capacity_ = 0;
    // Not value-initialised: pages write before they read.
    data_.reset(new (std::nothrow) unsigned char[std::max<size_t>(bytes, 1)]);
    if (!data_)
        return false;
    capacity_ = bytes;
    return true;
}

size_t mono_image_bytes(uint32_t W, uint32_t H, int b2Bit)
{
    const size_t bitsPerPixel = (b2Bit == 1) ? 2 : 1;
    return bitsPerPixel * W * H / 8;
}

bool prepare_page_buffers(PageBuffers &buffers, PageMemory &pMonoImgBuf, const PageShape &shape)
{
    const size_t W = shape.W, H = shape.H, bpl = shape.bytesPerLine;
    // The image holds a last, partial byte when its bits do not fill whole bytes.
    const size_t monoBytes = mono_image_bytes(shape.W, shape.H, shape.b2Bit) + 1;
    if (!buffers.pGrayImgLineBuf.reserve(std::max(bpl, W)) || !pMonoImgBuf.reserve(monoBytes))
        return false;
    if (shape.wholeGrayPage) {
        if (!buffers.pGrayImgBuf.reserve(W * H))
            return false;
        // The dither of a whole page merges bits into a zero-filled image.
        std::memset(pMonoImgBuf.data(), 0, monoBytes);
    } else if (!buffers.reversedLine.reserve(W)) {
        return false;
    }
    // Reads fill bytesPerLine bytes; a narrower raster line is white up to W.
    if (bpl < W)
        std::memset(buffers.pGrayImgLineBuf.data() + bpl, 255, W - bpl);
    return true;
}

const unsigned char *device_row(const PageBuffers &buffers, const PageShape &shape)
{
    const unsigned char *line = buffers.pGrayImgLineBuf.data();
    return shape.bytesPerLine <= shape.W ? line : line + (shape.bytesPerLine - shape.W) / 2;
}

namespace {

// Dithers a gray row into its line of the image and hands the line to the encoder.
void dither_into_line(StreamedPage &page, uint32_t line, const unsigned char *gray)
{
    unsigned char *out = page.image + size_t{line} * line_bytes(page.setup);
    page.coverage += dither_line(page.setup, gray, line, out);
    page.encoder->line_done(line);
}

} // namespace

void take_row(StreamedPage &page, uint32_t y, const unsigned char *row)
{
    if (!page.halfTurn) {
        dither_into_line(page, y, row);
    } else {
        // A half turn reverses the order of every byte of the page: gray row y,
        // read backwards, is line H - 1 - y.
        unsigned char *mirrored = page.buffers->reversedLine.data();
        std::reverse_copy(row, row + page.setup.width, mirrored);
        dither_into_line(page, page.H - 1 - y, mirrored);
    }
    page.rowsTaken = y + 1;
}

void finish_rows(StreamedPage &page)
{
    // A white row is white backwards too.
    unsigned char *white = page.buffers->reversedLine.data();
    std::memset(white, 255, page.setup.width);
    for (uint32_t y = page.rowsTaken; y < page.H; ++y)
        dither_into_line(page, page.halfTurn ? page.H - 1 - y : y, white);
    page.rowsTaken = page.H;
}

void abandon_rows(StreamedPage &page)
{
    const size_t bytes = line_bytes(page.setup);
    const uint32_t missing = page.H - page.rowsTaken;
    const uint32_t first = page.halfTurn ? 0 : page.rowsTaken;
    std::memset(page.image + first * bytes, 0, missing * bytes);
    page.encoder->abandon();
}

void put_gray_row(PageBuffers &buffers, const PageShape &shape, uint32_t y, const unsigned char *row)
{
    std::memcpy(buffers.pGrayImgBuf.data() + size_t{y} * shape.W, row, shape.W);
}

void whiten_gray_rows(PageBuffers &buffers, const PageShape &shape, uint32_t from)
{
    if (from < shape.H)
        std::memset(buffers.pGrayImgBuf.data() + size_t{from} * shape.W, 255, size_t{shape.H - from} * shape.W);
}

} // namespace varkon
