// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG images: decoding what libjbig's encoder and the pbmtojbg tool write, in
// the parameters of each platform, and refusing what is cut, too long, too big or
// not a single-layer single-plane image.
#include "jbig_image.h"
#include "run_process.h"
#include "stream_builder.h"

#include <gtest/gtest.h>

namespace {

using namespace varkon::test;
using varkon::decode::DecodedImage;
using varkon::decode::decode_jbig;

constexpr uint64_t kLimit = 64u << 20;

TEST(DecodeJbigImage, RoundTripsInEachPlatformsParameters)
{
    TestImage image = make_image(333, 601, 1, 11);
    for (const JbigParams &params : {kJbigC, kJbigZ, kJbigM}) {
        SCOPED_TRACE(params.options);
        Bytes bie = jbig_encode(image.rows.data(), image.width, image.height, params);
        DecodedImage decoded;
        ASSERT_EQ(decode_jbig(bie.data(), bie.size(), kLimit, decoded), "");
        EXPECT_EQ(decoded.width, 333u);
        EXPECT_EQ(decoded.height, 601u);
        EXPECT_EQ(decoded.rows, image.rows);
    }
}

TEST(DecodeJbigImage, DecodesWhatPbmtojbgWrites)
{
    TempDir dir;
    TestImage image = make_image(120, 90, 1, 4);
    std::string pbm = "P4\n120 90\n" + std::string(image.rows.begin(), image.rows.end());
    write_file(dir.file("in.pbm"), pbm);
    ProcessResult result = run_process({"/usr/bin/pbmtojbg", "-q", "-s", "32", dir.file("in.pbm"), dir.file("out.jbg")});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::string bie = read_file(dir.file("out.jbg"));
    DecodedImage decoded;
    ASSERT_EQ(decode_jbig(reinterpret_cast<const unsigned char *>(bie.data()), bie.size(), kLimit, decoded), "");
    EXPECT_EQ(decoded.rows, image.rows);

    // By default pbmtojbg adds resolution layers, which the printers do not take.
    result = run_process({"/usr/bin/pbmtojbg", "-d", "2", dir.file("in.pbm"), dir.file("layers.jbg")});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    bie = read_file(dir.file("layers.jbg"));
    std::string reason = decode_jbig(reinterpret_cast<const unsigned char *>(bie.data()), bie.size(), kLimit, decoded);
    EXPECT_NE(reason.find("resolution layers"), std::string::npos) << reason;
}

TEST(DecodeJbigImage, DataMustEndWithTheImage)
{
    TestImage image = make_image(64, 100);
    Bytes bie = jbig_encode(image.rows.data(), 64, 100, kJbigZ);
    DecodedImage decoded;
    std::string reason = decode_jbig(bie.data(), bie.size() - 1, kLimit, decoded);
    EXPECT_NE(reason.find("needs more than"), std::string::npos) << reason;

    Bytes longer = bie;
    longer.push_back(0x0B);
    reason = decode_jbig(longer.data(), longer.size(), kLimit, decoded);
    EXPECT_NE(reason.find("ends after"), std::string::npos) << reason;

    reason = decode_jbig(bie.data(), 12, kLimit, decoded);
    EXPECT_EQ(reason, "JBIG data of 12 bytes is shorter than its 20-byte header");
}

TEST(DecodeJbigImage, HeaderIsCheckedBeforeDecoding)
{
    Bytes bie = jbig_encode(make_image(64, 16).rows.data(), 64, 16, kJbigM);
    DecodedImage decoded;

    // An announced image larger than the caller allows is never allocated.
    Bytes huge = bie;
    huge[4] = huge[5] = huge[8] = 0x7F;
    std::string reason = decode_jbig(huge.data(), huge.size(), kLimit, decoded);
    EXPECT_NE(reason.find("larger than the decoder's limit"), std::string::npos) << reason;

    Bytes planes = bie;
    planes[2] = 2;
    EXPECT_EQ(decode_jbig(planes.data(), planes.size(), kLimit, decoded), "JBIG image has 2 planes; the printers take one");

    Bytes garbage = bie;
    for (size_t i = 20; i < garbage.size(); ++i)
        garbage[i] = 0xFF;
    EXPECT_NE(decode_jbig(garbage.data(), garbage.size(), kLimit, decoded), "");
}

TEST(DecodeJbigImage, ImageOfNoLinesIsItsHeaderAlone)
{
    Bytes bie = jbig_encode(nullptr, 64, 0, kJbigC);
    ASSERT_EQ(bie.size(), 20u);
    DecodedImage decoded;
    EXPECT_EQ(decode_jbig(bie.data(), bie.size(), kLimit, decoded), "");
    EXPECT_EQ(decoded.height, 0u);
    bie.push_back(0);
    EXPECT_NE(decode_jbig(bie.data(), bie.size(), kLimit, decoded), "");
}

} // namespace
