// SPDX-License-Identifier: GPL-2.0-or-later
// Version 2 and 3 CUPS raster written without libcups: the header copied as it
// is, the lines run-length encoded the way libcups decodes them.
#include "raw_raster.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace varkon::test {

namespace {

constexpr uint32_t kSyncV3 = 0x52615333; // "RaS3", uncompressed
constexpr uint32_t kSyncV2 = 0x52615332; // "RaS2", compressed

void append(std::string &out, const void *data, std::size_t size)
{
    out.append(static_cast<const char *>(data), size);
}

// The unit libcups repeats or copies: one pixel, or one byte where a pixel is
// not a whole number of bytes or the line not a whole number of pixels.
std::size_t pixel_unit(const cups_page_header2_t &h)
{
    const unsigned bits = h.cupsColorOrder == CUPS_ORDER_CHUNKED ? h.cupsBitsPerPixel : h.cupsBitsPerColor;
    const std::size_t unit = bits >= 8 && bits % 8 == 0 ? bits / 8 : 1;
    return h.cupsBytesPerLine % unit == 0 ? unit : 1;
}

// One line's pixels: runs of 2 to 128 equal units as (count - 1, unit), other
// units as literal groups of up to 127 (257 - count, units). 128 is never used:
// libcups reads it as "white to the end of the line".
void encode_pixels(std::string &out, const unsigned char *line, std::size_t bytes, std::size_t unit)
{
    const std::size_t units = bytes / unit;
    const auto same = [&](std::size_t a, std::size_t b) { return std::memcmp(line + a * unit, line + b * unit, unit) == 0; };
    for (std::size_t i = 0; i < units;) {
        std::size_t run = 1;
        while (i + run < units && run < 128 && same(i, i + run))
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<char>(run - 1));
            append(out, line + i * unit, unit);
            i += run;
            continue;
        }
        std::size_t literal = 1;
        while (i + literal < units && literal < 127 && !(i + literal + 1 < units && same(i + literal, i + literal + 1)))
            ++literal;
        out.push_back(static_cast<char>(257 - literal));
        append(out, line + i * unit, literal * unit);
        i += literal;
    }
}

void append_page(std::string &out, const RasterPage &page, RawFormat format)
{
    append(out, &page.header, sizeof page.header);
    const std::size_t bytes = page.header.cupsBytesPerLine;
    const std::size_t rows = page.rows < 0 ? page.header.cupsHeight : static_cast<std::size_t>(page.rows);
    if (rows == 0)
        return; // a header alone, whatever its line size
    const std::size_t unit = pixel_unit(page.header);
    std::vector<unsigned char> line(bytes), next(bytes);
    const auto fill = [&](std::size_t y, std::vector<unsigned char> &into) {
        std::fill(into.begin(), into.end(), 255);
        if (page.fill)
            page.fill(static_cast<unsigned>(y), into.data(), static_cast<unsigned>(bytes));
    };
    for (std::size_t y = 0; y < rows;) {
        fill(y, line);
        if (format == RawFormat::Uncompressed) {
            append(out, line.data(), bytes);
            ++y;
            continue;
        }
        std::size_t repeat = 1;
        for (; y + repeat < rows && repeat < 256; ++repeat) {
            fill(y + repeat, next);
            if (next != line)
                break;
        }
        out.push_back(static_cast<char>(repeat - 1));
        encode_pixels(out, line.data(), bytes, unit);
        y += repeat;
    }
}

} // namespace

std::string raw_raster(const std::vector<RasterPage> &pages, RawFormat format)
{
    std::string out;
    const uint32_t sync = format == RawFormat::Compressed ? kSyncV2 : kSyncV3;
    append(out, &sync, sizeof sync);
    for (const RasterPage &page : pages)
        append_page(out, page, format);
    return out;
}

std::size_t raw_header_offset(const std::vector<RasterPage> &pages, std::size_t index, RawFormat format)
{
    const std::vector<RasterPage> before(pages.begin(), pages.begin() + static_cast<std::ptrdiff_t>(index));
    return raw_raster(before, format).size();
}

} // namespace varkon::test
