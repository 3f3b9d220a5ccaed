// Ordered halftoning of the gray page into the packed image that the JBIG encoder
// takes, with negative printing and the page's dot count for the toner frames.
// This plain loop is the reference for any faster variant: keep it readable.
#include "dither.h"

#include "halftone_tables.h"
#include "platform.h"
#include "prnt.h"

#include <algorithm>

namespace {

// A square threshold matrix and how it is stepped through.
struct Screen {
    const uint8_t *cells = nullptr;
    uint32_t size = 16;
    // The 16 x 16 screens repeat every 16 pixels of the whole pixel stream; the 28 x 28
    // screen restarts its column at each line. Page widths are multiples of 32, not of
    // 28, so a running column would shift the 28-wide tile from line to line and break
    // its screen angle; restarting keeps it a clean tile, every index inside 0..27.
    bool columnRestartsEachLine = false;

    uint8_t at(uint32_t row, uint32_t column) const { return cells[row * size + column]; }
};

Screen screen_for(int32_t platform, int32_t b1200dpi)
{
    if (platform == PLATFORM_C && b1200dpi != 0)
        return {&HT_TABLE_1200_C[0][0], 28, true};
    if (platform == PLATFORM_Z && b1200dpi != 0)
        return {&HT_TABLE_1200_Z[0][0], 16, false};
    return {&HT_TABLE_600[0][0], 16, false};
}

struct DitherJob {
    const unsigned char *src;
    uint32_t width;
    uint32_t height;
    unsigned char *target;
    uint32_t realWidth;
    bool negative;
    int32_t platform;
    Screen screen;
};

uint32_t dither_one_bit(const DitherJob &job)
{
    // On M the negative print inverts the comparison; on C and Z whole bytes of the
    // page content are complemented, so the white padding stays blank.
    const bool invertCompare = job.negative && job.platform == PLATFORM_M;
    const bool complementBytes = job.negative && job.platform != PLATFORM_M;
    unsigned char *out = job.target;
    unsigned acc = 0;
    unsigned count = 0;
    uint32_t column = 0;
    uint32_t coverage = 0;

    for (uint32_t line = 0; line < job.height; ++line) {
        const unsigned char *gray = job.src + size_t{line} * job.width;
        const uint32_t row = line % job.screen.size;
        if (job.screen.columnRestartsEachLine)
            column = 0;
        for (uint32_t x = 0; x < job.width; ++x) {
            ++count;
            const uint8_t t = job.screen.at(row, column);
            const unsigned bit = invertCompare ? (gray[x] >= t) : (gray[x] < t);
            acc |= bit;
            const bool inNegativeRegion = complementBytes && x < job.realWidth;
            coverage += inNegativeRegion ? 1 - bit : bit;
            if (count == 8) {
                *out++ = static_cast<unsigned char>(inNegativeRegion ? ~acc : acc);
                acc = 0;
                count = 0;
            } else {
                acc <<= 1;
            }
            column = column + 1 == job.screen.size ? 0 : column + 1;
        }
    }
    if (count != 0)
        *out = static_cast<unsigned char>(acc);
    return coverage;
}

uint32_t dither_two_bit(const DitherJob &job)
{
    unsigned char *out = job.target;
    unsigned acc = 0;
    unsigned count = 0;
    uint32_t column = 0;
    uint32_t coverage = 0;

    for (uint32_t line = 0; line < job.height; ++line) {
        const unsigned char *gray = job.src + size_t{line} * job.width;
        const uint32_t row = line % job.screen.size;
        for (uint32_t x = 0; x < job.width; ++x) {
            ++count;
            const int t = job.screen.at(row, column);
            const int g = gray[x];
            // Black is always the darkest level, whatever the threshold.
            const int code = g == 0 ? 255 : std::max(0, 255 - g - t);
            unsigned level = HT_TABLE_2BIG[static_cast<size_t>(code)];
            if (job.negative)
                level = 3 - level;
            acc |= level;
            coverage += level != 0;
            if (count == 4) {
                *out++ = static_cast<unsigned char>(acc);
                acc = 0;
                count = 0;
            } else {
                acc <<= 2;
            }
            column = column + 1 == job.screen.size ? 0 : column + 1;
        }
    }
    if (count != 0)
        *out = static_cast<unsigned char>(acc);
    return coverage;
}

} // namespace

int HalftoneDither(const unsigned char *pSrcImgData, uint32_t srcImgWbytes, uint32_t srcImgHpixels,
                   unsigned char *pTarImgData, uint32_t realImgWByte, int32_t bNegative, int32_t b1200dpi,
                   int32_t platform)
{
    if (pSrcImgData == nullptr || pTarImgData == nullptr || platform == PLATFORM_NONE)
        return 0;
    if (srcImgHpixels == 0)
        return 1;

    const DitherJob job{pSrcImgData,  srcImgWbytes,  srcImgHpixels, pTarImgData,
                        realImgWByte, bNegative != 0, platform,      screen_for(platform, b1200dpi)};
    const bool twoBit = platform == PLATFORM_M && b1200dpi == 1;
    gImageCoverage += twoBit ? dither_two_bit(job) : dither_one_bit(job);
    return 1;
}
