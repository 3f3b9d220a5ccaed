// SPDX-License-Identifier: GPL-2.0-or-later
// Page image transfer: the dithered page is compressed with JBIG in memory and sent
// in the platform's framing, one raster image on C, 256-line bands on Z, 64 KiB
// packages on M.
#include "image_transfer.h"

#include "bytes.h"
#include "command_send.h"
#include "frames.h"
#include "jbigCompress.h"
#include "job_context.h"
#include "output_sink.h"
#include "page_commands.h"
#include "platform.h"

// JBIG-KIT's header declares C functions without saying so.
extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

using varkon::kCached;
using varkon::send_item;

namespace {

// The page as the encoder sees it: rows padded to whole bytes, and the bytes the
// halftoner actually produced, which the encoder must never read past.
struct PageImage {
    const unsigned char *data = nullptr;
    size_t size = 0;          // whlImgW x whlImgH / 8
    size_t rowBytes = 0;      // whlImgW / 8, rounded up
    uint32_t width = 0;
    uint32_t height = 0;
};

// Copies `lines` rows starting at `firstLine` into band, zero-padding what the page lacks.
void fill_band(std::vector<unsigned char> &band, const PageImage &page, uint32_t firstLine, uint32_t lines)
{
    const size_t wanted = page.rowBytes * lines;
    const size_t offset = page.rowBytes * firstLine;
    const size_t available = offset < page.size ? std::min(wanted, page.size - offset) : 0;
    band.resize(wanted);
    std::memcpy(band.data(), page.data + offset, available);
    std::fill(band.begin() + static_cast<std::ptrdiff_t>(available), band.end(), 0);
}

// Encodes one band (or the whole page) and appends its data, with the Z band frame
// in front, to outbuf. false when the encoder failed.
bool encode_band(std::vector<unsigned char> &band, JBIG_BIH &bih, uint32_t posVert, int platform,
                 JbigCompressState &state, std::vector<unsigned char> &outbuf)
{
    state.gpCompImgData.clear();
    state.gJbigCompressDataLen = 0;
    if (!JBIGCompress(&bih, band.data(), &state))
        return false;

    varkon::job_context().gImageChecksum =
        varkon::image_checksum(state.gpCompImgData.data(), state.gJbigCompressDataLen);
    if (platform == PLATFORM_Z) {
        unsigned char frame[varkon::kBandFrameLen];
        GetJbigBandCmd(frame, &bih, static_cast<uint32_t>(state.gJbigCompressDataLen), posVert);
        outbuf.insert(outbuf.end(), frame, frame + sizeof frame);
    }
    outbuf.insert(outbuf.end(), state.gpCompImgData.begin(), state.gpCompImgData.end());
    state.gJbigCompressDataLen = 0;
    return true;
}

int encode_failure(const char *failure)
{
    varkon::prepend_last_error(failure);
    return -1;
}

int encode_page(const PageImage &page, JBIG_BIH &bih, std::vector<unsigned char> &outbuf, int platform)
{
    const uint32_t bandLines = platform == PLATFORM_Z ? varkon::kBandLines : page.height;
    std::vector<unsigned char> band;
    JbigCompressState state;
    state.gpCompImgData.reserve(page.rowBytes * bandLines / 4 + 4096);

    for (uint32_t first = 0; first < page.height; first += bandLines) {
        const uint32_t lines = std::min(bandLines, page.height - first);
        if (platform == PLATFORM_Z) {
            bih.ParamImgHeight = lines;
            bih.ParamL0 = lines;
        }
        fill_band(band, page, first, lines);
        if (!encode_band(band, bih, first, platform, state, outbuf))
            return encode_failure(state.outOfMemory ? "OutputJbigkitCompression() :: malloc Fail .  \n"
                                                    : "OutputJbigkitCompression() :: JBIGCompress Fail .  \n");
    }
    if (outbuf.size() > static_cast<size_t>(INT_MAX))
        return encode_failure("OutputJbigkitCompression() :: compressed page too large Fail .  \n");
    return static_cast<int>(outbuf.size());
}

int send_page_cz(GDI_SEND_PAGE_PARAM &param, const std::vector<unsigned char> &outbuf, int platform)
{
    if (platform == PLATFORM_Z) {
        param.cmpImgBytes = 0;
        unsigned char coverage[varkon::kCoverageZLen];
        GetCoverageCmd_Z(coverage, varkon::job_context().gImageCoverage);
        if (!send_item(coverage, sizeof coverage, kCached, "Prnt_EndPage() :: send cmdCoverage Fail 0 ==  \n"))
            return 0;
        Insert00();
    } else {
        param.cmpImgBytes = static_cast<int32_t>(outbuf.size());
    }
    unsigned char header[varkon::kRasterImageLen];
    GetRasterImageCmd(&param, header);
    if (!send_item(header, sizeof header, kCached, "Prnt_SendPage() :: send cmdRasterImage Fail .  \n"))
        return 0;
    return send_item(outbuf.data(), outbuf.size(), kCached, "Prnt_SendPage() :: Send compressed data and cmd fail.  \n");
}

int send_page_m(GDI_SEND_PAGE_PARAM &param, const JBIG_BIH &bih, const std::vector<unsigned char> &outbuf)
{
    param.cmpImgBytes = static_cast<int32_t>(outbuf.size());
    unsigned char frame[varkon::kJbigParamLen];
    SetJBIGCmdAndParam(frame, &bih, varkon::kJbigParamLen, varkon::cmd_m::JBIG_PARAM_CMD, varkon::kCmdSignature);
    if (!send_item(frame, sizeof frame, kCached, "Prnt_SendPage() :: send JBIG_PARAM_CMD Fail 0 ==  \n"))
        return 0;
    if (!varkon::send_packages_m(outbuf.data(), outbuf.size()))
        return 0;
    unsigned char end[varkon::kLongHeaderLen];
    SetCmdType(end, varkon::kLongHeaderLen, varkon::cmd_m::JBIG_END_CMD, 0, 0, varkon::kCmdSignature);
    return send_item(end, sizeof end, kCached, "Prnt_SendPage() :: send JBIG_END_CMD Fail 0 ==  \n");
}

} // namespace

int GetRasterImageCmd(const GDI_SEND_PAGE_PARAM *pSendPageParam, unsigned char *frame)
{
    const GDI_SEND_PAGE_PARAM &param = *pSendPageParam;
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kRasterImageLen;
    frame[2] = varkon::code_c::RASTER_IMAGE;
    frame[3] = param.colorPlane;
    frame[4] = param.colorDepth | param.dataPacking | param.compression;
    varkon::put_le16(frame + 5, param.whlImgW);
    varkon::put_le16(frame + 7, param.whlImgH);
    varkon::put_le16(frame + 9, param.rasImgW);
    varkon::put_le16(frame + 11, param.rasImgH & 0xFFFF);
    varkon::put_le32(frame + 13, static_cast<uint32_t>(param.cmpImgBytes));
    frame[17] = CalcChecksum(frame, 17) & 0xFF;
    return 1;
}

int SetJBIGCmdAndParam(unsigned char *frame, const JBIG_BIH *JbigBih, uint32_t cmdLen, uint32_t cmdType,
                       uint16_t cmdSignature)
{
    SetCmdType(frame, cmdLen, cmdType, 0, 0, cmdSignature);
    unsigned char *body = frame + varkon::kLongHeaderLen;
    body[0] = JbigBih->ParamDl;
    body[1] = JbigBih->ParamD;
    body[2] = JbigBih->ParamP;
    body[3] = JbigBih->ParamReserved;
    varkon::put_be32(body + 4, JbigBih->ParamImgWidth);
    varkon::put_be32(body + 8, JbigBih->ParamImgHeight);
    varkon::put_be32(body + 12, JbigBih->ParamL0);
    body[16] = JbigBih->ParamMx;
    body[17] = JbigBih->ParamMy;
    body[18] = JbigBih->ParamOrder;
    body[19] = JbigBih->ParamOption;
    return 1;
}

int GetJbigBandCmd(unsigned char *frame, const JBIG_BIH *JbigBih, uint32_t compDataSize, uint32_t posVert)
{
    constexpr uint32_t kPlane = 3;
    frame[0] = varkon::kLeadingByte;
    frame[1] = varkon::kBandFrameLen;
    frame[2] = varkon::code_z::JBIG_BAND;
    frame[3] = 0;
    frame[4] = 0;
    frame[5] = JbigBih->ParamP;
    frame[6] = 0;
    varkon::put_le32(frame + 7, JbigBih->ParamImgWidth);
    varkon::put_le32(frame + 11, JbigBih->ParamL0);
    varkon::put_le32(frame + 15, JbigBih->ParamImgHeight);
    frame[19] = JbigBih->ParamMx;
    frame[20] = JbigBih->ParamMy;
    frame[21] = JbigBih->ParamOrder;
    frame[22] = JbigBih->ParamOption;
    varkon::put_le32(frame + 23, compDataSize);
    varkon::put_le32(frame + 27, compDataSize); // no padding is applied
    varkon::put_le32(frame + 31, 0);            // posHorz
    varkon::put_le32(frame + 35, posVert);
    varkon::put_le32(frame + 39, kPlane);
    varkon::put_le32(frame + 43, 0); // bitSlicePane
    frame[47] = CalcChecksum(frame, 47) & 0xFF;
    return 1;
}

int OutputJbigkitCompression(const GDI_SEND_PAGE_PARAM *pSendPageParam, JBIG_BIH *JbigBih,
                             std::vector<unsigned char> &outbuf, int platform)
{
    outbuf.clear();
    if (pSendPageParam == nullptr || JbigBih == nullptr || pSendPageParam->sendImgBuf == nullptr ||
        pSendPageParam->whlImgW == 0 || pSendPageParam->whlImgH == 0)
        return encode_failure("OutputJbigkitCompression() :: no page image Fail .  \n");

    PageImage page;
    page.data = pSendPageParam->sendImgBuf;
    page.width = pSendPageParam->whlImgW;
    page.height = pSendPageParam->whlImgH;
    page.size = size_t{page.width} * page.height / 8;
    page.rowBytes = (size_t{page.width} + 7) / 8;
    try {
        return encode_page(page, *JbigBih, outbuf, platform);
    } catch (const std::bad_alloc &) {
        outbuf.clear();
        return encode_failure("OutputJbigkitCompression() :: malloc Fail .  \n");
    }
}

int Prnt_SendPage(PGDI_SEND_PAGE_PARAM pSendPageParam, int platform)
{
    if (pSendPageParam == nullptr || (platform != PLATFORM_C && platform != PLATFORM_Z && platform != PLATFORM_M))
        return 0;

    std::vector<unsigned char> outbuf;
    try {
        // Text pages compress to a few percent; the buffer grows for anything denser.
        outbuf.reserve(size_t{pSendPageParam->whlImgW} * pSendPageParam->whlImgH / 8 / 8 + 65536);
    } catch (const std::bad_alloc &) {
        return varkon::fail("Prnt_SendPage() :: malloc Fail .  \n");
    }

    JBIG_BIH bih = varkon::jbig_bih_for(*pSendPageParam, platform);
    const int encoded = OutputJbigkitCompression(pSendPageParam, &bih, outbuf, platform);
    return varkon::send_encoded_page(pSendPageParam, bih, encoded, outbuf, platform);
}

namespace varkon {

JBIG_BIH jbig_bih_for(const GDI_SEND_PAGE_PARAM &param, int platform)
{
    JBIG_BIH bih;
    bih.ParamP = 1;
    bih.ParamImgWidth = param.whlImgW;
    bih.ParamImgHeight = param.whlImgH;
    switch (platform) {
    case PLATFORM_Z:
        bih.ParamDl = 255;
        bih.ParamL0 = kBandLines;
        bih.ParamOrder = JBG_ILEAVE | JBG_SMID;
        bih.ParamOption = JBG_LRLTWO | JBG_TPDON | JBG_TPBON;
        break;
    case PLATFORM_C:
        bih.ParamL0 = param.rasImgH;
        bih.ParamMx = 8;
        bih.ParamOption = JBG_TPBON;
        break;
    default:
        bih.ParamL0 = kBandLines;
        bih.ParamOrder = JBG_ILEAVE | JBG_SMID;
        bih.ParamOption = JBG_LRLTWO | JBG_TPDON | JBG_TPBON | JBG_DPON;
        break;
    }
    return bih;
}

uint32_t image_checksum(const unsigned char *data, size_t len)
{
    uint32_t sum = byte_sum(UEL_CMD_C);
    for (size_t i = 0; i < len; ++i)
        sum += data[i];
    return sum % 256;
}

int send_encoded_page(PGDI_SEND_PAGE_PARAM pSendPageParam, const JBIG_BIH &bih, int encoded,
                      const std::vector<unsigned char> &outbuf, int platform)
{
    if (pSendPageParam == nullptr || (platform != PLATFORM_C && platform != PLATFORM_Z && platform != PLATFORM_M))
        return 0;
    if (encoded < 0)
        return fail("Prnt_SendPage() :: compress page Fail .  \n");
    if (platform == PLATFORM_M)
        return send_page_m(*pSendPageParam, bih, outbuf);
    return send_page_cz(*pSendPageParam, outbuf, platform);
}

int send_packages_m(const unsigned char *data, size_t size)
{
    for (size_t offset = 0; offset < size; offset += kPackageSize) {
        const size_t payload = std::min(kPackageSize, size - offset);
        unsigned char header[kLongHeaderLen];
        SetCmdType(header, static_cast<uint32_t>(kLongHeaderLen + payload), cmd_m::JBIG_DATA_CMD, 0, 0,
                   kCmdSignature);
        if (!send_item(header, sizeof header, kCached, "Prnt_SendPage() :: send JBIG_DATA_CMD Fail 0 ==  \n") ||
            !send_item(data + offset, payload, kCached, "Prnt_SendPage() :: Send compressed data and cmd fail.  \n"))
            return 0;
    }
    return 1;
}

} // namespace varkon
