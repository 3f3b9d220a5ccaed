// SPDX-License-Identifier: GPL-2.0-or-later
// The filter's raster reader under libcups: pages read back whole through
// compressed streams, from memory and from a pipe, as libcups reads them on its
// own; the end of the stream told apart from a cut, headers too large for
// libcups held back in either byte order and after any compressed page, and a
// wait for input that a cancellation ends.
#include "raster_input.h"

#include "cupsdll.h"
#include "raster_writer.h"
#include "raw_raster.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace varkon::test;

struct ReadBack {
    bool opened = false;
    std::vector<cups_page_header2_t> headers;
    std::vector<std::string> lines; // every line of every page, in order
    bool endedBetweenPages = false;
    std::optional<cups_page_header2_t> refused;
};

// Reads the stream the way the job loop does.
ReadBack read_back(varkon::RasterInput &input)
{
    ReadBack back;
    cups_raster_t *ras = input.open();
    back.opened = ras != nullptr;
    for (;;) {
        cups_page_header2_t header;
        input.header_read_starts();
        if (pfcupsRasterReadHeader2(ras, &header) == 0)
            break;
        back.headers.push_back(header);
        std::string line(header.cupsBytesPerLine, '\0');
        for (unsigned y = 0; y < header.cupsHeight; ++y) {
            if (pfcupsRasterReadPixels(ras, reinterpret_cast<unsigned char *>(line.data()), line.size()) == 0)
                break;
            back.lines.push_back(line);
        }
    }
    back.endedBetweenPages = input.ended_between_pages();
    if (const cups_page_header2_t *refused = input.refused_header())
        back.refused = *refused;
    pfcupsRasterClose(ras);
    return back;
}

ReadBack read_memory(const std::string &stream)
{
    std::atomic<int> canceled{0};
    varkon::RasterInput input(reinterpret_cast<const unsigned char *>(stream.data()), stream.size(), canceled,
                              varkon::PageLimits{});
    return read_back(input);
}

// The same, from the read end of a pipe that a thread fills in small pieces.
ReadBack read_pipe(const std::string &stream)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    std::thread writer([&stream, fd = fds[1]] {
        for (size_t at = 0; at < stream.size();) {
            const ssize_t n = write(fd, stream.data() + at, std::min<size_t>(stream.size() - at, 3000));
            if (n <= 0)
                break;
            at += static_cast<size_t>(n);
        }
        close(fd);
    });
    std::atomic<int> canceled{0};
    varkon::RasterInput input(fds[0], canceled, varkon::PageLimits{});
    ReadBack back = read_back(input);
    writer.join();
    close(fds[0]);
    return back;
}

// What libcups reads from the stream when its reads are answered in full.
std::vector<std::string> libcups_lines(const std::string &stream)
{
    struct Memory {
        const std::string &bytes;
        size_t at = 0;
    } memory{stream};
    cups_raster_t *ras = pfcupsRasterOpenIO(
        [](void *context, unsigned char *buffer, size_t length) -> ssize_t {
            auto *m = static_cast<Memory *>(context);
            const size_t n = std::min(length, m->bytes.size() - m->at);
            std::memcpy(buffer, m->bytes.data() + m->at, n);
            m->at += n;
            return static_cast<ssize_t>(n);
        },
        &memory, CUPS_RASTER_READ);
    std::vector<std::string> lines;
    cups_page_header2_t header;
    while (pfcupsRasterReadHeader2(ras, &header) != 0) {
        std::string line(header.cupsBytesPerLine, '\0');
        for (unsigned y = 0; y < header.cupsHeight; ++y)
            if (pfcupsRasterReadPixels(ras, reinterpret_cast<unsigned char *>(line.data()), line.size()) != 0)
                lines.push_back(line);
    }
    pfcupsRasterClose(ras);
    return lines;
}

void append_header(std::string &stream, const cups_page_header2_t &header)
{
    stream.append(reinterpret_cast<const char *>(&header), sizeof header);
}

// Compressed lines written byte by byte with every kind of run libcups knows,
// runs cut off by the end of the line, and line repeats reaching past the page.
std::string random_compressed_page(const cups_page_header2_t &header, std::mt19937 &random)
{
    const unsigned pixelBytes = (header.cupsBitsPerPixel + 7) / 8;
    std::string bytes;
    auto byte = [&random](unsigned from, unsigned to) {
        return static_cast<char>(std::uniform_int_distribution<unsigned>(from, to)(random));
    };
    for (unsigned y = 0; y < header.cupsHeight;) {
        const unsigned repeat = random() % 4 == 0 ? static_cast<unsigned char>(byte(0, 255)) : 0;
        bytes += static_cast<char>(repeat);
        y += repeat + 1;
        for (unsigned left = header.cupsBytesPerLine; left > 0;) {
            switch (random() % 8) {
            case 0:
                bytes += '\x80'; // the rest of the line cleared
                left = 0;
                break;
            case 1:
            case 2:
            case 3: { // literal pixels
                const unsigned count = static_cast<unsigned char>(byte(129, 255));
                const unsigned n = std::min((257 - count) * pixelBytes, left);
                bytes += static_cast<char>(count);
                for (unsigned i = 0; i < n; ++i)
                    bytes += byte(0, 255);
                left -= n;
                break;
            }
            default: { // one pixel repeated
                const unsigned count = static_cast<unsigned char>(byte(0, 127));
                bytes += static_cast<char>(count);
                for (unsigned i = 0; i < pixelBytes; ++i)
                    bytes += byte(0, 255);
                left -= std::min((count + 1) * pixelBytes, left);
                break;
            }
            }
        }
    }
    return bytes;
}

std::vector<RasterPage> three_pages()
{
    std::vector<RasterPage> pages;
    for (unsigned n = 0; n < 3; ++n)
        pages.emplace_back(gray_header(72, 72 + 36 * n, 300), [n](unsigned y, unsigned char *line, unsigned bytes) {
            for (unsigned x = 0; x < bytes; ++x)
                if ((x + y + n) % 5 == 0 || (y / 7 + n) % 3 == 0)
                    line[x] = static_cast<unsigned char>(x * 7 + y * 3 + n);
        });
    return pages;
}

std::vector<std::string> lines_of(const std::vector<RasterPage> &pages)
{
    std::vector<std::string> lines;
    for (const RasterPage &page : pages)
        for (unsigned y = 0; y < page.header.cupsHeight; ++y) {
            std::string line(page.header.cupsBytesPerLine, '\xff');
            page.fill(y, reinterpret_cast<unsigned char *>(line.data()), page.header.cupsBytesPerLine);
            lines.push_back(line);
        }
    return lines;
}

TEST(RasterInput, CompressedAndPlainStreamsReadBackWholeAndEndBetweenPages)
{
    const std::vector<RasterPage> pages = three_pages();
    for (RawFormat format : {RawFormat::Compressed, RawFormat::Uncompressed}) {
        SCOPED_TRACE(format == RawFormat::Compressed ? "compressed" : "uncompressed");
        const ReadBack back = read_memory(raw_raster(pages, format));
        EXPECT_TRUE(back.opened);
        ASSERT_EQ(back.headers.size(), 3u);
        EXPECT_TRUE(back.lines == lines_of(pages));
        EXPECT_TRUE(back.endedBetweenPages);
        EXPECT_FALSE(back.refused);
    }
    // The libcups writer's own compressed stream too.
    const ReadBack written = read_memory(make_raster(pages));
    EXPECT_TRUE(written.lines == lines_of(pages));
    EXPECT_TRUE(written.endedBetweenPages);
}

TEST(RasterInput, AStreamCutInsideAHeaderOrFollowedByOtherBytesDidNotEndBetweenPages)
{
    const std::vector<RasterPage> pages = three_pages();
    for (RawFormat format : {RawFormat::Compressed, RawFormat::Uncompressed}) {
        const std::string stream = raw_raster(pages, format);
        const size_t third = raw_header_offset(pages, 2, format);
        const ReadBack cut = read_memory(stream.substr(0, third + 100));
        EXPECT_EQ(cut.headers.size(), 2u);
        EXPECT_FALSE(cut.endedBetweenPages);
        const ReadBack extended = read_memory(stream + "garbage that is no page header");
        EXPECT_EQ(extended.headers.size(), 3u);
        EXPECT_FALSE(extended.endedBetweenPages);
    }
}

TEST(RasterInput, HeadersWithLinesBeyondTheCapAreHeldBackFromLibcups)
{
    cups_page_header2_t huge = gray_header(595, 842);
    huge.cupsBytesPerLine = 0x40000000;
    huge.cupsHeight = 4;
    std::vector<RasterPage> pages = three_pages();
    pages.insert(pages.begin() + 1, RasterPage(huge, {}, 0));
    for (RawFormat format : {RawFormat::Compressed, RawFormat::Uncompressed}) {
        const ReadBack back = read_memory(raw_raster(pages, format));
        EXPECT_EQ(back.headers.size(), 1u) << "libcups never saw the second header";
        ASSERT_TRUE(back.refused);
        EXPECT_EQ(back.refused->cupsBytesPerLine, 0x40000000u);
        EXPECT_EQ(back.refused->cupsHeight, 4u);
    }
    // A header within the cap but one libcups refuses itself is left to libcups.
    huge.cupsBytesPerLine = 0x80000000u;
    EXPECT_FALSE(read_memory(raw_raster({RasterPage(huge, {}, 0)})).refused);
}

TEST(RasterInput, AfterAnyCompressedPageTheNextHeaderIsStillCheckedAndLinesAreThoseLibcupsReads)
{
    // libcups buffers what the reader gives it beyond its request; were the
    // next header in that buffer, it would size its lines from it unchecked.
    std::mt19937 random(12);
    cups_page_header2_t small = gray_header(72, 72, 300);
    cups_page_header2_t huge = small;
    huge.cupsBytesPerLine = 0x40000000;
    for (int round = 0; round < 40; ++round) {
        cups_page_header2_t page = gray_header(72, 72, 300);
        page.cupsBitsPerPixel = page.cupsBitsPerColor = (round % 3 == 0) ? 16 : (round % 3 == 1 ? 8 : 1);
        page.cupsWidth = 1 + random() % 3000;
        page.cupsBytesPerLine = (page.cupsWidth * page.cupsBitsPerPixel + 7) / 8;
        page.cupsBytesPerLine += page.cupsBytesPerLine % ((page.cupsBitsPerPixel + 7) / 8);
        page.cupsHeight = 1 + random() % 600;
        SCOPED_TRACE("round " + std::to_string(round));
        const uint32_t sync = CUPS_RASTER_SYNCv2;
        std::string stream(reinterpret_cast<const char *>(&sync), sizeof sync);
        append_header(stream, page);
        stream += random_compressed_page(page, random);
        std::string followed = stream;
        append_header(followed, small);
        followed += random_compressed_page(small, random);
        append_header(stream, huge);

        const std::vector<std::string> expected = libcups_lines(followed);
        for (const bool fromPipe : {false, true}) {
            SCOPED_TRACE(fromPipe ? "from a pipe" : "from memory");
            const ReadBack whole = fromPipe ? read_pipe(followed) : read_memory(followed);
            EXPECT_EQ(whole.headers.size(), 2u);
            EXPECT_TRUE(whole.lines == expected);
            EXPECT_TRUE(whole.endedBetweenPages);
            const ReadBack refused = fromPipe ? read_pipe(stream) : read_memory(stream);
            EXPECT_EQ(refused.headers.size(), 1u);
            ASSERT_TRUE(refused.refused);
            EXPECT_EQ(refused.refused->cupsBytesPerLine, 0x40000000u);
        }
    }
}

TEST(RasterInput, RawHeadersDecodeAlikeInBothByteOrders)
{
    cups_page_header2_t header = gray_header(595, 842);
    header.NumCopies = 3;
    header.cupsBytesPerLine = 0x12345678;
    unsigned char raw[varkon::kCupsRasterHeaderBytes];
    std::memcpy(raw, &header, sizeof raw);
    const uint32_t native = CUPS_RASTER_SYNC, swapped = CUPS_RASTER_REVSYNC;
    unsigned char sync[4];
    std::memcpy(sync, &native, 4);
    cups_page_header2_t decoded{};
    ASSERT_TRUE(varkon::decode_raw_header(sync, raw, &decoded));
    EXPECT_EQ(std::memcmp(&decoded, &header, sizeof header), 0);

    for (size_t at = offsetof(cups_page_header2_t, AdvanceDistance); at < offsetof(cups_page_header2_t, cupsString);
         at += 4)
        std::reverse(raw + at, raw + at + 4);
    std::memcpy(sync, &swapped, 4);
    ASSERT_TRUE(varkon::decode_raw_header(sync, raw, &decoded));
    EXPECT_EQ(decoded.cupsBytesPerLine, 0x12345678u);
    EXPECT_EQ(decoded.NumCopies, 3u);
    EXPECT_EQ(decoded.PageSize[1], 842u);
    EXPECT_STREQ(decoded.MediaType, header.MediaType);

    std::memcpy(sync, "UNIR", 4);
    EXPECT_FALSE(varkon::decode_raw_header(sync, raw, &decoded));
}

TEST(RasterInput, ACancellationEndsTheWaitForInputThatNeverComes)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::atomic<int> canceled{0};
    varkon::RasterInput input(pipeFds[0], canceled, varkon::PageLimits{});
    std::thread canceller([&canceled] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        canceled = 1;
    });
    const auto start = std::chrono::steady_clock::now();
    const ReadBack back = read_back(input);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    canceller.join();
    EXPECT_FALSE(back.opened);
    EXPECT_TRUE(back.endedBetweenPages) << "a cancelled job ends as its pages end";
    EXPECT_LT(seconds, 2.0);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

} // namespace
