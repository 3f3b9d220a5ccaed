// SPDX-License-Identifier: GPL-2.0-or-later
// The filter's raster reader under libcups: pages read back whole through
// compressed streams answered a byte at a time, the end of the stream told
// apart from a cut, headers too large for libcups held back in either byte
// order, and a wait for input that a cancellation ends.
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
