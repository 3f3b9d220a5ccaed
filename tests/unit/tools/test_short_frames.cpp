// SPDX-License-Identifier: GPL-2.0-or-later
// Reader of platform C and Z items: short-frame length and checksum, frame codes
// per platform, data announced by a frame, PJL lines, escapes and zero pairs.
#include "stream_builder.h"
#include "stream_items.h"

#include <gtest/gtest.h>

namespace {

using namespace varkon::test;
using varkon::decode::Violation;
using varkon::decode::detail::read_short_item;
using varkon::decode::detail::Sym;
using varkon::decode::detail::Token;

struct Read {
    bool ok;
    Token token;
    Violation violation;
};

Read read_at(Platform platform, const Bytes &bytes, size_t pos = 0)
{
    Read r;
    r.ok = read_short_item(platform, bytes.data(), bytes.size(), pos, r.token, r.violation);
    return r;
}

TEST(DecodeShortFrames, FixedFramesReadWithTheirMeaningPerPlatform)
{
    struct Case {
        Platform platform;
        Bytes bytes;
        Sym sym;
    };
    const Case cases[] = {
        {Platform::C, {0x0B, 0x04, 0x32, 0xBF}, Sym::HostUse},
        {Platform::C, {0x0B, 0x05, 0x31, 0x80, 0x3F}, Sym::QueryStatus},
        {Platform::C, {0x0B, 0x04, 0x30, 0xC1}, Sym::ManualDuplex},
        {Platform::C, {0x0B, 0x04, 0x40, 0xB1}, Sym::MachineDuplex},
        {Platform::C, {0x0B, 0x04, 0x16, 0xDB}, Sym::Abort},
        {Platform::C, {0x0B, 0x05, 0x19, 0x01, 0xD6}, Sym::TonerSave},
        {Platform::Z, {0x0B, 0x04, 0x1B, 0xD6}, Sym::ManualDuplex},
        {Platform::Z, {0x0B, 0x05, 0x1F, 0x01, 0xD0}, Sym::FineMode},
        {Platform::Z, {0x0B, 0x07, 0x19, 0x3F, 0x3F, 0x00, 0x57}, Sym::Coverage},
        {Platform::Z, {0x0B, 0x04, 0x17, 0xDA}, Sym::Reset},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.sym));
        Read r = read_at(c.platform, c.bytes);
        ASSERT_TRUE(r.ok) << r.violation.reason;
        EXPECT_EQ(r.token.sym, c.sym);
        EXPECT_EQ(r.token.item.length, c.bytes.size());
    }
}

TEST(DecodeShortFrames, FieldsOfTheFrames)
{
    Read date = read_at(Platform::C, {0x0B, 0x08, 0x1F, 0xEA, 0x07, 0x0C, 0x07, 0xCA});
    ASSERT_TRUE(date.ok) << date.violation.reason;
    EXPECT_EQ(date.token.item.number("year"), 2026);
    EXPECT_EQ(date.token.item.number("month"), 12);
    EXPECT_EQ(date.token.item.number("day"), 7);

    Read coverage = read_at(Platform::Z, {0x0B, 0x07, 0x19, 0x3F, 0x3F, 0x00, 0x57});
    EXPECT_EQ(coverage.token.item.number("printed_points"), 4095);

    Read job = read_at(Platform::Z, short_frame(0x11, {0x30, 0x2C, 0x01, 0x00, 0x00}));
    EXPECT_EQ(job.token.item.number("job"), 300);
    EXPECT_EQ(job.token.item.number("options"), 0x30);
    Read job_c = read_at(Platform::C, short_frame(0x11, {0x2C, 0x30}));
    EXPECT_EQ(job_c.token.item.number("job"), 44);

    Read raster = read_at(Platform::Z, JobBuilder::raster_header(4960, 7016, 0, 0, 0));
    EXPECT_EQ(raster.token.item.number("width"), 4960);
    EXPECT_EQ(raster.token.item.number("height"), 7016);
}

TEST(DecodeShortFrames, ChecksumLengthAndCode)
{
    Read bad_sum = read_at(Platform::C, {0x0B, 0x04, 0x32, 0xBE});
    ASSERT_FALSE(bad_sum.ok);
    EXPECT_EQ(bad_sum.violation.reason, "short frame 0x32 checksum 0xbe, expected 0xbf");

    Bytes page_spec = short_frame(0x12, Bytes(14, 1));
    page_spec[17] = 0x5A;
    Read bad_spec = read_at(Platform::Z, page_spec);
    ASSERT_FALSE(bad_spec.ok);
    EXPECT_NE(bad_spec.violation.reason.find("short frame 0x12 checksum 0x5a, expected"), std::string::npos);

    Read long_density = read_at(Platform::C, short_frame(0x15, {3, 0}));
    ASSERT_FALSE(long_density.ok);
    EXPECT_EQ(long_density.violation.reason, "short frame 0x15 length 6, expected 5");

    // 0x19 is a 5-byte frame on C and a 7-byte one on Z.
    Read toner_on_z = read_at(Platform::Z, {0x0B, 0x05, 0x19, 0x01, 0xD6});
    ASSERT_FALSE(toner_on_z.ok);
    EXPECT_EQ(toner_on_z.violation.reason, "short frame 0x19 length 5, expected 7");

    Read toner_table = read_at(Platform::Z, short_frame(0x1E, Bytes(33, 32)));
    EXPECT_FALSE(toner_table.ok);
    EXPECT_EQ(toner_table.violation.reason, "short frame 0x1e length 37, expected 36 or 40");
    EXPECT_TRUE(read_at(Platform::Z, short_frame(0x1E, Bytes(36, 32))).ok);

    Read abort_on_z = read_at(Platform::Z, {0x0B, 0x04, 0x16, 0xDB});
    ASSERT_FALSE(abort_on_z.ok);
    EXPECT_EQ(abort_on_z.violation.reason, "unknown short frame code 0x16 on platform Z");
}

TEST(DecodeShortFrames, TruncatedFrameAndData)
{
    Bytes spec = short_frame(0x12, Bytes(14, 0));
    spec.resize(10);
    Read cut = read_at(Platform::C, spec);
    ASSERT_FALSE(cut.ok);
    EXPECT_EQ(cut.violation.reason, "stream ends inside short frame 0x12: 18 bytes announced, 10 present");
    EXPECT_FALSE(read_at(Platform::C, {0x0B, 0x04}).ok);

    // A C raster header announcing more image data than the stream holds.
    Bytes raster = JobBuilder::raster_header(64, 8, 64, 768, 100);
    raster.resize(raster.size() + 60, 0);
    Read short_data = read_at(Platform::C, raster);
    ASSERT_FALSE(short_data.ok);
    EXPECT_EQ(short_data.violation.reason, "raster image header announces 100 data bytes, 60 present");

    // A huge announced size is refused before anything is read behind it.
    Bytes band = JobBuilder::band_frame(64, 8, 0xFFFFFFF0u, 0);
    Read huge = read_at(Platform::Z, band);
    ASSERT_FALSE(huge.ok);
    EXPECT_EQ(huge.violation.offset, 0u);
}

TEST(DecodeShortFrames, PayloadBelongsToTheItem)
{
    Bytes band = JobBuilder::band_frame(64, 8, 5, 0);
    append(band, Bytes{1, 2, 3, 4, 5, 0x0B});
    Read r = read_at(Platform::Z, band);
    ASSERT_TRUE(r.ok) << r.violation.reason;
    EXPECT_EQ(r.token.item.length, 53u);
    EXPECT_EQ(r.token.payload_at, 48u);
    EXPECT_EQ(r.token.payload_size, 5u);
}

TEST(DecodePjlAndEscapes, LinesAndUniversalExits)
{
    Bytes text;
    append(text, std::string("@PJL ENTER LANGUAGE=PL\r\n"));
    Read line = read_at(Platform::Z, text);
    ASSERT_TRUE(line.ok);
    EXPECT_EQ(line.token.sym, Sym::PjlEnterLanguage);
    EXPECT_EQ(line.token.item.field("line")->text, "@PJL ENTER LANGUAGE=PL");

    Bytes owner;
    append(owner, std::string("@PJL JOBOWNER=build-host\r\n"));
    EXPECT_EQ(read_at(Platform::Z, owner).token.sym, Sym::PjlJobOwner);

    Bytes end;
    append(end, kUel);
    append(end, std::string("\r\n"));
    Read uel = read_at(Platform::C, end);
    ASSERT_TRUE(uel.ok);
    EXPECT_EQ(uel.token.sym, Sym::Uel);
    EXPECT_EQ(uel.token.item.length, 11u) << "the closing UEL takes its line end";

    Read uel_c = read_at(Platform::C, kUelC);
    ASSERT_TRUE(uel_c.ok);
    EXPECT_EQ(uel_c.token.sym, Sym::UelC);
    EXPECT_EQ(uel_c.token.item.length, 9u);

    Bytes version;
    append(version, std::string("versions=3.1.2.1"));
    version.push_back(0);
    Read v = read_at(Platform::C, version);
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.token.item.length, 16u);
}

TEST(DecodePjlAndEscapes, BrokenTextIsAViolation)
{
    Bytes unterminated;
    append(unterminated, std::string("@PJL EOJ"));
    EXPECT_EQ(read_at(Platform::Z, unterminated).violation.reason, "stream ends inside a PJL line");

    Bytes control;
    append(control, std::string("@PJL JOB\x01NAME\r\n"));
    Read r = read_at(Platform::Z, control);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.violation.offset, 8u);

    Bytes endless;
    append(endless, std::string("@PJL ") + std::string(400, 'A') + "\r\n");
    EXPECT_EQ(read_at(Platform::Z, endless).violation.reason, "PJL line longer than 255 bytes");

    Bytes cut_uel(kUel.begin(), kUel.begin() + 6);
    EXPECT_EQ(read_at(Platform::Z, cut_uel).violation.reason,
              "stream ends inside a universal exit language sequence");
    EXPECT_EQ(read_at(Platform::Z, {0x1B, 'E'}).violation.reason, "unknown escape sequence");
    EXPECT_EQ(read_at(Platform::Z, {0x7F}).violation.reason, "unexpected byte 0x7f");
}

TEST(DecodeZeroPairs, RunsOfPairsAreOneItem)
{
    Read run = read_at(Platform::Z, {0, 0, 0, 0, 0, 0, 0x0B});
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.token.sym, Sym::ZeroPairs);
    EXPECT_EQ(run.token.item.number("pairs"), 3);

    Read odd = read_at(Platform::Z, {0, 0x0B, 0x04, 0x17, 0xDA});
    ASSERT_FALSE(odd.ok);
    EXPECT_EQ(odd.violation.reason, "single 00 byte; keep-alive zero bytes come in pairs");
    EXPECT_FALSE(read_at(Platform::C, {0}).ok);
}

} // namespace
