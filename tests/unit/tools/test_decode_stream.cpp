// SPDX-License-Identifier: GPL-2.0-or-later
// Whole streams: platform detection, one-page jobs of each platform decoded back
// to the pixels that went in, keep-alive zero pairs, the listing and the summary.
#include "stream_builder.h"
#include "varkon_decode.h"

#include <gtest/gtest.h>

namespace {

using namespace varkon::test;
using varkon::decode::DecodedStream;
using varkon::decode::Page;

void expect_pixels(const Page &page, const TestImage &image)
{
    EXPECT_EQ(page.width, image.width);
    EXPECT_EQ(page.height, image.height);
    EXPECT_EQ(page.bits_per_pixel, image.bits);
    EXPECT_EQ(page.pixels, image.rows) << "decoded pixels differ from the page that was encoded";
}

TEST(DecodeDetect, TellsEachPlatformFromItsFirstBytes)
{
    TestImage image = make_image(64, 16);
    for (Platform platform : {Platform::C, Platform::Z, Platform::M}) {
        Bytes stream = JobBuilder::one_page(platform, image);
        EXPECT_EQ(varkon::decode::detect_platform(stream.data(), stream.size()), platform)
            << varkon::decode::platform_name(platform);
    }
    Bytes tamrel = {};
    append(tamrel, kUel);
    append(tamrel, std::string("@PJL\r\n@PJL LANGUAGEVERSION=1.0\r\n"));
    EXPECT_EQ(varkon::decode::detect_platform(tamrel.data(), tamrel.size()), Platform::Z);
}

TEST(DecodeDetect, UnknownStartsNeedTheOption)
{
    Bytes pdf = {'%', 'P', 'D', 'F', '-', '1', '.', '4'};
    EXPECT_EQ(varkon::decode::detect_platform(pdf.data(), pdf.size()), Platform::Unknown);
    Bytes cut(kUel.begin(), kUel.begin() + 5);
    EXPECT_EQ(varkon::decode::detect_platform(cut.data(), cut.size()), Platform::Unknown);
    EXPECT_EQ(varkon::decode::detect_platform(nullptr, 0), Platform::Unknown);

    DecodedStream stream = decode_bytes(pdf);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, 0u);
}

TEST(DecodeStream, OnePageJobOfEachPlatform)
{
    TestImage image = make_image(96, 40, 1, 3);
    for (Platform platform : {Platform::C, Platform::Z, Platform::M}) {
        SCOPED_TRACE(varkon::decode::platform_name(platform));
        DecodedStream stream = decode_bytes(JobBuilder::one_page(platform, image));
        ASSERT_TRUE(stream.valid()) << varkon::decode::format_violation(*stream.violation);
        EXPECT_EQ(stream.platform, platform);
        EXPECT_TRUE(stream.job_started);
        EXPECT_TRUE(stream.job_ended);
        ASSERT_EQ(stream.pages.size(), 1u);
        expect_pixels(stream.pages[0], image);
        EXPECT_EQ(stream.pages[0].number, 1);
        EXPECT_GT(stream.pages[0].compressed_bytes, 20u);
    }
}

TEST(DecodeStream, JobAndPageValuesFromTheFrames)
{
    TestImage image = make_image(64, 8);
    DecodedStream c = decode_bytes(JobBuilder::one_page(Platform::C, image));
    ASSERT_TRUE(c.valid());
    EXPECT_EQ(c.job_id, 44);
    EXPECT_EQ(c.job_options, 0x30);
    EXPECT_EQ(c.density, 3);
    EXPECT_EQ(c.system_date, "2026-12-07");
    EXPECT_EQ(c.pages[0].paper_code, 9);
    EXPECT_EQ(c.pages[0].resolution_x, 60);
    EXPECT_EQ(c.pages[0].coverage, 1000);
    EXPECT_GE(c.pages[0].image_checksum, 0);

    DecodedStream z = decode_bytes(JobBuilder::one_page(Platform::Z, image));
    ASSERT_TRUE(z.valid());
    EXPECT_EQ(z.job_id, 300);
    EXPECT_EQ(z.fine_mode, 1);
    EXPECT_EQ(z.job_time, "05:14:07:12:2026");
    EXPECT_EQ(z.job_owner, "testhost");
    EXPECT_EQ(z.pages[0].coverage, 4095);

    DecodedStream m = decode_bytes(JobBuilder::one_page(Platform::M, image));
    ASSERT_TRUE(m.valid());
    EXPECT_EQ(m.job_id, -1);
    EXPECT_EQ(m.pages[0].resolution_x, 600);
    EXPECT_EQ(m.pages[0].density, 3);
    EXPECT_EQ(m.pages[0].coverage, -1);
}

TEST(DecodeStream, BlankPagesDecode)
{
    TestImage blank{128, 300, 1, Bytes(16 * 300, 0)};
    for (Platform platform : {Platform::C, Platform::Z, Platform::M}) {
        DecodedStream stream = decode_bytes(JobBuilder::one_page(platform, blank));
        ASSERT_TRUE(stream.valid()) << varkon::decode::format_violation(*stream.violation);
        expect_pixels(stream.pages[0], blank);
        EXPECT_EQ(stream.pages[0].ink, 0u);
    }
}

// The keep-alive timer may add 00 00 between any two items of C and Z, never inside one.
TEST(DecodeStream, KeepAlivePairsBetweenItemsAreAccepted)
{
    TestImage image = make_image(64, 300);
    for (Platform platform : {Platform::C, Platform::Z}) {
        SCOPED_TRACE(varkon::decode::platform_name(platform));
        Bytes plain = JobBuilder::one_page(platform, image);
        DecodedStream reference = decode_bytes(plain);
        ASSERT_TRUE(reference.valid());
        Bytes padded;
        size_t from = 0;
        for (const auto &item : reference.items) {
            padded.insert(padded.end(), plain.begin() + from, plain.begin() + item.offset);
            append(padded, Bytes{0, 0, 0, 0});
            from = item.offset;
        }
        padded.insert(padded.end(), plain.begin() + from, plain.end());
        append(padded, kZeros);  // after the job end, too
        DecodedStream stream = decode_bytes(padded);
        ASSERT_TRUE(stream.valid()) << varkon::decode::format_violation(*stream.violation);
        expect_pixels(stream.pages[0], image);
    }
}

TEST(DecodeStream, PlatformMHasNoKeepAlive)
{
    Bytes stream = JobBuilder::one_page(Platform::M, make_image(64, 8));
    size_t page_end = stream.size() - 16 - 9 - 16;
    stream.insert(stream.begin() + page_end, {0, 0});
    DecodedStream decoded = decode_bytes(stream);
    ASSERT_FALSE(decoded.valid());
    EXPECT_EQ(decoded.violation->offset, page_end);
}

TEST(DecodeStream, OddZeroByteIsAViolation)
{
    JobBuilder job(Platform::Z);
    job.job_start();
    size_t at = job.out.size();
    job.out.push_back(0);
    job.page(make_image(64, 8));
    job.job_end();
    DecodedStream stream = decode_bytes(job.out);
    ASSERT_FALSE(stream.valid());
    // The page's own 00 00 follows the stray byte, so the pairs run one byte on.
    EXPECT_EQ(stream.violation->offset, at + 2);
    EXPECT_NE(stream.violation->reason.find("00"), std::string::npos);
}

TEST(DecodeStream, NamedPlatformOverridesDetection)
{
    Bytes stream = JobBuilder::one_page(Platform::Z, make_image(64, 8));
    DecodedStream as_m = decode_bytes(stream, Platform::M);
    EXPECT_EQ(as_m.platform, Platform::M);
    EXPECT_FALSE(as_m.valid());
}

TEST(DecodeStream, PixelsCanBeLeftOutAndSeenThroughTheCallback)
{
    TestImage image = make_image(64, 20);
    Bytes bytes = JobBuilder::one_page(Platform::C, image);
    varkon::decode::DecodeOptions options;
    options.keep_pixels = false;
    int calls = 0;
    options.on_page = [&](const Page &page) {
        ++calls;
        EXPECT_EQ(page.pixels, image.rows);
    };
    DecodedStream stream = varkon::decode::decode_stream(bytes.data(), bytes.size(), options);
    ASSERT_TRUE(stream.valid());
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(stream.pages[0].pixels.empty());
    EXPECT_EQ(stream.pages[0].width, 64u);
}

TEST(DecodeListing, ItemsSummaryAndViolation)
{
    DecodedStream stream = decode_bytes(JobBuilder::one_page(Platform::Z, make_image(64, 8)));
    ASSERT_TRUE(stream.valid());
    size_t spec = item_offset(stream, "page specification");
    ASSERT_NE(spec, SIZE_MAX);
    const varkon::decode::Item *item = nullptr;
    for (const auto &candidate : stream.items)
        if (candidate.offset == spec)
            item = &candidate;
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(varkon::decode::format_item(*item),
              "page specification code=0x12 paper=9 media=0 resolution_x=60 resolution_y=60 tray=1 feed=0x00 "
              "copies=1 margin_x=0 margin_y=0 page=1 (18 bytes)");
    EXPECT_EQ(varkon::decode::format_summary(stream), "platform Z, job 300, 1 page: 1 64x8 1-bit; valid");
    EXPECT_EQ(varkon::decode::format_violation({1234, "short frame 0x12 checksum 0x5a, expected 0x3c"}),
              "offset 1234: short frame 0x12 checksum 0x5a, expected 0x3c");
}

} // namespace

namespace {

// Arbitrary damage to valid streams: every outcome is a result, never a read
// outside the buffer (the sanitizer build watches this) nor an item past its end.
TEST(DecodeRobustness, DamagedStreamsStayWithinTheirBytes)
{
    uint32_t state = 20261208;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (Platform platform : {Platform::C, Platform::Z, Platform::M}) {
        SCOPED_TRACE(varkon::decode::platform_name(platform));
        JobBuilder job(platform);
        job.job_start();
        job.page(make_image(64, 300, 1, 1), {1});
        job.page(make_image(32, 9, 1, 2), {2});
        job.job_end();
        for (int round = 0; round < 400; ++round) {
            Bytes bytes = job.out;
            int damage = 1 + next() % 4;
            for (int i = 0; i < damage && !bytes.empty(); ++i) {
                size_t at = next() % bytes.size();
                switch (next() % 4) {
                case 0: bytes[at] = static_cast<unsigned char>(next() >> 24); break;
                case 1: bytes.resize(at); break;
                case 2: bytes.insert(bytes.begin() + at, static_cast<unsigned char>(next() >> 24)); break;
                default: bytes[at] ^= 0x80; break;
                }
            }
            varkon::decode::DecodeOptions options;
            options.platform = platform;
            options.max_image_bytes = 1 << 16;
            DecodedStream stream = varkon::decode::decode_stream(bytes.data(), bytes.size(), options);
            for (const auto &item : stream.items) {
                ASSERT_LE(item.offset + item.length, bytes.size());
            }
            if (stream.violation) {
                ASSERT_LE(stream.violation->offset, bytes.size());
            }
            for (const Page &page : stream.pages) {
                ASSERT_EQ(page.pixels.size(), page.stride * page.height);
            }
        }
    }
}

} // namespace
