// SPDX-License-Identifier: GPL-2.0-or-later
// Reader of platform M items: header signature, frame types and their lengths,
// parameter entries, data packages, and lengths larger than the stream.
#include "stream_builder.h"
#include "stream_items.h"

#include <gtest/gtest.h>

namespace {

using namespace varkon::test;
using varkon::decode::Violation;
using varkon::decode::detail::read_long_item;
using varkon::decode::detail::Sym;
using varkon::decode::detail::Token;

struct Read {
    bool ok;
    Token token;
    Violation violation;
};

Read read(const Bytes &bytes)
{
    Read r;
    r.ok = read_long_item(bytes.data(), bytes.size(), 0, r.token, r.violation);
    return r;
}

Bytes start_doc()
{
    Bytes frame = long_header(52, 0x00, 3);
    append(frame, long_param(0, 0));
    append(frame, long_param(1, 0));
    append(frame, long_param(2, 1));
    return frame;
}

TEST(DecodeLongFrames, HeadersOfTheFixedFrames)
{
    // END_PAGE_CMD as the printers take it.
    Read end_page = read({0, 0, 0, 0x10, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A});
    ASSERT_TRUE(end_page.ok) << end_page.violation.reason;
    EXPECT_EQ(end_page.token.sym, Sym::EndPage);
    EXPECT_EQ(end_page.token.item.name, "END_PAGE_CMD");

    Read doc = read(start_doc());
    ASSERT_TRUE(doc.ok) << doc.violation.reason;
    EXPECT_EQ(doc.token.item.number("DOC_PARAM_2"), 1);
    EXPECT_EQ(doc.token.item.length, 52u);

    Bytes density = long_param(0xFF00, 3);
    EXPECT_EQ(density, (Bytes{0, 0, 0, 0x0C, 0xFF, 0, 1, 0, 0, 0, 0, 3}));

    Read marker = read({'J', 'Z', 'J', 'Z'});
    EXPECT_TRUE(marker.ok);
    EXPECT_EQ(marker.token.sym, Sym::Marker);
}

TEST(DecodeLongFrames, SignatureTypeAndLengths)
{
    Bytes bad_signature = long_header(16, 0x03);
    bad_signature[15] = 0x59;
    Read r = read(bad_signature);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.violation.reason, "long frame signature 0x5a59, expected 0x5a5a (\"ZZ\")");

    EXPECT_EQ(read(long_header(16, 0x07)).violation.reason, "unknown long frame type 0x07");
    EXPECT_EQ(read(long_header(20, 0x03)).violation.reason, "END_PAGE_CMD length 20, expected 16");
    EXPECT_EQ(read(long_header(16, 0x05)).violation.reason,
              "JBIG_DATA_CMD length 16; a package carries 1 to 65536 bytes after its 16-byte header");

    Bytes wrong_count = start_doc();
    wrong_count[13] = 35;  // parameter bytes no longer 12 per entry
    EXPECT_FALSE(read(wrong_count).ok);

    Bytes page = long_header(184, 0x02, 13);
    page.resize(184, 0);
    EXPECT_EQ(read(page).violation.reason, "START_PAGE_CMD carries 13 parameters, expected 14");
}

TEST(DecodeLongFrames, ParameterEntries)
{
    Bytes frame = start_doc();
    frame[16 + 12 + 6] = 2;  // second entry's type
    Read r = read(frame);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.violation.offset, 28u);

    frame = start_doc();
    frame[16 + 3] = 11;
    EXPECT_EQ(read(frame).violation.reason, "parameter 1 of START_DOC_CMD has length 11, expected 12");

    frame = start_doc();
    frame[16 + 24 + 5] = 0x77;
    EXPECT_EQ(read(frame).violation.reason, "unknown parameter code 0x0077 in START_DOC_CMD");
}

TEST(DecodeLongFrames, TruncatedFrames)
{
    Bytes header = long_header(16, 0x01);
    header.resize(10);
    EXPECT_EQ(read(header).violation.reason, "stream ends inside a long frame header: 16 bytes needed, 10 present");

    Bytes package = long_header(16 + 65536, 0x05);
    package.resize(16 + 1000, 0);
    Read r = read(package);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.violation.reason, "stream ends inside JBIG_DATA_CMD: 65552 bytes announced, 1016 present");

    Bytes doc = start_doc();
    doc.resize(40);
    EXPECT_FALSE(read(doc).ok);
    EXPECT_EQ(read({'J', 'Z'}).violation.reason, "stream ends inside JZJZ");
}

TEST(DecodeLongFrames, DataPackagePayload)
{
    Bytes package = long_header(16 + 3, 0x05);
    append(package, Bytes{7, 8, 9});
    Read r = read(package);
    ASSERT_TRUE(r.ok) << r.violation.reason;
    EXPECT_EQ(r.token.payload_at, 16u);
    EXPECT_EQ(r.token.payload_size, 3u);
    EXPECT_EQ(r.token.item.number("payload"), 3);
}

} // namespace
