// SPDX-License-Identifier: GPL-2.0-or-later
// Page checks: Z bands joined by their first line and checked against the JBIG
// header in their data, the C raster header and image checksum, M packages of
// 64 KiB, M pages of 2 bits per pixel, and the frames of a page against each other.
#include "stream_builder.h"
#include "varkon_decode.h"
#include "wire_read.h"

#include <gtest/gtest.h>

namespace {

using namespace varkon::test;
using varkon::decode::DecodedStream;

std::string reason_of(const DecodedStream &stream)
{
    return stream.violation ? stream.violation->reason : std::string("(valid)");
}

// --- Platform Z bands -------------------------------------------------------

TEST(DecodeZBands, SixHundredLinesComeAsThreeBandsJoinedInOrder)
{
    TestImage image = make_image(200, 600, 1, 5);
    DecodedStream stream = decode_bytes(JobBuilder::one_page(Platform::Z, image));
    ASSERT_TRUE(stream.valid()) << reason_of(stream);
    std::vector<long long> heights, lines;
    for (const auto &item : stream.items)
        if (item.name == "JBIG band") {
            heights.push_back(item.number("height"));
            lines.push_back(item.number("y"));
        }
    EXPECT_EQ(heights, (std::vector<long long>{256, 256, 88}));
    EXPECT_EQ(lines, (std::vector<long long>{0, 256, 512}));
    ASSERT_EQ(stream.pages.size(), 1u);
    EXPECT_EQ(stream.pages[0].bands, 3);
    EXPECT_EQ(stream.pages[0].pixels, image.rows);
}

TEST(DecodeZBands, ExactlyTwoBandsForFiveHundredTwelveLines)
{
    DecodedStream stream = decode_bytes(JobBuilder::one_page(Platform::Z, make_image(64, 512)));
    ASSERT_TRUE(stream.valid()) << reason_of(stream);
    EXPECT_EQ(stream.pages[0].bands, 2);
}

// Band frames of a 600-line page, with their offsets, for the corruption cases below.
struct ZPage {
    Bytes bytes;
    std::vector<size_t> bands;
};

ZPage z_page()
{
    ZPage page{JobBuilder::one_page(Platform::Z, make_image(64, 600, 1, 2)), {}};
    DecodedStream stream = decode_bytes(page.bytes);
    for (const auto &item : stream.items)
        if (item.name == "JBIG band")
            page.bands.push_back(item.offset);
    return page;
}

TEST(DecodeZBands, FrameFieldsMustMatchTheJbigHeader)
{
    struct Case {
        const char *what;
        size_t frame_offset;  // byte within the band frame
        uint32_t value;
        const char *reason_part;
    };
    const Case cases[] = {
        {"options", 22, 0x5C, "options"},
        {"order", 21, 0, "order"},
        {"mx", 19, 8, "mx"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ZPage page = z_page();
        size_t at = page.bands[1];
        page.bytes[at + c.frame_offset] = static_cast<unsigned char>(c.value);
        fix_checksum(page.bytes, at);
        DecodedStream stream = decode_bytes(page.bytes);
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->offset, at);
        EXPECT_NE(stream.violation->reason.find(c.reason_part), std::string::npos) << reason_of(stream);
    }
}

TEST(DecodeZBands, BandHeightMismatchWithTheJbigHeader)
{
    // The last band says 90 lines in both height fields, its JBIG image holds 88.
    ZPage page = z_page();
    size_t at = page.bands[2];
    page.bytes[at + 11] = 90;
    page.bytes[at + 15] = 90;
    fix_checksum(page.bytes, at);
    DecodedStream stream = decode_bytes(page.bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
    EXPECT_NE(stream.violation->reason.find("height"), std::string::npos) << reason_of(stream);

    // A band frame whose two height fields disagree.
    page = z_page();
    at = page.bands[0];
    page.bytes[at + 16] = 0;  // height field 256 -> 0, stripe field stays 256
    fix_checksum(page.bytes, at);
    stream = decode_bytes(page.bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
}

TEST(DecodeZBands, CompDataSizeMustBeTheDataPresent)
{
    for (int delta : {-1, +1}) {
        SCOPED_TRACE(delta);
        ZPage page = z_page();
        size_t at = page.bands[1];
        uint32_t size = varkon::decode::get_le32(page.bytes.data() + at + 23) + delta;
        for (int field : {23, 27})
            for (int i = 0; i < 4; ++i)
                page.bytes[at + field + i] = size >> (8 * i) & 0xFF;
        fix_checksum(page.bytes, at);
        DecodedStream stream = decode_bytes(page.bytes);
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->offset, at) << reason_of(stream);
        EXPECT_NE(stream.violation->reason.find("JBIG image"), std::string::npos) << reason_of(stream);
    }
}

TEST(DecodeZBands, PaddedSizeAndPositionsAreChecked)
{
    ZPage page = z_page();
    size_t at = page.bands[1];
    page.bytes[at + 27] ^= 1;
    fix_checksum(page.bytes, at);
    EXPECT_EQ(decode_bytes(page.bytes).violation->offset, at);

    page = z_page();
    at = page.bands[1];
    page.bytes[at + 36] = 0;  // posVert 256 -> 0
    fix_checksum(page.bytes, at);
    DecodedStream stream = decode_bytes(page.bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
    EXPECT_NE(stream.violation->reason.find("line"), std::string::npos) << reason_of(stream);
}

TEST(DecodeZBands, MissingBandIsCaughtAtThePageEnd)
{
    ZPage page = z_page();
    size_t band = page.bands[2];
    size_t next = band + 48 + varkon::decode::get_le32(page.bytes.data() + band + 23);
    page.bytes.erase(page.bytes.begin() + band, page.bytes.begin() + next);
    DecodedStream stream = decode_bytes(page.bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_NE(stream.violation->reason.find("512 of its 600 lines"), std::string::npos) << reason_of(stream);
}

TEST(DecodeZBands, RasterHeaderOnZAnnouncesNoCompressedBytes)
{
    Bytes bytes = JobBuilder::one_page(Platform::Z, make_image(64, 8));
    size_t at = item_offset(decode_bytes(bytes), "raster image header");
    bytes[at + 13] = 5;
    fix_checksum(bytes, at);
    DecodedStream stream = decode_bytes(bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
}

// --- Platform C page --------------------------------------------------------

TEST(DecodeCPage, ImageChecksumCoversDataUelAndZeros)
{
    Bytes bytes = JobBuilder::one_page(Platform::C, make_image(96, 50));
    DecodedStream stream = decode_bytes(bytes);
    ASSERT_TRUE(stream.valid());
    size_t at = item_offset(stream, "image data checksum");
    unsigned sent = bytes[at + 3];
    bytes[at + 3] = static_cast<unsigned char>(sent + 1);
    fix_checksum(bytes, at);
    stream = decode_bytes(bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
    char expected[16];
    std::snprintf(expected, sizeof expected, "expected 0x%02x", sent);
    EXPECT_NE(stream.violation->reason.find(expected), std::string::npos) << reason_of(stream);
}

TEST(DecodeCPage, RasterHeaderAgainstTheJbigHeader)
{
    struct Case {
        const char *what;
        size_t offset;
        unsigned char value;
    };
    const Case cases[] = {{"width", 5, 95}, {"height", 7, 49}, {"raster height", 12, 2}, {"raster width", 9, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = JobBuilder::one_page(Platform::C, make_image(96, 50));
        size_t at = item_offset(decode_bytes(bytes), "raster image header");
        bytes[at + c.offset] = c.value;
        fix_checksum(bytes, at);
        DecodedStream stream = decode_bytes(bytes);
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->offset, at) << reason_of(stream);
    }
}

TEST(DecodeCPage, CompressedImageBytesMustBeTheImage)
{
    Bytes bytes = JobBuilder::one_page(Platform::C, make_image(96, 50));
    size_t at = item_offset(decode_bytes(bytes), "raster image header");
    bytes[at + 13] += 9;  // takes in UEL_CMD_C as if it were image data
    fix_checksum(bytes, at);
    DecodedStream stream = decode_bytes(bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
    EXPECT_NE(stream.violation->reason.find("ends after"), std::string::npos) << reason_of(stream);
}

TEST(DecodeCPage, CustomPaperSizesOnlyForTheCustomPaper)
{
    JobBuilder job(Platform::C);
    job.job_start();
    job.page(make_image(64, 8), {1, 255, 1});
    job.job_end();
    Bytes bytes = job.out;
    size_t at = item_offset(decode_bytes(bytes), "custom paper");
    bytes[at + 3] = 0x60;
    fix_checksum(bytes, at);
    DecodedStream stream = decode_bytes(bytes);
    ASSERT_TRUE(stream.valid()) << reason_of(stream);
    EXPECT_EQ(stream.pages[0].physical_width, 0x60);

    Bytes a4 = JobBuilder::one_page(Platform::C, make_image(64, 8));
    at = item_offset(decode_bytes(a4), "custom paper");
    a4[at + 3] = 0x60;
    fix_checksum(a4, at);
    stream = decode_bytes(a4);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
}

// --- Platform M packages and 2-bit pages ------------------------------------

TEST(DecodeMPackages, PageDataSpanningSeveralPackages)
{
    TestImage image = make_image(1024, 640, 1, 9, true);  // noise: about 80 KiB compressed
    Bytes bytes = JobBuilder::one_page(Platform::M, image);
    DecodedStream stream = decode_bytes(bytes);
    ASSERT_TRUE(stream.valid()) << reason_of(stream);
    std::vector<long long> payloads;
    for (const auto &item : stream.items)
        if (item.name == "JBIG_DATA_CMD")
            payloads.push_back(item.number("payload"));
    ASSERT_GE(payloads.size(), 2u);
    EXPECT_EQ(payloads[0], 65536);
    EXPECT_EQ(stream.pages[0].compressed_bytes, size_t(65536 * (payloads.size() - 1) + payloads.back()));
    EXPECT_EQ(stream.pages[0].pixels, image.rows);
}

TEST(DecodeMPackages, OnlyTheLastPackageMayBeShort)
{
    TestImage image = make_image(1024, 640, 1, 9, true);
    Bytes bytes = JobBuilder::one_page(Platform::M, image);
    DecodedStream stream = decode_bytes(bytes);
    size_t first = item_offset(stream, "JBIG_DATA_CMD", 0);
    size_t second = item_offset(stream, "JBIG_DATA_CMD", 1);
    // Move one byte of the first package into the second one.
    Bytes split = bytes;
    split[first + 3] = 0x0F;                       // 65552 -> 65551
    uint32_t length = varkon::decode::get_be32(split.data() + second) + 1;
    for (int i = 0; i < 4; ++i)
        split[second + i] = length >> (24 - 8 * i) & 0xFF;
    std::rotate(split.begin() + second - 1, split.begin() + second, split.begin() + second + 16);
    stream = decode_bytes(split);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, second - 1);
    EXPECT_NE(stream.violation->reason.find("only the last package"), std::string::npos) << reason_of(stream);
}

TEST(DecodeMPackages, PackageLongerThan64KiBIsRefused)
{
    Bytes bytes = JobBuilder::one_page(Platform::M, make_image(64, 8));
    size_t at = item_offset(decode_bytes(bytes), "JBIG_DATA_CMD");
    bytes[at + 1] = 0x01;  // length 0x0001xxxx + 16 > 65552
    bytes[at + 3] = 0x11;
    DecodedStream stream = decode_bytes(bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
}

TEST(DecodeMPages, TwoBitPagesComeBackAsLevels)
{
    TestImage image = make_image(300, 70, 2, 4);
    DecodedStream stream = decode_bytes(JobBuilder::one_page(Platform::M, image));
    ASSERT_TRUE(stream.valid()) << reason_of(stream);
    const auto &page = stream.pages[0];
    EXPECT_EQ(page.width, 300u);
    EXPECT_EQ(page.bits_per_pixel, 2);
    EXPECT_EQ(page.stride, 75u);  // 2 bits per pixel, 4 pixels per byte
    EXPECT_EQ(page.pixels, image.rows);
    // Pixel (0, 0) lies on the frame of the pattern: level 3.
    EXPECT_EQ(page.level(0, 0), 3u);
    unsigned levels[4] = {};
    for (uint32_t y = 0; y < page.height; ++y)
        for (uint32_t x = 0; x < page.width; ++x)
            ++levels[page.level(x, y)];
    EXPECT_GT(levels[0], 0u);
    EXPECT_GT(levels[3], 0u);
}

TEST(DecodeMPages, JbigParamFrameAgainstTheJbigHeader)
{
    Bytes bytes = JobBuilder::one_page(Platform::M, make_image(64, 300));
    DecodedStream stream = decode_bytes(bytes);
    size_t param = item_offset(stream, "JBIG_PARAM_CMD");
    size_t end = item_offset(stream, "JBIG_END_CMD");
    bytes[param + 16 + 19] = 0x58;  // options without DPON
    stream = decode_bytes(bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, end);
    EXPECT_NE(stream.violation->reason.find("options"), std::string::npos) << reason_of(stream);
}

TEST(DecodeMPages, StartPageParametersHoldTogether)
{
    Bytes bytes = JobBuilder::one_page(Platform::M, make_image(64, 8));
    size_t at = item_offset(decode_bytes(bytes), "START_PAGE_CMD");
    // IMG_WIDTH_PARAM (entry 9) no longer twice nor once the video width.
    bytes[at + 16 + 8 * 12 + 11] = 65;
    DecodedStream stream = decode_bytes(bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
    EXPECT_NE(stream.violation->reason.find("IMG_WIDTH_PARAM"), std::string::npos) << reason_of(stream);
}

} // namespace
