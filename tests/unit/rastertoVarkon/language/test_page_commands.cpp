// SPDX-License-Identifier: GPL-2.0-or-later
// Page start and end: the page frames byte by byte, the coverage arithmetic, the
// duplex commands, and the Prnt_StartPage / Prnt_EndPage sequences of each platform.
#include "page_commands.h"

#include "bytes.h"
#include "command_sequence.h"
#include "frames.h"
#include "hex_bytes.h"
#include "test_job.h"
#include "output_sink.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

using namespace varkon::test;

namespace {

const std::string kZeros = bytes("00 00");

GDI_START_PAGE_PARAM a4_page_3()
{
    GDI_START_PAGE_PARAM p;
    p.paperSize = 9;
    p.mediaType = 1;
    p.resolutionX = 60;
    p.resolutionY = 60;
    p.tray = 2;
    p.feedEdge = 0x40;
    p.copies = 2;
    p.marginX = 100;
    p.marginY = 0x0102;
    p.pageNum = 3;
    p.userPhyPgW = 4960;
    p.userPhyPgH = 7016;
    p.userPrntAreaW = 4800;
    p.userPrntAreaH = 6780;
    p.densityLevel = 3;
    return p;
}

std::string frame_string(const unsigned char *frame, size_t len)
{
    return std::string(reinterpret_cast<const char *>(frame), len);
}

TEST(PageFrames, PageSpecificationPerPlatform)
{
    const GDI_START_PAGE_PARAM p = a4_page_3();
    unsigned char frame[18];
    EXPECT_EQ(GetPageSpecCmd(&p, frame, PLATFORM_C), 1);
    EXPECT_EQ(hex(frame, 18), "0B 12 12 09 01 3C 3C 02 40 02 00 64 00 02 01 03 00 A1");
    // Z takes no feed-edge bits.
    GetPageSpecCmd(&p, frame, PLATFORM_Z);
    EXPECT_EQ(hex(frame, 18), "0B 12 12 09 01 3C 3C 02 00 02 00 64 00 02 01 03 00 E1");
}

TEST(PageFrames, CustomPaperOnlyForTheCustomPaperNumber)
{
    GDI_START_PAGE_PARAM p = a4_page_3();
    unsigned char frame[12];
    p.paperSize = 255;
    GetCustomPaperCmd(&p, frame, PLATFORM_C);
    EXPECT_EQ(hex(frame, 12), "0B 0C 13 60 13 68 1B C0 12 7C 1A 78");
    GetCustomPaperCmd(&p, frame, PLATFORM_Z);
    EXPECT_EQ(hex(frame, 12), "0B 0C 13 00 00 00 00 00 00 00 00 D6");

    p.paperSize = 0;
    GetCustomPaperCmd(&p, frame, PLATFORM_Z);
    EXPECT_EQ(hex(frame, 12), "0B 0C 13 60 13 68 1B C0 12 7C 1A 78");
    GetCustomPaperCmd(&p, frame, PLATFORM_C);
    EXPECT_EQ(hex(frame, 12), "0B 0C 13 00 00 00 00 00 00 00 00 D6");
}

TEST(PageFrames, ImageChecksumAndCoverageZ)
{
    unsigned char frame[7];
    GetImageDataChenksumCmd(frame, 0x9E);
    EXPECT_EQ(hex(frame, 6), "0B 06 1A 9E 00 37");

    GetCoverageCmd_Z(frame, 4095999); // 4095 in 6/6/4-bit groups
    EXPECT_EQ(hex(frame + 3, 3), "3F 3F 00");
    EXPECT_EQ(CalcChecksum(frame, 7) & 0xFF, 0);
    GetCoverageCmd_Z(frame, 1234567); // 1234 = 0x4D2
    EXPECT_EQ(hex(frame, 7), "0B 07 19 12 13 00 B0");
    GetCoverageCmd_Z(frame, 65536000); // cut to 16 bits
    EXPECT_EQ(hex(frame + 3, 3), "00 00 00");
}

struct CoverageCase {
    uint32_t dots;
    int32_t resolution, density, widthMm;
    int32_t expected;
};

TEST(PageFrames, CoverageCountOfPlatformC)
{
    const CoverageCase cases[] = {
        {1000000, 600, 2, 210, 1000},  {1000000, 1200, 2, 210, 250}, {1000000, 600, 2, 148, 1500},
        {1000000, 1200, 0, 100, 349}, // single-precision 0.7 makes 349.99999..., not 350
        {1000000, 600, 3, 210, 1200},  {1000000, 600, 4, 210, 1200}, {1000000, 600, 1, 210, 699},
        {1000000, 600, -1, 210, 1000}, {1000000, 600, 5, 210, 1000}, {1000000, 600, 2, 125, 1000},
        {1000000, 600, 2, 124, 2000},  {1000000, 600, 2, 126, 1500}, {1000000, 600, 2, 174, 1500},
        {1000000, 600, 2, 175, 1000},  {999, 600, 2, 210, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(varkon::coverage_count_c(c.dots, c.resolution, c.density, c.widthMm), c.expected)
            << c.dots << " dots, " << c.resolution << " dpi, density " << c.density << ", " << c.widthMm << " mm";

    GDI_END_PAGE_PARAM end;
    end.resolutionE = 600;
    end.densityE = 2;
    end.paperWidthE = 210;
    unsigned char frame[6];
    GetCoverageCmd_C(&end, frame, 1000000);
    EXPECT_EQ(hex(frame, 6), "0B 06 1E E8 03 E6");
    EXPECT_EQ(end.dotCnt, 1000);
    // 70 000 000 dots give 70 000, which the frame carries cut to 16 bits.
    GetCoverageCmd_C(&end, frame, 70000000);
    EXPECT_EQ(end.dotCnt, 70000 & 0xFFFF);
    EXPECT_EQ(varkon::get_le16(frame + 3), uint32_t(70000 & 0xFFFF));
}

TEST(PageFrames, StartPageParametersOfPlatformM)
{
    GDI_START_PAGE_PARAM p = a4_page_3();
    p.iIs2bit = 1;
    varkon::PageParamM params[varkon::kMaxPageParamsM];
    ASSERT_EQ(varkon::start_page_params_m(p, params), 14u);
    EXPECT_EQ(params[0].paramCmd, varkon::param_m::PAPER_SIZE_PARAM);
    EXPECT_EQ(params[8].paramCmd, varkon::param_m::IMG_WIDTH_PARAM);
    EXPECT_EQ(params[8].value, 2u * 4800);
    EXPECT_EQ(params[10].paramCmd, varkon::param_m::VIDEO_DEPTH_PARAM);
    EXPECT_EQ(params[10].value, 2u);
    EXPECT_EQ(params[11].value, 4800u);
    EXPECT_EQ(params[13].paramCmd, varkon::param_m::DENSITY_PARAM);

    p.paperSize = 0;
    p.iIs2bit = 0;
    ASSERT_EQ(varkon::start_page_params_m(p, params), 17u);
    EXPECT_EQ(params[1].paramCmd, varkon::param_m::CUSTOM_PAPER_UNIT_PARAM);
    EXPECT_EQ(params[2].value, 4960u);
    EXPECT_EQ(params[3].value, 7016u);
    EXPECT_EQ(params[11].value, 4800u); // IMG_WIDTH_PARAM, one bit per pixel
}

class PageSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        job().g_page = 3;
    }
    static SequenceItem item(const std::string &data, const std::string &failure) { return {data, failure, nullptr}; }
};

TEST_F(PageSequence, StartPageOnCAndZ)
{
    GDI_START_PAGE_PARAM p = a4_page_3();
    unsigned char spec[18], custom[12];
    GetCustomPaperCmd(&p, custom, PLATFORM_C);

    GetPageSpecCmd(&p, spec, PLATFORM_C);
    const SequenceItem specC = item(frame_string(spec, 18), "Prnt_StartPage() :: send cmdPageSpec Fail 0 ==  \n");
    const SequenceItem customItem =
        item(frame_string(custom, 12), "Prnt_StartPage() :: send cmdCustomPaper Fail 0 ==  \n");
    job().gImageCoverage = 77;
    expect_sequence({plain(kZeros), specC, plain(kZeros), customItem, plain(kZeros),
                     item(bytes("0B 04 32 BF"), "Prnt_StartPage() :: send hostUseCmd Fail 0 ==  \n"), plain(kZeros)},
                    [&] { return Prnt_StartPage(&p, PLATFORM_C); });
    EXPECT_EQ(job().gImageCoverage, 0u);

    GetPageSpecCmd(&p, spec, PLATFORM_Z);
    const SequenceItem specZ = item(frame_string(spec, 18), "Prnt_StartPage() :: send cmdPageSpec Fail 0 ==  \n");
    expect_sequence({plain(kZeros), specZ, plain(kZeros), customItem, plain(kZeros)},
                    [&] { return Prnt_StartPage(&p, PLATFORM_Z); });
}

TEST_F(PageSequence, StartPageOnM)
{
    GDI_START_PAGE_PARAM p = a4_page_3();
    p.paperSize = 0;
    Sequence s = {item(bytes("00 00 00 DC 00 00 00 02 00 00 00 11 00 CC 5A 5A"),
                       "Prnt_StartPage() :: send START_PAGE_CMD Fail 0 ==  \n")};
    varkon::PageParamM params[varkon::kMaxPageParamsM];
    const size_t n = varkon::start_page_params_m(p, params);
    for (size_t i = 0; i < n; ++i) {
        unsigned char entry[12];
        SetCmdParam(entry, params[i].paramCmd, 1, params[i].value);
        s.push_back(item(frame_string(entry, 12), params[i].failure));
    }
    EXPECT_EQ(hex(s[17].data), "00 00 00 0C FF 00 01 00 00 00 00 03");
    job().gImageCoverage = 77;
    expect_sequence(s, [&] { return Prnt_StartPage(&p, PLATFORM_M); });
    EXPECT_EQ(job().gImageCoverage, 77u);
    EXPECT_EQ(std::string(params[5].failure), "Prnt_StartPage() :: send INPUT_TRAY_PARAM Fail 0 ==  \n");
}

TEST_F(PageSequence, EndPageOnEachPlatform)
{
    GDI_END_PAGE_PARAM end;
    end.page = 3;
    end.bMachDup = 1;
    end.resolutionE = 600;
    end.densityE = 2;
    end.paperWidthE = 210;
    job().gImageChecksum = 0x9E;
    job().gImageCoverage = 1000000;
    const Sequence c = {
        item(bytes("1B FF 2D 31 32 33 34 35 58"), "Prnt_EndPage() :: send UEL_CMD_C Fail 0 ==  \n"),
        plain(kZeros),
        item(bytes("0B 06 1A 9E 00 37"), "Prnt_EndPage() :: send cmdImageDataChenksum Fail 0 ==  \n"),
        plain(kZeros),
        item(bytes("0B 06 1E E8 03 E6"), "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"),
        plain(kZeros),
        item(bytes("0B 04 18 D9"), "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n"),
        plain(kZeros),
        item(bytes("0B 04 40 B1"), "Prnt_EndPage() :: MachineDuplexCmd Fail .\n"
                                   "SendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n"),
    };
    expect_sequence(c, [&] { return Prnt_EndPage(&end, PLATFORM_C); });
    EXPECT_EQ(end.dotCnt, 1000);

    // An even page of an automatic duplex job needs no machine-duplex command.
    end.page = 4;
    expect_sequence(Sequence(c.begin(), c.end() - 2), [&] { return Prnt_EndPage(&end, PLATFORM_C); });

    expect_sequence({plain(kZeros), item(bytes("0B 04 18 D9"), "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n")},
                    [&] { return Prnt_EndPage(&end, PLATFORM_Z); });
    expect_sequence({item(bytes("00 00 00 10 00 00 00 03 00 00 00 00 00 00 5A 5A"),
                          "Prnt_EndPage() :: send END_PAGE_CMD Fail 0 ==  \n")},
                    [&] { return Prnt_EndPage(&end, PLATFORM_M); });
}

TEST_F(PageSequence, MachineDuplexIsDueAfterOddPagesAtJobEnd)
{
    CapturedRun run = run_captured([] { return SendMachineDuplexCmd(2, 1); });
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.out, "");
    run = run_captured([] { return SendMachineDuplexCmd(3, 1); });
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(hex(run.out), "00 00 0B 04 40 B1");
    run = run_captured([] { return SendMachineDuplexCmd(2, 0); });
    EXPECT_EQ(hex(run.out), "00 00 0B 04 40 B1");
    run = run_captured([] { return SendMachineDuplexCmd(3, 0); });
    EXPECT_EQ(run.out, "");
}

TEST_F(PageSequence, ManualDuplexCommandGoesToThePrinterOnly)
{
    // A collation spool is open: the command between the passes must not land in it.
    char path[] = "/tmp/varkon-spool-XXXXXX";
    job().gCollateFile = mkstemp(path);
    ASSERT_GE(job().gCollateFile, 0);
    unlink(path);

    expect_sequence({item(bytes("00 00 00 10 00 00 00 0B 00 00 00 00 00 00 5A 5A"),
                          "SendManualDuplexCmd() :: send MANUAL_DUPLEX_CMD Fail 0 ==  \n")},
                    [] { return SendManualDuplexCmd(PLATFORM_M); });
    expect_sequence({item(bytes("0B 04 1B D6"), "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n")},
                    [] { return SendManualDuplexCmd(PLATFORM_Z); });
    expect_sequence({item(bytes("0B 04 30 C1"), "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n")},
                    [] { return SendManualDuplexCmd(PLATFORM_C); });
    EXPECT_EQ(lseek(job().gCollateFile, 0, SEEK_END), 0);

    // Page commands, in contrast, are spooled for the copies.
    GDI_END_PAGE_PARAM end;
    run_captured([&] { return Prnt_EndPage(&end, PLATFORM_Z); });
    EXPECT_EQ(lseek(job().gCollateFile, 0, SEEK_END), 6);
    close(job().gCollateFile);
    job().gCollateFile = 0;

    EXPECT_EQ(run_captured([] { return SendManualDuplexCmd(0); }).result, 0);
}

} // namespace
