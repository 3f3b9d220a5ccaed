// SPDX-License-Identifier: GPL-2.0-or-later
// Page start and end on the three platforms, the duplex commands, and the coverage
// counts that the C and Z printers use to track toner.
#include "page_commands.h"

#include "bytes.h"
#include "command_send.h"
#include "frames.h"
#include "job_context.h"
#include "output_sink.h"
#include "platform.h"

using varkon::kCached;
using varkon::kDevice;
using varkon::send_item;

namespace {

// The paper number that asks the printer for the custom size given in the custom paper frame.
uint16_t custom_paper_number(int platform) { return platform == PLATFORM_C ? 255 : 0; }

int start_page_m(const GDI_START_PAGE_PARAM &param)
{
    varkon::PageParamM params[varkon::kMaxPageParamsM];
    const size_t count = varkon::start_page_params_m(param, params);

    unsigned char header[varkon::kLongHeaderLen];
    const uint32_t paramsLen = static_cast<uint32_t>(count * varkon::kLongParamLen);
    SetCmdType(header, varkon::kLongHeaderLen + paramsLen, varkon::cmd_m::START_PAGE_CMD,
               static_cast<uint32_t>(count), static_cast<uint16_t>(paramsLen), varkon::kCmdSignature);
    if (!send_item(header, sizeof header, kCached, "Prnt_StartPage() :: send START_PAGE_CMD Fail 0 ==  \n"))
        return 0;
    for (size_t i = 0; i < count; ++i) {
        unsigned char entry[varkon::kLongParamLen];
        SetCmdParam(entry, params[i].paramCmd, varkon::kParamType, params[i].value);
        if (!send_item(entry, sizeof entry, kCached, params[i].failure))
            return 0;
    }
    return 1;
}

int start_page_cz(const GDI_START_PAGE_PARAM &param, int platform)
{
    varkon::job_context().gImageCoverage = 0;
    unsigned char frame[varkon::kPageSpecLen];
    Insert00();
    GetPageSpecCmd(&param, frame, platform);
    if (!send_item(frame, varkon::kPageSpecLen, kCached, "Prnt_StartPage() :: send cmdPageSpec Fail 0 ==  \n"))
        return 0;
    Insert00();
    GetCustomPaperCmd(&param, frame, platform);
    if (!send_item(frame, varkon::kCustomPaperLen, kCached, "Prnt_StartPage() :: send cmdCustomPaper Fail 0 ==  \n"))
        return 0;
    Insert00();
    if (platform == PLATFORM_C) {
        if (!send_item(hostUseCmd, kCached, "Prnt_StartPage() :: send hostUseCmd Fail 0 ==  \n"))
            return 0;
        Insert00();
    }
    return 1;
}

int end_page_c(GDI_END_PAGE_PARAM &param)
{
    if (!send_item(UEL_CMD_C, kCached, "Prnt_EndPage() :: send UEL_CMD_C Fail 0 ==  \n"))
        return 0;
    unsigned char frame[varkon::kCoverageZLen];
    Insert00();
    GetImageDataChenksumCmd(frame, varkon::job_context().gImageChecksum);
    if (!send_item(frame, varkon::kImageChecksumLen, kCached,
                   "Prnt_EndPage() :: send cmdImageDataChenksum Fail 0 ==  \n"))
        return 0;
    Insert00();
    GetCoverageCmd_C(&param, frame, varkon::job_context().gImageCoverage);
    if (!send_item(frame, varkon::kCoverageCLen, kCached, "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"))
        return 0;
    Insert00();
    if (!send_item(formFeedCmd, kCached, "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n"))
        return 0;
    if (param.bMachDup == 1 && !SendMachineDuplexCmd(param.page, 1))
        return varkon::fail("Prnt_EndPage() :: MachineDuplexCmd Fail .\n");
    return 1;
}

int end_page_m()
{
    unsigned char header[varkon::kLongHeaderLen];
    SetCmdType(header, varkon::kLongHeaderLen, varkon::cmd_m::END_PAGE_CMD, 0, 0, varkon::kCmdSignature);
    return send_item(header, sizeof header, kCached, "Prnt_EndPage() :: send END_PAGE_CMD Fail 0 ==  \n");
}

} // namespace

int GetPageSpecCmd(const GDI_START_PAGE_PARAM *pStartPageParam, unsigned char *frame, int platform)
{
    const GDI_START_PAGE_PARAM &param = *pStartPageParam;
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kPageSpecLen;
    frame[2] = varkon::code_c::PAGE_SPEC;
    frame[3] = param.paperSize & 0xFF;
    frame[4] = param.mediaType & 0xFF;
    frame[5] = param.resolutionX & 0xFF;
    frame[6] = param.resolutionY & 0xFF;
    frame[7] = param.tray & 0xFF;
    // Only the C printers take feed edge, colour mode and margin unit; Z wants 0 here.
    frame[8] = platform == PLATFORM_C ? ((param.feedEdge | param.colorMode | param.marginUnit) & 0xFF) : 0;
    varkon::put_le16(frame + 9, param.copies);
    varkon::put_le16(frame + 11, param.marginX);
    varkon::put_le16(frame + 13, param.marginY);
    varkon::put_le16(frame + 15, param.pageNum);
    frame[17] = CalcChecksum(frame, 17) & 0xFF;
    return 1;
}

int GetCustomPaperCmd(const GDI_START_PAGE_PARAM *pStartPageParam, unsigned char *frame, int platform)
{
    const GDI_START_PAGE_PARAM &param = *pStartPageParam;
    const bool custom = param.paperSize == custom_paper_number(platform);
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kCustomPaperLen;
    frame[2] = varkon::code_c::CUSTOM_PAPER;
    varkon::put_le16(frame + 3, custom ? param.userPhyPgW : 0);
    varkon::put_le16(frame + 5, custom ? param.userPhyPgH : 0);
    varkon::put_le16(frame + 7, custom ? param.userPrntAreaW : 0);
    varkon::put_le16(frame + 9, custom ? param.userPrntAreaH : 0);
    frame[11] = CalcChecksum(frame, 11) & 0xFF;
    return 1;
}

int GetImageDataChenksumCmd(unsigned char *frame, uint32_t imageChecksum)
{
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kImageChecksumLen;
    frame[2] = varkon::code_c::IMAGE_DATA_CHECKSUM;
    varkon::put_le16(frame + 3, imageChecksum);
    frame[5] = CalcChecksum(frame, 5) & 0xFF;
    return 1;
}

int GetCoverageCmd_C(PGDI_END_PAGE_PARAM pEndPageParam, unsigned char *frame, uint32_t imageCoverage)
{
    const int32_t count = varkon::coverage_count_c(imageCoverage, pEndPageParam->resolutionE,
                                                   pEndPageParam->densityE, pEndPageParam->paperWidthE);
    const uint16_t printedPoints = static_cast<uint16_t>(count & 0xFFFF);
    pEndPageParam->dotCnt = printedPoints;
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kCoverageCLen;
    frame[2] = varkon::code_c::COVERAGE;
    varkon::put_le16(frame + 3, printedPoints);
    frame[5] = CalcChecksum(frame, 5) & 0xFF;
    return 1;
}

int GetCoverageCmd_Z(unsigned char *frame, uint32_t imageCoverage)
{
    const uint32_t n = (imageCoverage / 1000) & 0xFFFF;
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kCoverageZLen;
    frame[2] = varkon::code_z::COVERAGE;
    frame[3] = n & 0x3F;
    frame[4] = (n >> 6) & 0x3F;
    frame[5] = (n >> 12) & 0x0F;
    frame[6] = CalcChecksum(frame, 6) & 0xFF;
    return 1;
}

int Prnt_StartPage(PGDI_START_PAGE_PARAM pStartPageParam, int platform)
{
    if (pStartPageParam == nullptr)
        return 0;
    switch (platform) {
    case PLATFORM_C:
    case PLATFORM_Z:
        return start_page_cz(*pStartPageParam, platform);
    case PLATFORM_M:
        return start_page_m(*pStartPageParam);
    default:
        return 0;
    }
}

int Prnt_EndPage(PGDI_END_PAGE_PARAM pEndPageParam, int platform)
{
    switch (platform) {
    case PLATFORM_C:
        return pEndPageParam != nullptr ? end_page_c(*pEndPageParam) : 0;
    case PLATFORM_Z:
        Insert00();
        return send_item(formFeedCmd, kCached, "Prnt_EndPage() :: send formFeedCmd Fail 0 ==  \n");
    case PLATFORM_M:
        return end_page_m();
    default:
        return 0;
    }
}

int SendMachineDuplexCmd(int pageNum, int bEndDoc)
{
    const bool odd = pageNum % 2 != 0;
    const bool due = bEndDoc != 0 ? odd : !odd;
    if (!due)
        return 1;
    Insert00();
    return send_item(machineDuplexCmd, kCached, "SendMachineDuplexCmd() :: send machineDuplexCmd Fail 0 ==  \n");
}

int SendManualDuplexCmd(int platform)
{
    switch (platform) {
    case PLATFORM_M: {
        unsigned char header[varkon::kLongHeaderLen];
        SetCmdType(header, varkon::kLongHeaderLen, varkon::cmd_m::MANUAL_DUPLEX_CMD, 0, 0, varkon::kCmdSignature);
        return send_item(header, sizeof header, kDevice,
                         "SendManualDuplexCmd() :: send MANUAL_DUPLEX_CMD Fail 0 ==  \n");
    }
    case PLATFORM_Z:
        return send_item(manualDuplexCmd_Z, kDevice, "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n");
    case PLATFORM_C:
        return send_item(manualDuplexCmd_C, kDevice, "Prnt_EndPage() :: send manualDuplexCmd Fail 0 ==  \n");
    default:
        return 0;
    }
}

namespace varkon {

int32_t coverage_count_c(uint32_t imageCoverage, int32_t resolutionE, int32_t densityE, int32_t paperWidthE)
{
    // The printers' toner model was fitted with single-precision coefficients and an
    // extended-precision product: 0.7f makes 1 000 000 dots at 1200 dpi on narrow paper 349, not 350.
    const float resolution = resolutionE == 1200 ? 0.25f : 1.0f;
    float density = 1.0f;
    if (densityE == 0 || densityE == 1)
        density = 0.7f;
    else if (densityE == 3 || densityE == 4)
        density = 1.2f;
    float width = 1.0f;
    if (paperWidthE >= 126 && paperWidthE <= 174)
        width = 1.5f;
    else if (paperWidthE < 125)
        width = 2.0f;
    const long double v = static_cast<long double>(imageCoverage) * resolution * density * width / 1000;
    return static_cast<int32_t>(v);
}

size_t start_page_params_m(const GDI_START_PAGE_PARAM &param, PageParamM (&params)[kMaxPageParamsM])
{
    const uint32_t bpp = param.iIs2bit == 1 ? 2 : 1;
    size_t n = 0;
    auto add = [&](uint16_t code, uint32_t value, const char *failure) { params[n++] = {code, value, failure}; };

    add(param_m::PAPER_SIZE_PARAM, param.paperSize, "Prnt_StartPage() :: send PAPER_SIZE_PARAM Fail 0 ==  \n");
    if (param.paperSize == custom_paper_number(PLATFORM_M)) {
        add(param_m::CUSTOM_PAPER_UNIT_PARAM, 0, "Prnt_StartPage() :: send CUSTOM_PAPER_UNIT_PARAM Fail 0 ==  \n");
        add(param_m::CUSTOM_WIDTH_PARAM, param.userPhyPgW, "Prnt_StartPage() :: send CUSTOM_WIDTH_PARAM Fail 0 ==  \n");
        add(param_m::CUSTOM_HEIGHT_PARAM, param.userPhyPgH,
            "Prnt_StartPage() :: send CUSTOM_HEIGHT_PARAM Fail 0 ==  \n");
    }
    add(param_m::COPIES_PARAM, param.copies, "Prnt_StartPage() :: send COPIES_PARAM Fail 0 ==  \n");
    add(param_m::INPUT_TRAY_PARAM, param.tray, "Prnt_StartPage() :: send INPUT_TRAY_PARAM Fail 0 ==  \n");
    add(param_m::MEDIA_TYPE_PARAM, param.mediaType, "Prnt_StartPage() :: send MEDIA_TYPE_PARAM Fail 0 ==  \n");
    add(param_m::CHANNEL_NUM_PARAM, 1, "Prnt_StartPage() :: send CHANNEL_NUM_PARAM Fail 0 ==  \n");
    add(param_m::H_RESOLUTION_PARAM, param.resolutionX, "Prnt_StartPage() :: send H_RESOLUTION_PARAM Fail 0 ==  \n");
    add(param_m::V_RESOLUTION_PARAM, param.resolutionY, "Prnt_StartPage() :: send V_RESOLUTION_PARAM Fail 0 ==  \n");
    add(param_m::RET_PARAM, 0, "Prnt_StartPage() :: send RET_PARAM Fail 0 ==  \n");
    add(param_m::IMG_WIDTH_PARAM, param.userPrntAreaW * bpp, "Prnt_StartPage() :: send IMG_WIDTH_PARAM Fail 0 ==  \n");
    add(param_m::IMG_HEIGHT_PARAM, param.userPrntAreaH, "Prnt_StartPage() :: send IMG_HEIGHT_PARAM Fail 0 ==  \n");
    add(param_m::VIDEO_DEPTH_PARAM, bpp, "Prnt_StartPage() :: send VIDEO_DEPTH_PARAM Fail 0 ==  \n");
    add(param_m::VIDEO_WIDTH_PARAM, param.userPrntAreaW, "Prnt_StartPage() :: send VIDEO_WIDTH_PARAM Fail 0 ==  \n");
    add(param_m::VIDEO_HEIGHT_PARAM, param.userPrntAreaH,
        "Prnt_StartPage() :: send VIDEO_HEIGHT_PARAM Fail 0 ==  \n");
    add(param_m::DENSITY_PARAM, param.densityLevel, "Prnt_StartPage() :: send DENSITY_PARAM Fail 0 ==  \n");
    return n;
}

} // namespace varkon
