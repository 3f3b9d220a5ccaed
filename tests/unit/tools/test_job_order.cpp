// SPDX-License-Identifier: GPL-2.0-or-later
// Order of a job: job start before pages, page start, image data and page end,
// job end last; the manual-duplex command between the two passes; collated
// replays that repeat whole pages.
#include "stream_builder.h"
#include "varkon_decode.h"

#include <gtest/gtest.h>

namespace {

using namespace varkon::test;
using varkon::decode::DecodedStream;

std::string reason_of(const DecodedStream &stream)
{
    return stream.violation ? stream.violation->reason : std::string("(valid)");
}

const TestImage &small_image()
{
    static const TestImage image = make_image(64, 12);
    return image;
}

Bytes job_with_pages(Platform platform, const std::vector<int> &numbers, int manual_duplex_after = -1)
{
    JobBuilder job(platform);
    job.job_start();
    for (size_t i = 0; i < numbers.size(); ++i) {
        job.page(make_image(64, 12, 1, numbers[i]), {numbers[i]});
        if (int(i) == manual_duplex_after)
            job.manual_duplex();
    }
    job.job_end();
    return job.out;
}

TEST(DecodeJobOrder, PageEndWithoutPageStart)
{
    for (Platform platform : {Platform::C, Platform::Z, Platform::M}) {
        SCOPED_TRACE(varkon::decode::platform_name(platform));
        JobBuilder job(platform);
        job.job_start();
        size_t at = job.out.size();
        if (platform == Platform::M)
            append(job.out, long_header(16, 0x03));
        else
            append(job.out, short_frame(0x18));
        job.job_end();
        DecodedStream stream = decode_bytes(job.out);
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->offset, at);
        EXPECT_EQ(stream.violation->reason, "page end without page start");
    }
}

TEST(DecodeJobOrder, PageStartBeforeJobStart)
{
    JobBuilder job(Platform::Z);
    append(job.out, kUel);
    append(job.out, std::string("@PJL\r\n@PJL JOBTIME=05:14:07:12:2026\r\n@PJL JOBOWNER=h\r\n@PJL ENTER LANGUAGE=PL\r\n"));
    size_t at = job.out.size();
    job.page(small_image());
    job.job_end();
    DecodedStream stream = decode_bytes(job.out);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at + 2);  // after the page's leading 00 00
    EXPECT_EQ(stream.violation->reason, "page start before job start");
}

TEST(DecodeJobOrder, MissingJobEndAndTruncatedStreams)
{
    for (Platform platform : {Platform::C, Platform::Z, Platform::M}) {
        SCOPED_TRACE(varkon::decode::platform_name(platform));
        JobBuilder job(platform);
        job.job_start();
        job.page(small_image());
        DecodedStream stream = decode_bytes(job.out);
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->offset, job.out.size());
        EXPECT_EQ(stream.violation->reason, "stream ends without job end");
        EXPECT_EQ(stream.pages.size(), 1u) << "pages before the violation are kept";

        // Cut inside the page's image data.
        Bytes whole = JobBuilder::one_page(platform, make_image(64, 300));
        size_t data = item_offset(decode_bytes(whole), platform == Platform::M ? "JBIG_DATA_CMD"
                                                       : platform == Platform::Z ? "JBIG band"
                                                                                 : "raster image header");
        Bytes cut(whole.begin(), whole.begin() + data + 30);
        stream = decode_bytes(cut);
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->offset, data) << reason_of(stream);
        EXPECT_NE(stream.violation->reason.find("present"), std::string::npos) << reason_of(stream);
    }
}

// The job time comes minute first: 14:05 on 7 December 2026 is "05:14:07:12:2026".
TEST(DecodeJobOrder, JobTimeLineOfPlatformZ)
{
    for (const char *time : {"05:24:07:12:2026", "05:14:7:12:2026", "05:14:07:13:2026"}) {
        SCOPED_TRACE(time);
        Bytes bytes = JobBuilder::one_page(Platform::Z, small_image());
        std::string text(bytes.begin(), bytes.end());
        size_t at = text.find("05:14:07:12:2026");
        text.replace(at, 16, time);
        DecodedStream stream = decode_bytes(Bytes(text.begin(), text.end()));
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->reason, std::string("JOBTIME \"") + time + "\" is not minute:hour:day:month:year");
    }
}

TEST(DecodeJobOrder, ImageDataOutsideAPageAndItemsAfterTheJobEnd)
{
    JobBuilder job(Platform::C);
    job.job_start();
    size_t at = job.out.size();
    append(job.out, JobBuilder::raster_header(64, 0, 64, 768, 0));
    DecodedStream stream = decode_bytes(job.out);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
    EXPECT_NE(stream.violation->reason.find("outside a page"), std::string::npos) << reason_of(stream);

    Bytes bytes = JobBuilder::one_page(Platform::Z, small_image());
    size_t end = bytes.size();
    append(bytes, short_frame(0x17));
    stream = decode_bytes(bytes);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, end);
    EXPECT_EQ(stream.violation->reason, "reset after the job end");
}

TEST(DecodeJobOrder, PageFramesInTheirOrder)
{
    // Page specification, then the custom paper frame: swapped is a violation.
    Bytes bytes = JobBuilder::one_page(Platform::C, small_image());
    DecodedStream stream = decode_bytes(bytes);
    size_t spec = item_offset(stream, "page specification");
    size_t custom = item_offset(stream, "custom paper");
    Bytes swapped(bytes.begin(), bytes.begin() + spec);
    append(swapped, Bytes(bytes.begin() + custom, bytes.begin() + custom + 12));
    append(swapped, Bytes(bytes.begin() + spec, bytes.begin() + spec + 18));
    append(swapped, Bytes(bytes.begin() + custom + 12, bytes.end()));
    stream = decode_bytes(swapped);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, spec);
    EXPECT_EQ(stream.violation->reason, "unexpected custom paper between pages");

    // Job end while a page is open.
    JobBuilder job(Platform::M);
    job.job_start();
    append(job.out, long_header(184, 0x02, 14));
    for (uint32_t code : {3u, 4u, 5u, 6u, 7u, 8u, 9u, 0x16u, 0xCu, 0xDu, 0x10u, 0x11u, 0x12u, 0xFF00u})
        append(job.out, long_param(code, code == 3 ? 9 : code == 0x10 ? 1 : code == 0xC || code == 0x11 ? 64 : 0));
    size_t end = job.out.size();
    job.job_end();
    stream = decode_bytes(job.out);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, end);
    EXPECT_EQ(stream.violation->reason, "job end inside page 1");
}

TEST(DecodeCopies, CollatedReplaysRepeatWholePages)
{
    DecodedStream stream = decode_bytes(job_with_pages(Platform::C, {1, 2, 3, 1, 2, 3, 1, 2, 3}));
    ASSERT_TRUE(stream.valid()) << reason_of(stream);
    EXPECT_EQ(stream.copies, 3);
    ASSERT_EQ(stream.pages.size(), 9u);
    EXPECT_EQ(stream.pages[4].copy, 2);
    EXPECT_EQ(stream.pages[8].copy, 3);
}

TEST(DecodeCopies, BrokenReplaysAreCaught)
{
    struct Case {
        std::vector<int> pages;
        const char *reason;
    };
    const Case cases[] = {
        {{1, 2, 3, 1, 2}, "copy 2 ends after 2 of its 3 pages"},
        {{1, 2, 3, 1, 3, 2}, "copy 2 has page 3 where page 2 belongs"},
        {{1, 2, 3, 1, 1, 2, 3}, "copy 2 ends after 1 of its 3 pages"},
        {{1, 3, 2}, "page 2 follows page 3"},
        {{2, 3}, "the first page is page 2, expected page 1"},
        {{1, 3}, "page 2 is missing"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reason);
        DecodedStream stream = decode_bytes(job_with_pages(Platform::Z, c.pages));
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->reason, c.reason);
    }
}

TEST(DecodeCopies, ReplayedPageMustBeTheSameBytes)
{
    JobBuilder job(Platform::C);
    job.job_start();
    job.page(make_image(64, 12, 1, 1), {1});
    job.page(make_image(64, 12, 1, 2), {2});
    job.page(make_image(64, 12, 1, 1), {1});
    size_t at = job.out.size() + 2;
    job.page(make_image(64, 12, 1, 7), {2});  // same number, other content
    job.job_end();
    DecodedStream stream = decode_bytes(job.out);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->reason, "page 2 of copy 2 differs from its first copy");
    EXPECT_GT(stream.violation->offset, at);  // found at the page end
}

TEST(DecodeManualDuplex, OddPagesThenCommandThenEvenPagesInReverse)
{
    // Five pages, no collation: 1 3 5, the command, a blank page 6, then 4 and 2.
    DecodedStream stream = decode_bytes(job_with_pages(Platform::Z, {1, 3, 5, 6, 4, 2}, 2));
    ASSERT_TRUE(stream.valid()) << reason_of(stream);
    ASSERT_TRUE(stream.manual_duplex_at.has_value());
    EXPECT_EQ(stream.pages[2].pass, 1);
    EXPECT_EQ(stream.pages[3].pass, 2);

    // With collation and two copies: each pass twice.
    stream = decode_bytes(job_with_pages(Platform::C, {1, 3, 1, 3, 4, 2, 4, 2}, 3));
    ASSERT_TRUE(stream.valid()) << reason_of(stream);
    EXPECT_EQ(stream.pages[7].copy, 2);
}

TEST(DecodeManualDuplex, ViolationsOfThePasses)
{
    struct Case {
        std::vector<int> pages;
        int command_after;
        const char *reason;
    };
    const Case cases[] = {
        {{1, 2, 3, 4}, 1, "page 2 came before the manual-duplex command; the first pass holds odd pages only"},
        {{1, 3, 2, 3}, 1, "page 3 after the manual-duplex command; the second pass holds even pages only"},
        {{1, 3, 1, 3, 4, 2}, 3, "the second pass has 1 copies, the first 2"},
        {{1, 3, 4}, 1, "page 2 is missing"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reason);
        DecodedStream stream = decode_bytes(job_with_pages(Platform::C, c.pages, c.command_after));
        ASSERT_FALSE(stream.valid());
        EXPECT_EQ(stream.violation->reason, c.reason);
    }
}

TEST(DecodeManualDuplex, CommandOnlyBetweenPagesAndOnce)
{
    JobBuilder job(Platform::M);
    job.job_start();
    size_t at = job.out.size();
    job.manual_duplex();
    job.page(small_image());
    job.job_end();
    DecodedStream stream = decode_bytes(job.out);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
    EXPECT_EQ(stream.violation->reason, "manual-duplex command before the first page");

    JobBuilder twice(Platform::M);
    twice.job_start();
    twice.page(small_image());
    twice.manual_duplex();
    at = twice.out.size();
    twice.manual_duplex();
    twice.job_end();
    stream = decode_bytes(twice.out);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->offset, at);
}

TEST(DecodeMachineDuplex, BetweenPagesOnPlatformCOnly)
{
    JobBuilder job(Platform::C);
    job.job_start();
    job.page(make_image(64, 12, 1, 1), {1});
    job.zeros();
    append(job.out, short_frame(0x40));
    job.page(make_image(64, 12, 1, 2), {2});
    job.zeros();
    append(job.out, short_frame(0x40));
    job.job_end();
    EXPECT_TRUE(decode_bytes(job.out).valid()) << reason_of(decode_bytes(job.out));

    size_t at = job.out.size() - 36 - 4 - 2 - 5 - 2;  // the last machine duplex, before the job end
    job.out.insert(job.out.begin() + at, {0x0B, 0x04, 0x40, 0xB1});
    DecodedStream stream = decode_bytes(job.out);
    ASSERT_FALSE(stream.valid());
    EXPECT_EQ(stream.violation->reason, "two machine-duplex commands in a row");
}

} // namespace
