// SPDX-License-Identifier: GPL-2.0-or-later
// CUPS raster streams written byte by byte, for headers that the libcups writer
// would correct or refuse (any field at any value) and for streams cut or
// extended anywhere. The encoding is that of CUPS raster version 2 (compressed)
// or 3 (uncompressed, as gstoraster writes it), in this machine's byte order, as libcups reads them.
#pragma once

#include "raster_writer.h"

#include <cups/raster.h>

#include <cstddef>
#include <string>
#include <vector>

namespace varkon::test {

// Bytes of one page header in the stream.
constexpr std::size_t kRawHeaderBytes = sizeof(cups_page_header2_t);

enum class RawFormat { Compressed, Uncompressed };

// The stream of `pages` with their headers exactly as given. Lines are
// cupsBytesPerLine bytes, white (255) unless the page's fill paints them;
// a page's `rows` (or cupsHeight lines) are written.
std::string raw_raster(const std::vector<RasterPage> &pages, RawFormat format = RawFormat::Compressed);

// Offset of page `index`'s header (0 is the first page) in a stream raw_raster wrote.
std::size_t raw_header_offset(const std::vector<RasterPage> &pages, std::size_t index,
                              RawFormat format = RawFormat::Compressed);

} // namespace varkon::test
