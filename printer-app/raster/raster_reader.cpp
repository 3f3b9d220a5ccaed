// SPDX-License-Identifier: GPL-2.0-or-later
// Page headers and lines of a raster document, decoded the way libcups
// decodes them, with whole runs filled and copied at once.
#include "raster_reader.h"

#include "raster_fields.h"
#include "raster_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace varkon::app {

namespace {

constexpr size_t kReadSize = 256 * 1024;
constexpr unsigned char kClearToLineEnd = 128;

// Version 2 streams (PWG raster among them) are the compressed ones.
bool compressed_sync(const unsigned char sync[4])
{
    uint32_t word;
    std::memcpy(&word, sync, sizeof word);
    return word == CUPS_RASTER_SYNCv2 || word == CUPS_RASTER_REVSYNCv2;
}

// Written on a host of the other byte order.
bool swapped_sync(const unsigned char sync[4])
{
    uint32_t word;
    std::memcpy(&word, sync, sizeof word);
    return word == CUPS_RASTER_REVSYNC || word == CUPS_RASTER_REVSYNCv1 || word == CUPS_RASTER_REVSYNCv2;
}

// libcups clears to white in the additive colour spaces and to 0 in the others.
unsigned char clear_value(unsigned colorSpace)
{
    switch (colorSpace) {
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SW:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_RGBW:
    case CUPS_CSPACE_ADOBERGB:
        return 0xFF;
    default:
        return 0x00;
    }
}

// The colour count libcups gives a header that has none (and every version 1
// header), from its colour space; 0 for a colour space it does not know, whose
// header it then refuses.
unsigned colors_of(unsigned colorSpace, unsigned bitsPerPixel)
{
    switch (colorSpace) {
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_K:
    case CUPS_CSPACE_WHITE:
    case CUPS_CSPACE_GOLD:
    case CUPS_CSPACE_SILVER:
    case CUPS_CSPACE_SW:
        return 1;
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_CMY:
    case CUPS_CSPACE_YMC:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_ADOBERGB:
    case CUPS_CSPACE_CIEXYZ:
    case CUPS_CSPACE_CIELab:
        return 3;
    case CUPS_CSPACE_RGBA:
    case CUPS_CSPACE_RGBW:
    case CUPS_CSPACE_CMYK:
    case CUPS_CSPACE_YMCK:
    case CUPS_CSPACE_KCMY:
    case CUPS_CSPACE_GMCK:
    case CUPS_CSPACE_GMCS:
        return 4;
    case CUPS_CSPACE_KCMYcm:
        return bitsPerPixel < 8 ? 6 : 4;
    default:
        if (colorSpace >= CUPS_CSPACE_ICC1 && colorSpace <= CUPS_CSPACE_ICCF)
            return 3;
        if (colorSpace >= CUPS_CSPACE_DEVICE1 && colorSpace <= CUPS_CSPACE_DEVICEF)
            return colorSpace - CUPS_CSPACE_DEVICE1 + 1;
        return 0;
    }
}

bool version1_sync(const unsigned char sync[4])
{
    uint32_t word;
    std::memcpy(&word, sync, sizeof word);
    return word == CUPS_RASTER_SYNCv1 || word == CUPS_RASTER_REVSYNCv1;
}

} // namespace

RasterReader::RasterReader(int fd) : fd_(fd), read_(read_descriptor), context_(&fd_), buffer_(kReadSize) {}

RasterReader::RasterReader(cups_raster_iocb_t read, void *context, const unsigned char *start, size_t given)
    : read_(read), context_(context), buffer_(std::max(kReadSize, given))
{
    if (given > 0)
        std::memcpy(buffer_.data(), start, given);
    end_ = given;
}

ssize_t RasterReader::read_descriptor(void *fd, unsigned char *buffer, size_t length)
{
    ssize_t got;
    do
        got = read(*static_cast<int *>(fd), buffer, length);
    while (got < 0 && errno == EINTR);
    return got;
}

bool RasterReader::fail(const std::string &why)
{
    if (error_.empty())
        error_ = why;
    return false;
}

// At least `wanted` bytes in the buffer, unless the document ends first.
bool RasterReader::fill(size_t wanted)
{
    if (end_ - start_ >= wanted)
        return true;
    if (start_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (buffer_.size() < wanted)
        buffer_.resize(wanted);
    while (end_ < wanted && !eof_) {
        errno = 0;
        const ssize_t got = read_(context_, buffer_.data() + end_, buffer_.size() - end_);
        if (got > 0) {
            end_ += static_cast<size_t>(got);
        } else {
            eof_ = true;
            if (got < 0)
                return fail(std::string("The raster document could not be read") +
                            (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) + ".");
        }
    }
    return end_ - start_ >= wanted;
}

// The next `count` bytes of the document into `to`.
bool RasterReader::take(unsigned char *to, size_t count)
{
    while (count > 0) {
        if (start_ == end_ && !fill(1))
            return false;
        const size_t n = std::min(count, end_ - start_);
        std::memcpy(to, buffer_.data() + start_, n);
        start_ += n;
        to += n;
        count -= n;
    }
    return true;
}

RasterReader::Next RasterReader::next_page(cups_page_header2_t *header)
{
    if (!error_.empty())
        return Next::Error;
    if (!opened_) {
        opened_ = true;
        if (!fill(sizeof sync_)) {
            fail(end_ == start_ ? "The raster document is empty." : "The document is no raster.");
            return Next::Error;
        }
        std::memcpy(sync_, buffer_.data() + start_, sizeof sync_);
        start_ += sizeof sync_;
        compressed_ = compressed_sync(sync_);
        swapped_ = swapped_sync(sync_);
    }
    // As in libcups, lines left unread are read as the next header.
    if (!fill(1))
        return error_.empty() ? Next::End : Next::Error;
    unsigned char raw[kCupsRasterHeaderBytes];
    if (!fill(sizeof raw)) {
        fail("The raster document ends inside the header of page " + std::to_string(page_ + 1) + ".");
        return Next::Error;
    }
    std::memcpy(raw, buffer_.data() + start_, sizeof raw);
    start_ += sizeof raw;
    if (!decode_raw_header(sync_, raw, &header_)) {
        fail("The document is no raster.");
        return Next::Error;
    }
    if (header_.cupsNumColors == 0 || version1_sync(sync_))
        header_.cupsNumColors = colors_of(field_value(header_.cupsColorSpace), header_.cupsBitsPerPixel);
    if (!libcups_accepts(header_) || header_.cupsNumColors == 0) {
        refusedHeader_ = true;
        fail("Page " + std::to_string(page_ + 1) + " of the raster document has a header that is no page.");
        return Next::Error;
    }
    if (header_.cupsBytesPerLine > maxLineBytes_) {
        refusedHeader_ = true;
        fail("Page " + std::to_string(page_ + 1) + " of the raster document has lines of " +
             std::to_string(header_.cupsBytesPerLine) + " bytes; at most " + std::to_string(maxLineBytes_) +
             " are printed.");
        return Next::Error;
    }
    ++page_;
    // libcups' line count and pixel size for the three colour orders: a
    // planar page has its lines once per colour.
    // The enumerations are read as the numbers the stream carried: they may be none of their values.
    const unsigned order = field_value(header_.cupsColorOrder);
    const bool chunked = order == CUPS_ORDER_CHUNKED;
    linesLeft_ = order == CUPS_ORDER_PLANAR ? header_.cupsHeight * header_.cupsNumColors : header_.cupsHeight;
    bytesPerPixel_ = ((chunked ? header_.cupsBitsPerPixel : header_.cupsBitsPerColor) + 7) / 8;
    clearValue_ = clear_value(field_value(header_.cupsColorSpace));
    swapSamples_ = swapped_ && (header_.cupsBitsPerColor == 16 || header_.cupsBitsPerPixel == 12 ||
                                header_.cupsBitsPerPixel == 16);
    repeatsLeft_ = 0;
    *header = header_;
    return Next::Page;
}

bool RasterReader::read_line(unsigned char *line)
{
    if (linesLeft_ == 0)
        return fail("A line was read past the end of page " + std::to_string(page_) + ".");
    const size_t bytes = header_.cupsBytesPerLine;
    bool ok = true;
    if (!compressed_) {
        ok = take(line, bytes);
    } else if (repeatsLeft_ > 0) {
        std::memcpy(line, lastLine_.data(), bytes);
        --repeatsLeft_;
    } else {
        ok = decode_line(line);
    }
    if (!ok)
        return fail("The raster document ends inside page " + std::to_string(page_) + ".");
    // Samples of 16 bits come in the writer's byte order, as libcups gives them.
    if (swapSamples_)
        for (size_t x = 0; x + 1 < bytes; x += 2)
            std::swap(line[x], line[x + 1]);
    --linesLeft_;
    return true;
}

// The runs that lie whole in the buffer, the bulk of a line, decoded without
// a look at the document; ends at the first that might not.
size_t RasterReader::decode_buffered_runs(unsigned char *line, size_t at)
{
    const size_t bytes = header_.cupsBytesPerLine;
    const size_t bpp = bytesPerPixel_;
    const size_t longestRun = 1 + 128 * bpp;
    const unsigned char *next = buffer_.data() + start_;
    const unsigned char *const end = buffer_.data() + end_;
    while (at < bytes && static_cast<size_t>(end - next) >= longestRun) {
        const unsigned count = *next++;
        const size_t left = bytes - at;
        if (count == kClearToLineEnd) {
            std::memset(line + at, clearValue_, left);
            at = bytes;
        } else if (count > kClearToLineEnd) {
            const size_t n = std::min((257 - count) * bpp, left);
            std::memcpy(line + at, next, n);
            next += n;
            at += n;
        } else {
            const size_t n = std::min((count + 1) * bpp, left);
            if (bpp == 1) {
                std::memset(line + at, *next, n);
            } else {
                for (size_t x = 0; x + bpp <= n; x += bpp)
                    std::memcpy(line + at + x, next, bpp);
            }
            next += bpp;
            at += n;
        }
    }
    start_ = static_cast<size_t>(next - buffer_.data());
    return at;
}

// One line group: its repeat count, then runs of repeated and literal pixels.
bool RasterReader::decode_line(unsigned char *line)
{
    if (!fill(1))
        return false;
    const unsigned repeats = buffer_[start_++];
    const size_t bytes = header_.cupsBytesPerLine;
    const size_t bpp = bytesPerPixel_;
    size_t at = 0;
    while (at < bytes) {
        at = decode_buffered_runs(line, at);
        if (at == bytes)
            break;
        // A run that may reach past the bytes read so far.
        if (!fill(1))
            return false;
        const unsigned count = buffer_[start_++];
        const size_t left = bytes - at;
        if (count == kClearToLineEnd) {
            std::memset(line + at, clearValue_, left);
            at = bytes;
        } else if (count > kClearToLineEnd) {
            const size_t n = std::min((257 - count) * bpp, left);
            if (!take(line + at, n))
                return false;
            at += n;
        } else {
            const size_t n = std::min((count + 1) * bpp, left);
            if (!fill(bpp))
                return false;
            const unsigned char *pixel = buffer_.data() + start_;
            if (bpp == 1) {
                std::memset(line + at, *pixel, n);
            } else {
                for (size_t x = 0; x + bpp <= n; x += bpp)
                    std::memcpy(line + at + x, pixel, bpp);
            }
            start_ += bpp;
            at += n;
        }
    }
    repeatsLeft_ = std::min<uint32_t>(repeats, linesLeft_ - 1);
    if (repeatsLeft_ > 0)
        lastLine_.assign(line, line + bytes);
    return true;
}

} // namespace varkon::app
