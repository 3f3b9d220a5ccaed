// SPDX-License-Identifier: GPL-2.0-or-later
// Ordered halftoning of the gray page into the packed image that the JBIG encoder
// takes, with negative printing and the page's dot count for the toner frames.
// The plain loop (halftone_dither_reference) defines the printed bits; the line
// kernel below produces the same bits sixteen pixels at a time, and is what runs.
#include "dither.h"

#include "halftone_tables.h"
#include "job_context.h"
#include "platform.h"
#include "prnt.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

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

bool two_bit_mode(int32_t platform, int32_t b1200dpi) { return platform == PLATFORM_M && b1200dpi == 1; }

// ---------------------------------------------------------------------------
// The reference loop: one pixel at a time, exactly as the printers expect it.

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

// ---------------------------------------------------------------------------
// The line kernel. Sixteen pixels are compared with sixteen thresholds at once;
// GCC and Clang map these vectors to SSE2 on x86-64, NEON on ARM, and plain code
// where there is no vector unit, so no build needs a particular instruction set.

typedef uint8_t U8x16 __attribute__((vector_size(16)));
constexpr uint32_t kLanes = 16;

// Screen rows widened so that the sixteen thresholds of any column phase are one
// unaligned load: a 16-wide row is stored twice, the 28-wide row of C at 1200 dpi
// four times (112 pixels, the first whole number of both 16 and 28) plus a spare.
constexpr uint32_t kWide16 = 32;
constexpr uint32_t kPeriod28 = 112;
constexpr uint32_t kWide28 = 128;
constexpr uint32_t kMaxPeriodVectors = kPeriod28 / kLanes;

template <size_t N, size_t Wide>
constexpr std::array<uint8_t, N * Wide> widen(const uint8_t (&matrix)[N][N])
{
    std::array<uint8_t, N * Wide> rows{};
    for (size_t r = 0; r < N; ++r)
        for (size_t i = 0; i < Wide; ++i)
            rows[r * Wide + i] = matrix[r][i % N];
    return rows;
}

constexpr auto kWide600 = widen<16, kWide16>(HT_TABLE_600);
constexpr auto kWide1200Z = widen<16, kWide16>(HT_TABLE_1200_Z);
constexpr auto kWide1200C = widen<28, kWide28>(HT_TABLE_1200_C);
static_assert(kPeriod28 % 28 == 0 && kPeriod28 % kLanes == 0 && kWide28 >= kPeriod28 + kLanes - 1,
              "every 16-pixel load of the widened 28 x 28 rows stays inside a row");

// The level rule of the two-bit mode as three comparisons, checked against the table.
constexpr bool two_bit_rule_matches_table()
{
    for (unsigned code = 0; code < 256; ++code)
        if (HT_TABLE_2BIG[code] != (code > 0) + (code >= 24) + (code >= 64))
            return false;
    return true;
}
static_assert(two_bit_rule_matches_table(), "the vector level rule is the level table");

inline U8x16 load16(const unsigned char *p)
{
    U8x16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t little_endian(uint64_t v)
{
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_bswap64(v);
#else
    return v;
#endif
}

inline uint32_t little_endian(uint32_t v)
{
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_bswap32(v);
#else
    return v;
#endif
}

// Eight comparison results (bytes 0 or 0xFF, first pixel first in memory) as one
// byte with the first pixel in the top bit: the multiplication gathers bit 0 of
// byte i into bit 7 - i of the top byte without carries.
inline uint8_t pack_eight(uint64_t mask)
{
    return static_cast<uint8_t>(((little_endian(mask) & 0x0101010101010101u) * 0x8040201008040201u) >> 56);
}

inline void pack_sixteen(const U8x16 &mask, unsigned char *out)
{
    uint64_t half[2];
    std::memcpy(half, &mask, sizeof half);
    out[0] = pack_eight(half[0]);
    out[1] = pack_eight(half[1]);
}

// Four two-bit levels (one per byte, first pixel first) as one byte, first pixel in the top two bits.
inline uint8_t pack_four_levels(uint32_t levels)
{
    return static_cast<uint8_t>((uint64_t{little_endian(levels)} * 0x40100401u) >> 24);
}

inline void pack_sixteen_levels(const U8x16 &levels, unsigned char *out)
{
    uint32_t quarter[4];
    std::memcpy(quarter, &levels, sizeof quarter);
    for (int i = 0; i < 4; ++i)
        out[i] = pack_four_levels(quarter[i]);
}

inline U8x16 bit_mask(const U8x16 &gray, const U8x16 &threshold, bool invertCompare)
{
    return invertCompare ? reinterpret_cast<U8x16>(gray >= threshold) : reinterpret_cast<U8x16>(gray < threshold);
}

inline U8x16 two_bit_levels(const U8x16 &gray, const U8x16 &threshold, bool negative)
{
    const U8x16 inverse = ~gray; // 255 - gray
    // 255 - gray - threshold, raised to 0; black is always code 255.
    U8x16 code = (inverse - threshold) & reinterpret_cast<U8x16>(inverse >= threshold);
    code |= reinterpret_cast<U8x16>(gray == 0);
    U8x16 level = (reinterpret_cast<U8x16>(code > 0) & 1) + (reinterpret_cast<U8x16>(code >= 24) & 1) +
                  (reinterpret_cast<U8x16>(code >= 64) & 1);
    if (negative)
        level = 3 - level;
    return level;
}

inline uint32_t ones(uint64_t v)
{
    v = v - ((v >> 1) & 0x5555555555555555u);
    v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<uint32_t>((v * 0x0101010101010101u) >> 56);
}

uint32_t count_ones(const unsigned char *bytes, size_t n)
{
    uint32_t total = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        total += ones(word);
    }
    for (; i < n; ++i)
        total += ones(bytes[i]);
    return total;
}

// Set bits among the first `bits` bits of a packed stream.
uint32_t count_leading_ones(const unsigned char *bytes, uint32_t bits)
{
    uint32_t total = count_ones(bytes, bits / 8);
    if (bits % 8 != 0)
        total += ones(bytes[bits / 8] & (0xFFu << (8 - bits % 8)) & 0xFFu);
    return total;
}

// The sixteen thresholds of each vector of the line, in the order the vectors meet them.
struct LineThresholds {
    U8x16 vectors[kMaxPeriodVectors];
    uint32_t count = 1;
};

LineThresholds thresholds_for_line(const varkon::LineDither &s, uint32_t line)
{
    LineThresholds t;
    const uint8_t *row = s.pattern + size_t{line % s.screenSize} * s.patternStride;
    const uint32_t phase =
        s.columnRestartsEachLine ? 0 : static_cast<uint32_t>(uint64_t{line} * s.width % s.screenSize);
    t.count = s.period / kLanes;
    for (uint32_t v = 0; v < t.count; ++v)
        t.vectors[v] = load16(row + (phase + v * kLanes) % s.period);
    return t;
}

// Packs the line's bits (or levels) from the first bit of `out`, without the
// negative complement of C and Z. Bits past the line's end are 0. Writes
// ceil(width * bits per pixel / 8) bytes; reads exactly `width` gray bytes.
void pack_line(const varkon::LineDither &s, const unsigned char *gray, uint32_t line, unsigned char *out)
{
    const LineThresholds t = thresholds_for_line(s, line);
    const uint32_t outPerVector = s.twoBit ? 4 : 2;
    uint32_t x = 0, v = 0;
    for (; x + kLanes <= s.width; x += kLanes, out += outPerVector) {
        const U8x16 g = load16(gray + x);
        if (s.twoBit)
            pack_sixteen_levels(two_bit_levels(g, t.vectors[v], s.negativeLevels), out);
        else
            pack_sixteen(bit_mask(g, t.vectors[v], s.invertCompare), out);
        v = v + 1 == t.count ? 0 : v + 1;
    }
    if (x == s.width)
        return;
    // The last, partial vector: white beyond the line, its bits cut off below.
    const uint32_t rest = s.width - x;
    unsigned char padded[kLanes];
    std::memset(padded, 255, sizeof padded);
    std::memcpy(padded, gray + x, rest);
    unsigned char packed[4] = {};
    if (s.twoBit)
        pack_sixteen_levels(two_bit_levels(load16(padded), t.vectors[v], s.negativeLevels), packed);
    else
        pack_sixteen(bit_mask(load16(padded), t.vectors[v], s.invertCompare), packed);
    const uint32_t bits = rest * (s.twoBit ? 2 : 1);
    for (uint32_t i = 0; i < (bits + 7) / 8; ++i) {
        const uint32_t kept = std::min(8u, bits - 8 * i);
        out[i] = static_cast<unsigned char>(packed[i] & (0xFFu << (8 - kept)));
    }
}

// Coverage of a packed line: inked dots, counting the negative region of C and Z
// as it will be after its bytes are complemented.
uint32_t line_coverage(const varkon::LineDither &s, const unsigned char *packed)
{
    const uint32_t bits = s.width * (s.twoBit ? 2 : 1);
    if (s.twoBit) {
        // A level is inked when either of its two bits is set.
        uint32_t nonZero = 0;
        uint32_t i = 0;
        for (; i + 8 <= bits / 8; i += 8) {
            uint64_t word;
            std::memcpy(&word, packed + i, sizeof word);
            nonZero += ones((word | word >> 1) & 0x5555555555555555u);
        }
        for (; i < (bits + 7) / 8; ++i)
            nonZero += ones((packed[i] | packed[i] >> 1) & 0x55u);
        return nonZero;
    }
    const uint32_t all = count_ones(packed, (bits + 7) / 8);
    if (!s.complementBytes)
        return all;
    const uint32_t inReal = count_leading_ones(packed, s.realWidth);
    return (s.realWidth - inReal) + (all - inReal);
}

// Lines that do not start on a byte: each line is packed on its own and merged
// into the running bit stream, and complemented bytes are those completed inside
// the real columns of a line, as in the reference loop.
uint32_t dither_unaligned(const varkon::LineDither &s, const unsigned char *src, uint32_t height,
                          unsigned char *target, std::vector<unsigned char> &lineBits)
{
    const uint32_t bitsPerPixel = s.twoBit ? 2 : 1;
    const uint64_t lineBitCount = uint64_t{s.width} * bitsPerPixel;
    const uint64_t totalBits = lineBitCount * height;
    const uint64_t targetBytes = (totalBits + 7) / 8;
    const size_t packedBytes = static_cast<size_t>((lineBitCount + 7) / 8);
    uint32_t coverage = 0;
    for (uint32_t line = 0; line < height; ++line) {
        pack_line(s, src + size_t{line} * s.width, line, lineBits.data());
        coverage += line_coverage(s, lineBits.data());
        const uint64_t startBit = lineBitCount * line;
        const uint64_t first = startBit / 8;
        const unsigned shift = static_cast<unsigned>(startBit % 8);
        for (size_t k = 0; k < packedBytes; ++k) {
            target[first + k] |= static_cast<unsigned char>(lineBits[k] >> shift);
            if (shift != 0 && first + k + 1 < targetBytes)
                target[first + k + 1] |= static_cast<unsigned char>(lineBits[k] << (8 - shift));
        }
        if (s.complementBytes)
            for (uint64_t j = startBit / 8; j < (startBit + s.realWidth) / 8; ++j)
                target[j] = static_cast<unsigned char>(~target[j]);
    }
    // The reference leaves a last, partial byte as its shifts made it: not aligned to the top.
    const unsigned partialBits = static_cast<unsigned>(totalBits % 8);
    if (partialBits != 0)
        target[targetBytes - 1] = static_cast<unsigned char>(target[targetBytes - 1] >> (8 - partialBits - bitsPerPixel));
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

    const varkon::LineDither setup = varkon::line_dither_for(srcImgWbytes, realImgWByte, bNegative, b1200dpi, platform);
    uint32_t coverage = 0;
    if (varkon::lines_start_on_bytes(setup)) {
        const uint32_t bytes = varkon::line_bytes(setup);
        for (uint32_t line = 0; line < srcImgHpixels; ++line)
            coverage += varkon::dither_line(setup, pSrcImgData + size_t{line} * srcImgWbytes, line,
                                            pTarImgData + size_t{line} * bytes);
    } else {
        std::vector<unsigned char> lineBits;
        try {
            lineBits.resize((size_t{srcImgWbytes} * 2 + 7) / 8);
        } catch (const std::bad_alloc &) {
            return varkon::halftone_dither_reference(pSrcImgData, srcImgWbytes, srcImgHpixels, pTarImgData,
                                                     realImgWByte, bNegative, b1200dpi, platform);
        }
        coverage = dither_unaligned(setup, pSrcImgData, srcImgHpixels, pTarImgData, lineBits);
    }
    varkon::job_context().gImageCoverage += coverage;
    return 1;
}

namespace varkon {

int halftone_dither_reference(const unsigned char *pSrcImgData, uint32_t srcImgWbytes, uint32_t srcImgHpixels,
                              unsigned char *pTarImgData, uint32_t realImgWByte, int32_t bNegative,
                              int32_t b1200dpi, int32_t platform)
{
    if (pSrcImgData == nullptr || pTarImgData == nullptr || platform == PLATFORM_NONE)
        return 0;
    if (srcImgHpixels == 0)
        return 1;

    const DitherJob job{pSrcImgData,  srcImgWbytes,  srcImgHpixels, pTarImgData,
                        realImgWByte, bNegative != 0, platform,      screen_for(platform, b1200dpi)};
    varkon::job_context().gImageCoverage +=
        two_bit_mode(platform, b1200dpi) ? dither_two_bit(job) : dither_one_bit(job);
    return 1;
}

LineDither line_dither_for(uint32_t width, uint32_t realImgWByte, int32_t bNegative, int32_t b1200dpi,
                           int32_t platform)
{
    LineDither s;
    const Screen screen = screen_for(platform, b1200dpi);
    if (screen.size == 28) {
        s.pattern = kWide1200C.data();
        s.patternStride = kWide28;
        s.period = kPeriod28;
    } else {
        s.pattern = screen.cells == &HT_TABLE_1200_Z[0][0] ? kWide1200Z.data() : kWide600.data();
        s.patternStride = kWide16;
        s.period = 16;
    }
    s.screenSize = screen.size;
    s.columnRestartsEachLine = screen.columnRestartsEachLine;
    s.twoBit = two_bit_mode(platform, b1200dpi);
    const bool negative = bNegative != 0;
    s.negativeLevels = s.twoBit && negative;
    s.invertCompare = !s.twoBit && negative && platform == PLATFORM_M;
    s.complementBytes = !s.twoBit && negative && platform != PLATFORM_M;
    s.width = width;
    s.realWidth = std::min(realImgWByte, width);
    return s;
}

bool lines_start_on_bytes(const LineDither &setup) { return uint64_t{setup.width} * (setup.twoBit ? 2 : 1) % 8 == 0; }

uint32_t line_bytes(const LineDither &setup)
{
    return static_cast<uint32_t>(uint64_t{setup.width} * (setup.twoBit ? 2 : 1) / 8);
}

uint32_t dither_line(const LineDither &setup, const unsigned char *gray, uint32_t line, unsigned char *out)
{
    pack_line(setup, gray, line, out);
    const uint32_t coverage = line_coverage(setup, out);
    if (setup.complementBytes)
        for (uint32_t j = 0; j < setup.realWidth / 8; ++j)
            out[j] = static_cast<unsigned char>(~out[j]);
    return coverage;
}

} // namespace varkon
