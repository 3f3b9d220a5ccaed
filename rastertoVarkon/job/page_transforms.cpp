// SPDX-License-Identifier: GPL-2.0-or-later
// Turning the gray page so that both sides of a duplex sheet read the same way up
// and A5 can be fed by its long edge, and the empty side that completes an odd job.
#include "page_transforms.h"

#include "job_context.h"
#include "output_sink.h"
#include "platform.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kTile = 64;
constexpr uint16_t kLongEdgeFeed = 0x40;

// The image's byte count, or 0 when an argument is absent or the size does not fit memory.
size_t image_bytes(const unsigned char *imgBuf, uint32_t widthBytes, uint32_t heightPixels)
{
    size_t bytes = 0;
    if (imgBuf == nullptr || widthBytes == 0 || heightPixels == 0 ||
        __builtin_mul_overflow(size_t{widthBytes}, size_t{heightPixels}, &bytes) ||
        bytes > static_cast<size_t>(PTRDIFF_MAX))
        return 0;
    return bytes;
}

void report_blank_page_failure(const char *text)
{
    varkon::prepend_last_error(text);
    varkon::job_log(varkon::job_context().prntLastError);
}

} // namespace

int Rotate180(unsigned char *imgBuf, uint32_t widthBytes, uint32_t heightPixels)
{
    const size_t bytes = image_bytes(imgBuf, widthBytes, heightPixels);
    if (bytes == 0)
        return 0;
    // Reversing the whole buffer reverses the rows and each row at once, in place.
    std::reverse(imgBuf, imgBuf + bytes);
    return 1;
}

int Rotate90(unsigned char *imgBuf, uint32_t widthBytes, uint32_t heightPixels)
{
    const size_t bytes = image_bytes(imgBuf, widthBytes, heightPixels);
    if (bytes == 0)
        return 0;
    std::vector<unsigned char> turned;
    try {
        turned.resize(bytes);
    } catch (const std::bad_alloc &) {
        varkon::prepend_last_error("Rotate90() :: malloc memory Fail. \n");
        return 0;
    }

    const size_t W = widthBytes;
    const size_t H = heightPixels;
    // Output row c is input column c read bottom-up; tiles keep both sides in cache.
    for (size_t c0 = 0; c0 < W; c0 += kTile) {
        const size_t cEnd = std::min(W, c0 + kTile);
        for (size_t x0 = 0; x0 < H; x0 += kTile) {
            const size_t xEnd = std::min(H, x0 + kTile);
            for (size_t c = c0; c < cEnd; ++c)
                for (size_t x = x0; x < xEnd; ++x)
                    turned[c * H + x] = imgBuf[(H - 1 - x) * W + c];
        }
    }
    std::copy(turned.begin(), turned.end(), imgBuf);
    return 1;
}

void InsertBlankPage(cups_page_header2_t header, PGDI_START_PAGE_PARAM pStartPageParam, int platform)
{
    if (pStartPageParam == nullptr)
        return;
    GDI_START_PAGE_PARAM &startPage = *pStartPageParam;
    // The record already holds the printable area of a turned page: the image sent
    // must have the same size as the area just announced.
    const uint32_t W = startPage.userPrntAreaW;
    const uint32_t H = startPage.userPrntAreaH;
    const bool twoBit = startPage.iIs2bit == 1;
    startPage.pageNum = static_cast<uint16_t>(varkon::job_context().g_page + 1);

    if (!Prnt_StartPage(&startPage, platform))
        report_blank_page_failure("InsertBlankPage() :: Start page Fail ! \n");

    std::vector<unsigned char> blank;
    try {
        blank.assign(size_t{W} * H / 8 * (twoBit ? 2 : 1), 0);
    } catch (const std::bad_alloc &) {
        report_blank_page_failure("InsertBlankPage() :: malloc Fail ! \n");
        return;
    }

    GDI_SEND_PAGE_PARAM sendPage;
    sendPage.whlImgW = static_cast<uint16_t>(twoBit ? 2 * W : W);
    sendPage.whlImgH = static_cast<uint16_t>(H);
    sendPage.sendImgBuf = blank.data();
    if (platform == PLATFORM_C) {
        sendPage.rasImgW = static_cast<uint16_t>(W);
        sendPage.rasImgH = header.HWResolution[0] == 600 ? 768 : 384;
        sendPage.cmpImgBytes = 853;
    }
    if (!Prnt_SendPage(&sendPage, platform))
        report_blank_page_failure("InsertBlankPage() :: Send page Fail!\n");

    GDI_END_PAGE_PARAM endPage;
    endPage.page = varkon::job_context().g_page + 1;
    if (!Prnt_EndPage(&endPage, platform))
        report_blank_page_failure("InsertBlankPage() :: End page Fail ! \n");
    varkon::mark_spool_page_end();
}

namespace varkon {

int half_turn_needed(const PRINT_FUNC_INFO *features, int page, int platform, int mDuplexType, unsigned feedEdge)
{
    const bool turnedByOption = features[IMAGEROTATION].value == 1;
    const bool even = page % 2 == 0;
    switch (features[AUTODUPLEX].value) {
    case 1: // long edge: the back sides are upside down relative to the fronts
        return (turnedByOption ? !even : even) ? 1 : 0;
    case 2: // short edge: the printer turns the sheet the other way, so fronts and backs agree
        return turnedByOption ? 1 : 0;
    default:
        break;
    }
    // Manual duplex: the even sides come back turned when the user flips the stack,
    // depending on how the paper is fed.
    const unsigned flipFeed = (platform == PLATFORM_Z && mDuplexType == 0) ? 0 : kLongEdgeFeed;
    const bool flipped = features[MANUALDUPLEX].value == 1 && feedEdge == flipFeed && even;
    return (flipped ? !turnedByOption : turnedByOption) ? 1 : 0;
}

} // namespace varkon
