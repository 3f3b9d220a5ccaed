// SPDX-License-Identifier: GPL-2.0-or-later
// The Printer Application's raster reader against libcups on fuzzed streams:
// the first byte picks a stream of one small page whose header comes from the
// next bytes (size, bits, colour space, byte order) and whose run bytes are
// the rest, or the whole input as the stream; the reads come in pieces of a
// size the input picks. Both must give the same headers and lines and stop
// at the same line; any difference aborts.
#include "fuzz_input.h"
#include "raster_reader.h"

#include <cups/raster.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

using varkon::fuzz::require;
using varkon::app::RasterReader;

namespace {

// Lines of a few kilobytes keep one input at a few milliseconds, and libcups'
// buffers small.
constexpr uint64_t kMaxLineBytes = 1 << 14;
constexpr uint64_t kMaxPageBytes = 1 << 20;

struct Source {
    const std::string &data;
    size_t chunk;
    size_t at = 0;
    static ssize_t read(void *self, unsigned char *buffer, size_t length)
    {
        auto *s = static_cast<Source *>(self);
        const size_t n = std::min({length, s->chunk, s->data.size() - s->at});
        std::memcpy(buffer, s->data.data() + s->at, n);
        s->at += n;
        return static_cast<ssize_t>(n);
    }
};

// Every header and line a reader gives, as one text.
template <typename NextPage, typename NextLine> std::string everything(NextPage next_page, NextLine next_line)
{
    std::string out;
    cups_page_header2_t h;
    while (next_page(&h)) {
        out.append(reinterpret_cast<const char *>(&h), sizeof h);
        std::string line(h.cupsBytesPerLine, '\0');
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            if (!next_line(reinterpret_cast<unsigned char *>(line.data()), h.cupsBytesPerLine))
                return out + "(cut)";
            out += line;
        }
    }
    return out;
}

bool small(const cups_page_header2_t &h)
{
    return h.cupsBytesPerLine <= kMaxLineBytes && uint64_t{h.cupsBytesPerLine} * h.cupsHeight <= kMaxPageBytes;
}

std::string page_stream(varkon::fuzz::FuzzInput &input, const uint8_t *rest, size_t restSize)
{
    cups_page_header2_t h{};
    static constexpr unsigned kBits[][2] = {{8, 1}, {8, 3}, {16, 1}, {1, 1}, {8, 4}, {2, 1}, {16, 3}};
    const auto &bits = kBits[input.byte() % std::size(kBits)];
    static constexpr cups_cspace_t kSpaces[] = {CUPS_CSPACE_SW, CUPS_CSPACE_K, CUPS_CSPACE_W, CUPS_CSPACE_SRGB,
                                                CUPS_CSPACE_CMYK, CUPS_CSPACE_RGBW};
    h.cupsColorSpace = kSpaces[input.byte() % std::size(kSpaces)];
    h.cupsWidth = 1 + input.byte() % 200;
    h.cupsHeight = 1 + input.byte() % 40;
    h.cupsBitsPerColor = bits[0];
    h.cupsBitsPerPixel = bits[0] * bits[1];
    h.cupsBytesPerLine = (h.cupsWidth * h.cupsBitsPerPixel + 7) / 8;
    h.cupsNumColors = bits[1];
    h.HWResolution[0] = h.HWResolution[1] = 600;
    const bool swapped = input.flag();
    uint32_t sync = swapped ? CUPS_RASTER_REVSYNCv2 : CUPS_RASTER_SYNCv2;
    auto *bytes = reinterpret_cast<unsigned char *>(&h);
    if (swapped)
        for (size_t at = offsetof(cups_page_header2_t, AdvanceDistance); at < offsetof(cups_page_header2_t, cupsString);
             at += 4) {
            std::swap(bytes[at], bytes[at + 3]);
            std::swap(bytes[at + 1], bytes[at + 2]);
        }
    std::string stream(reinterpret_cast<const char *>(&sync), 4);
    stream.append(reinterpret_cast<const char *>(&h), sizeof h);
    stream.append(reinterpret_cast<const char *>(rest), restSize);
    return stream;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    varkon::fuzz::FuzzInput input(data, size);
    const bool wholeInput = input.byte() % 4 == 0;
    const size_t chunk = 1 + input.byte() % 64 * (input.flag() ? 1024 : 1);
    constexpr size_t kShapeBytes = 5;
    std::string stream;
    if (wholeInput) {
        stream.assign(reinterpret_cast<const char *>(data) + std::min<size_t>(size, 3),
                      size - std::min<size_t>(size, 3));
    } else {
        const size_t used = std::min(size, size_t{3} + kShapeBytes);
        varkon::fuzz::FuzzInput shape(data + std::min<size_t>(size, 3), used - std::min<size_t>(size, 3));
        stream = page_stream(shape, data + used, size - used);
    }
    // Our reader first: a stream with a large page (which libcups would
    // allocate for) is left alone, as are the pages of the fuzzed header bytes.
    Source ours{stream, chunk};
    RasterReader reader(Source::read, &ours);
    bool large = false;
    const std::string byReader = everything(
        [&](cups_page_header2_t *h) {
            if (reader.next_page(h) != RasterReader::Next::Page)
                return false;
            large = large || !small(*h);
            return !large;
        },
        [&](unsigned char *line, unsigned) { return reader.read_line(line); });
    // libcups allocates from a header before it refuses it.
    if (large || reader.refused_header())
        return 0;

    Source theirs{stream, stream.size() + 1};
    std::string byLibcups;
    if (cups_raster_t *r = cupsRasterOpenIO(Source::read, &theirs, CUPS_RASTER_READ)) {
        byLibcups = everything([&](cups_page_header2_t *h) { return cupsRasterReadHeader2(r, h) != 0; },
                               [&](unsigned char *line, unsigned bytes) {
                                   return cupsRasterReadPixels(r, line, bytes) == bytes;
                               });
        cupsRasterClose(r);
    }
    if (byReader != byLibcups) {
        size_t at = 0;
        while (at < byReader.size() && at < byLibcups.size() && byReader[at] == byLibcups[at])
            ++at;
        std::fprintf(stderr, "reader %zu bytes, libcups %zu; first difference at %zu (a header is %zu bytes)\n",
                     byReader.size(), byLibcups.size(), at, sizeof(cups_page_header2_t));
    }
    require(byReader == byLibcups, "the reader's headers and lines are libcups'");
    return 0;
}
