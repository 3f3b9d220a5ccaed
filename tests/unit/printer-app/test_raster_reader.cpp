// SPDX-License-Identifier: GPL-2.0-or-later
// The server's raster reader against libcups' own: the same headers and the
// same lines, ending at the same line, for the streams libcups writes (PWG,
// compressed and uncompressed CUPS raster), for hand-made runs at the edges
// of the format and the three colour orders, for the other byte order, for random run bytes and for every
// cut of a stream; whatever size the reads come in.
#include "raster_reader.h"
#include "raster_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using varkon::app::RasterReader;
using namespace varkon::test;

struct Pages {
    std::vector<std::string> headers;  // the whole header, as bytes
    std::vector<std::string> lines;
};

bool operator==(const Pages &a, const Pages &b) { return a.headers == b.headers && a.lines == b.lines; }

std::string header_bytes(const cups_page_header2_t &h)
{
    return std::string(reinterpret_cast<const char *>(&h), sizeof h);
}

// Hands out `stream` in reads of at most `chunk` bytes.
struct MemoryStream {
    const std::string &data;
    size_t chunk;
    size_t at = 0;
    static ssize_t read(void *self, unsigned char *buffer, size_t length)
    {
        auto *s = static_cast<MemoryStream *>(self);
        const size_t n = std::min({length, s->chunk, s->data.size() - s->at});
        std::memcpy(buffer, s->data.data() + s->at, n);
        s->at += n;
        return static_cast<ssize_t>(n);
    }
};

Pages with_libcups(const std::string &stream)
{
    Pages pages;
    MemoryStream source{stream, stream.size() + 1};
    cups_raster_t *r = cupsRasterOpenIO(MemoryStream::read, &source, CUPS_RASTER_READ);
    if (r == nullptr)
        return pages;
    cups_page_header2_t h;
    bool cut = false;
    while (!cut && cupsRasterReadHeader2(r, &h) != 0) {
        pages.headers.push_back(header_bytes(h));
        std::string line(h.cupsBytesPerLine, '\0');
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            if (cupsRasterReadPixels(r, reinterpret_cast<unsigned char *>(line.data()), h.cupsBytesPerLine) == 0) {
                cut = true;
                break;
            }
            pages.lines.push_back(line);
        }
    }
    cupsRasterClose(r);
    return pages;
}

Pages read_all(RasterReader &reader, RasterReader::Next *last)
{
    Pages pages;
    cups_page_header2_t h;
    while ((*last = reader.next_page(&h)) == RasterReader::Next::Page) {
        pages.headers.push_back(header_bytes(h));
        std::string line(h.cupsBytesPerLine, '\0');
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            if (!reader.read_line(reinterpret_cast<unsigned char *>(line.data()))) {
                *last = RasterReader::Next::Error;
                return pages;
            }
            pages.lines.push_back(line);
        }
    }
    return pages;
}

Pages with_reader(const std::string &stream, size_t chunk = 1 << 20, RasterReader::Next *end = nullptr)
{
    MemoryStream source{stream, chunk};
    RasterReader reader(MemoryStream::read, &source);
    RasterReader::Next last;
    Pages pages = read_all(reader, &last);
    if (end != nullptr)
        *end = last;
    if (last == RasterReader::Next::Error) {
        EXPECT_FALSE(reader.error().empty());
    }
    return pages;
}

LineFill mixed_fill(unsigned seed)
{
    return [seed](unsigned y, unsigned char *line, unsigned bytes) {
        std::mt19937 random(seed * 7919 + y / 3);  // runs of three equal lines
        for (unsigned x = 0; x < bytes; ++x) {
            if ((x / 50 + y / 40) % 3 == 0)
                line[x] = static_cast<unsigned char>(random());  // noise: literal runs
            else if ((x / 9) % 4 == 1)
                line[x] = static_cast<unsigned char>(x / 9);     // short repeats
        }
    };
}

cups_page_header2_t header_of(unsigned width, unsigned height, unsigned bitsPerColor, unsigned colors,
                              cups_cspace_t space)
{
    cups_page_header2_t h = gray_header(72, 72);
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = bitsPerColor;
    h.cupsBitsPerPixel = bitsPerColor * colors;
    h.cupsBytesPerLine = (width * h.cupsBitsPerPixel + 7) / 8;
    h.cupsColorSpace = space;
    h.cupsNumColors = colors;
    return h;
}

TEST(RasterReader, StreamsLibcupsWritesReadAsLibcupsReadsThem)
{
    std::vector<RasterPage> pages;
    pages.emplace_back(gray_header(100, 60), mixed_fill(1));
    pages.emplace_back(gray_header(31, 17, 300), mixed_fill(2));       // odd width
    pages.emplace_back(gray_header(100, 60));                            // white: whole-line repeats
    pages.emplace_back(header_of(57, 40, 8, 3, CUPS_CSPACE_SRGB), mixed_fill(3));
    pages.emplace_back(header_of(45, 30, 16, 1, CUPS_CSPACE_SW), mixed_fill(4));
    pages.emplace_back(header_of(203, 25, 1, 1, CUPS_CSPACE_K), mixed_fill(5));
    for (const cups_mode_t mode : {CUPS_RASTER_WRITE_PWG, CUPS_RASTER_WRITE_COMPRESSED, CUPS_RASTER_WRITE}) {
        SCOPED_TRACE(mode);
        const std::string stream = make_raster(pages, mode);
        const Pages expected = with_libcups(stream);
        ASSERT_EQ(expected.headers.size(), pages.size());
        for (const size_t chunk : {size_t{1} << 20, size_t{4096}, size_t{7}, size_t{1}}) {
            SCOPED_TRACE(chunk);
            RasterReader::Next end;
            EXPECT_TRUE(with_reader(stream, chunk, &end) == expected);
            EXPECT_EQ(end, RasterReader::Next::End);
        }
    }
}

// A compressed stream of one page made by hand: sync word, header, run bytes.
std::string hand_made(const cups_page_header2_t &h, const std::string &runs, bool otherByteOrder = false)
{
    cups_page_header2_t header = h;
    uint32_t sync = CUPS_RASTER_SYNCv2;
    if (otherByteOrder) {
        sync = CUPS_RASTER_REVSYNCv2;
        auto *bytes = reinterpret_cast<unsigned char *>(&header);
        for (size_t at = offsetof(cups_page_header2_t, AdvanceDistance);
             at < offsetof(cups_page_header2_t, cupsString); at += 4) {
            std::swap(bytes[at], bytes[at + 3]);
            std::swap(bytes[at + 1], bytes[at + 2]);
        }
    }
    return std::string(reinterpret_cast<const char *>(&sync), 4) + header_bytes(header) + runs;
}

TEST(RasterReader, RunsAtTheEdgesOfTheFormatDecodeAsLibcupsDecodesThem)
{
    struct Case {
        const char *name;
        cups_page_header2_t header;
        std::string runs;
    };
    const std::string s = std::string("\x00", 1);
    cups_page_header2_t banded = header_of(2, 2, 8, 3, CUPS_CSPACE_RGB);
    banded.cupsColorOrder = CUPS_ORDER_BANDED;
    cups_page_header2_t planar = header_of(2, 2, 8, 3, CUPS_CSPACE_RGB);
    planar.cupsColorOrder = CUPS_ORDER_PLANAR;
    const Case cases[] = {
        {"clear to the line end in gray is white", header_of(10, 2, 8, 1, CUPS_CSPACE_SW),
         s + "\x01\x07\x80" + s + "\x80"},
        {"clear to the line end in black ink is 0", header_of(10, 2, 8, 1, CUPS_CSPACE_K),
         s + "\x01\x07\x80" + s + "\x80"},
        {"clear to the line end in RGB", header_of(4, 1, 8, 3, CUPS_CSPACE_RGB), s + std::string("\x00\x01\x02\x03\x80", 5)},
        {"a repeat longer than the rest of the line", header_of(10, 1, 8, 1, CUPS_CSPACE_SW), s + "\x7f\x11"},
        {"a literal run past the line end feeds the next line", header_of(3, 2, 8, 1, CUPS_CSPACE_SW),
         s + "\xfb" + "abcde" + "\x7f" + "z"},
        {"a line repeat past the page's last line", header_of(6, 3, 8, 1, CUPS_CSPACE_SW), "\xff\x05\x42"},
        {"line groups of every length", header_of(2, 9, 8, 1, CUPS_CSPACE_SW),
         std::string("\x00\x01\x10", 3) + "\x03\x01\x20" + "\x01\x01\x30" + "\x02\x80"},
        {"three-byte pixels repeated", header_of(5, 1, 8, 3, CUPS_CSPACE_SRGB), s + "\x02\x01\x02\x03\xfe\x04\x05\x06\x07\x08\x09"},
        {"a page that ends inside a run", header_of(10, 2, 8, 1, CUPS_CSPACE_SW), s + "\x09\x01" + s + "\xf8" + "ab"},
        {"a page that ends before its line repeat", header_of(4, 3, 8, 1, CUPS_CSPACE_SW), s + "\x03\x07"},
        {"banded pixels are one colour wide", banded, s + "\x01\x10\x80" + s + "\x00\x20\xfe\x01\x02\x03"},
        {"a planar page has its lines once per colour", planar,
         s + "\x80" + s + "\x01\x01\x80" + "\x02\x02\x80" + s + "\x03\x80" + "\x01\x04\x80"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool swapped : {false, true}) {
            const std::string stream = hand_made(c.header, c.runs, swapped);
            const Pages expected = with_libcups(stream);
            ASSERT_EQ(expected.headers.size(), 1u);
            EXPECT_TRUE(with_reader(stream) == expected);
            EXPECT_TRUE(with_reader(stream, 1) == expected);
        }
    }
}

TEST(RasterReader, SixteenBitSamplesOfTheOtherByteOrderComeSwappedAsLibcupsGivesThem)
{
    const cups_page_header2_t h = header_of(3, 2, 16, 1, CUPS_CSPACE_SW);
    const std::string runs = std::string("\x00\xfe\x12\x34\x56\x78\x9a\xbc\x00\x80", 10);
    const std::string stream = hand_made(h, runs, true);
    const Pages expected = with_libcups(stream);
    ASSERT_EQ(expected.lines.size(), 2u);
    EXPECT_NE(expected.lines[0].substr(0, 2), "\x12\x34");  // libcups did swap
    EXPECT_TRUE(with_reader(stream) == expected);
}

TEST(RasterReader, RandomRunBytesGiveLibcupsLinesAndStopWhereItStops)
{
    std::mt19937 random(20261209);
    const cups_page_header2_t shapes[] = {header_of(37, 23, 8, 1, CUPS_CSPACE_SW),
                                          header_of(11, 40, 8, 3, CUPS_CSPACE_SRGB),
                                          header_of(64, 9, 1, 1, CUPS_CSPACE_K),
                                          header_of(13, 17, 16, 1, CUPS_CSPACE_W)};
    for (int n = 0; n < 400; ++n) {
        const cups_page_header2_t &h = shapes[n % 4];
        std::string runs(std::uniform_int_distribution<size_t>(0, 3000)(random), '\0');
        for (char &c : runs)
            c = static_cast<char>(random());
        for (const bool swapped : {false, true}) {
            const std::string stream = hand_made(h, runs, swapped);
            const Pages expected = with_libcups(stream);
            const Pages got = with_reader(stream, 1 + n % 13);
            ASSERT_TRUE(got == expected) << "stream " << n << ": " << got.lines.size() << " lines, libcups "
                                         << expected.lines.size();
        }
    }
}

TEST(RasterReader, EveryCutOfAStreamEndsWhereLibcupsEndsAndSaysWhy)
{
    std::vector<RasterPage> pages;
    pages.emplace_back(gray_header(20, 10, 300), mixed_fill(6));
    pages.emplace_back(gray_header(20, 10, 300), mixed_fill(7));
    const std::string stream = make_raster(pages, CUPS_RASTER_WRITE_PWG);
    const size_t linesPerPage = pages[0].header.cupsHeight;
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        const std::string part = stream.substr(0, cut);
        RasterReader::Next end;
        const Pages got = with_reader(part, 1 << 20, &end);
        ASSERT_TRUE(got == with_libcups(part)) << "cut at " << cut;
        // Only the end of a page, or of the header of none, is the end of the document.
        if (end == RasterReader::Next::End) {
            ASSERT_EQ(got.lines.size() % linesPerPage, 0u) << cut;
        }
    }
    RasterReader::Next end;
    with_reader(stream.substr(0, stream.size() - 3), 1 << 20, &end);
    EXPECT_EQ(end, RasterReader::Next::Error);
    with_reader("", 1, &end);
    EXPECT_EQ(end, RasterReader::Next::Error);
}

TEST(RasterReader, HeadersLibcupsRefusesAreRefused)
{
    cups_page_header2_t noLines = header_of(10, 0, 8, 1, CUPS_CSPACE_SW);
    cups_page_header2_t partPixels = header_of(10, 2, 8, 3, CUPS_CSPACE_SRGB);
    partPixels.cupsBytesPerLine = 31;
    cups_page_header2_t tooManyBits = header_of(10, 2, 8, 1, CUPS_CSPACE_SW);
    tooManyBits.cupsBitsPerColor = 17;
    for (const cups_page_header2_t &h : {noLines, partPixels, tooManyBits}) {
        const std::string stream = hand_made(h, std::string(64, '\x80'));
        EXPECT_TRUE(with_libcups(stream).headers.empty());
        RasterReader::Next end;
        EXPECT_TRUE(with_reader(stream, 1 << 20, &end).headers.empty());
        EXPECT_EQ(end, RasterReader::Next::Error);
    }
    RasterReader::Next end;
    with_reader("not a raster document at all, but long enough to hold a header" + std::string(2000, ' '), 64, &end);
    EXPECT_EQ(end, RasterReader::Next::Error);
}

TEST(RasterReader, AHeaderWithoutAColourCountGetsLibcupsCountOrIsRefusedLikeIt)
{
    for (const unsigned bits : {8u, 4u}) {
        for (unsigned space = 0; space < 70; ++space) {
            SCOPED_TRACE(std::to_string(space) + " at " + std::to_string(bits) + " bits");
            cups_page_header2_t h = header_of(8, 1, bits, 1, CUPS_CSPACE_SW);
            std::memcpy(&h.cupsColorSpace, &space, sizeof space);
            h.cupsNumColors = 0;
            for (const bool swapped : {false, true}) {
                const std::string stream = hand_made(h, std::string("\x00\x80", 2), swapped);
                ASSERT_TRUE(with_reader(stream) == with_libcups(stream));
            }
        }
    }
}

TEST(RasterReader, PagesWithLongerLinesThanItsLimitAreRefusedBeforeAnyLineIsRead)
{
    cups_page_header2_t wide = header_of(70000, 1, 8, 1, CUPS_CSPACE_SW);
    const std::string stream = hand_made(wide, std::string("\x00\x80", 2));
    MemoryStream limited{stream, 1 << 20};
    RasterReader reader(MemoryStream::read, &limited);
    reader.limit_line_bytes(65536);
    cups_page_header2_t h;
    EXPECT_EQ(reader.next_page(&h), RasterReader::Next::Error);
    EXPECT_TRUE(reader.refused_header());
    EXPECT_NE(reader.error().find("70000 bytes"), std::string::npos) << reader.error();
    // Without a limit the page is libcups's.
    EXPECT_TRUE(with_reader(stream) == with_libcups(stream));
    EXPECT_EQ(with_libcups(stream).lines.size(), 1u);
}

TEST(RasterReader, ReadsADescriptorToItsEnd)
{
    std::vector<RasterPage> pages;
    pages.emplace_back(gray_header(40, 30, 300), mixed_fill(8));
    const std::string stream = make_raster(pages, CUPS_RASTER_WRITE_PWG);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    close(fds[1]);
    RasterReader reader(fds[0]);
    RasterReader::Next end;
    const Pages got = read_all(reader, &end);
    close(fds[0]);
    EXPECT_EQ(end, RasterReader::Next::End);
    EXPECT_TRUE(got == with_libcups(stream));
}

} // namespace
