// SPDX-License-Identifier: GPL-2.0-or-later
// Frame primitives: checksum, long-frame header and parameter entries, and the
// fixed sequences as they go on the wire.
#include "frames.h"

#include "hex_bytes.h"

#include <gtest/gtest.h>

#include <string>

using varkon::test::bytes;
using varkon::test::hex;

namespace {

template <size_t N>
std::string wire_of(const std::array<unsigned char, N> &a)
{
    return std::string(reinterpret_cast<const char *>(a.data()), N);
}

TEST(CalcChecksum, IsTheNegatedEightBitSum)
{
    const unsigned char hostUse[] = {0x0B, 0x04, 0x32};
    EXPECT_EQ(CalcChecksum(hostUse, 3) & 0xFF, 0xBF);

    // The sum wraps at 8 bits: 0xFF + 0x02 = 0x01, negated 0xFF.
    const unsigned char wraps[] = {0xFF, 0x02};
    EXPECT_EQ(CalcChecksum(wraps, 2) & 0xFF, 0xFF);

    EXPECT_EQ(CalcChecksum(hostUse, 0), 0);
    EXPECT_EQ(CalcChecksum(hostUse, -3), 0);
}

TEST(LongFrame, HeaderIsBigEndianWithSignature)
{
    unsigned char header[16];
    EXPECT_EQ(SetCmdType(header, 16, varkon::cmd_m::END_PAGE_CMD, 0, 0, varkon::kCmdSignature), 1);
    EXPECT_EQ(hex(header, 16), "00 00 00 10 00 00 00 03 00 00 00 00 00 00 5A 5A");

    // Every field at its own offset, none overlapping another.
    SetCmdType(header, 0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E, 0x5A5A);
    EXPECT_EQ(hex(header, 16), "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 5A 5A");
}

TEST(LongFrame, ParameterEntry)
{
    unsigned char entry[12];
    EXPECT_EQ(SetCmdParam(entry, varkon::param_m::DENSITY_PARAM, 1, 3), 1);
    EXPECT_EQ(hex(entry, 12), "00 00 00 0C FF 00 01 00 00 00 00 03");

    SetCmdParam(entry, varkon::param_m::IMG_WIDTH_PARAM, 1, 0x00012345);
    EXPECT_EQ(hex(entry, 12), "00 00 00 0C 00 0C 01 00 00 01 23 45");
}

TEST(ShortFrame, SleepTime)
{
    unsigned char frame[5];
    EXPECT_EQ(GetSleepCmd(frame), 1);
    EXPECT_EQ(hex(frame, 5), "0B 05 1D 01 D2");
}

TEST(FixedSequences, TextSequencesOnTheWire)
{
    // The C variant of the exit sequence carries 0xFF and is still nine bytes long.
    EXPECT_EQ(hex(wire_of(UEL_CMD_C)), "1B FF 2D 31 32 33 34 35 58");
    EXPECT_EQ(wire_of(UEL_CMD), "\x1B%-12345X");
    EXPECT_EQ(wire_of(PJLheader), "\x1B%-12345X@PJL\r\n");
    EXPECT_EQ(wire_of(endOfJobCmd), "\x1B%-12345X@PJL\r\n@PJL EOJ\r\n\x1B%-12345X\r\n");
    EXPECT_EQ(wire_of(pjlCmd), "@PJL ENTER LANGUAGE=PL\r\n");
    EXPECT_EQ(wire_of(pjlVersion), "@PJL LANGUAGEVERSION=1.0\r\n");
    EXPECT_EQ(wire_of(fwVer), "versions=3.1.2.1");
}

TEST(FixedSequences, ShortFramesMatchTheirCommandCodes)
{
    EXPECT_EQ(hex(wire_of(hostUseCmd)), "0B 04 32 BF");
    EXPECT_EQ(hex(wire_of(formFeedCmd)), "0B 04 18 D9");
    EXPECT_EQ(hex(wire_of(queryStatusCmd)), "0B 05 31 80 3F");
    EXPECT_EQ(hex(wire_of(resetCmd)), "0B 04 17 DA");
    EXPECT_EQ(hex(wire_of(machineDuplexCmd)), "0B 04 40 B1");
    EXPECT_EQ(hex(wire_of(manualDuplexCmd_C)), "0B 04 30 C1");
    EXPECT_EQ(hex(wire_of(manualDuplexCmd_Z)), "0B 04 1B D6");
    EXPECT_EQ(hex(wire_of(abortCmd)), "0B 04 16 DB");
}

TEST(Swap, ExchangesValuesWithoutChangingByteOrder)
{
    unsigned int w = 4960, h = 0x01020304;
    SwapUINT(&w, &h);
    EXPECT_EQ(w, 0x01020304u);
    EXPECT_EQ(h, 4960u);
    unsigned short a = 0x0102, b = 7;
    SwapUSHORT(&a, &b);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 0x0102);
}

} // namespace
