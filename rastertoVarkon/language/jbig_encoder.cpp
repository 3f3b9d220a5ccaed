// SPDX-License-Identifier: GPL-2.0-or-later
// The JBIG encoder: the QM arithmetic coder kept in registers while a line is
// coded, white runs in white surroundings coded without per-pixel context work,
// and the stripe and header layout JBIG-KIT writes.
#include "jbig_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace varkon {

namespace {

constexpr unsigned kStates = 113;

// The probability estimation table of the QM coder: interval size of the less
// probable symbol, next state after the more and the less probable symbol; a
// next-LPS entry with 0x80 set also swaps which symbol is the more probable.
constexpr uint16_t kLsz[kStates] = {
    0x5a1d, 0x2586, 0x1114, 0x080b, 0x03d8, 0x01da, 0x00e5, 0x006f, 0x0036, 0x001a, 0x000d, 0x0006, 0x0003,
    0x0001, 0x5a7f, 0x3f25, 0x2cf2, 0x207c, 0x17b9, 0x1182, 0x0cef, 0x09a1, 0x072f, 0x055c, 0x0406, 0x0303,
    0x0240, 0x01b1, 0x0144, 0x00f5, 0x00b7, 0x008a, 0x0068, 0x004e, 0x003b, 0x002c, 0x5ae1, 0x484c, 0x3a0d,
    0x2ef1, 0x261f, 0x1f33, 0x19a8, 0x1518, 0x1177, 0x0e74, 0x0bfb, 0x09f8, 0x0861, 0x0706, 0x05cd, 0x04de,
    0x040f, 0x0363, 0x02d4, 0x025c, 0x01f8, 0x01a4, 0x0160, 0x0125, 0x00f6, 0x00cb, 0x00ab, 0x008f, 0x5b12,
    0x4d04, 0x412c, 0x37d8, 0x2fe8, 0x293c, 0x2379, 0x1edf, 0x1aa9, 0x174e, 0x1424, 0x119c, 0x0f6b, 0x0d51,
    0x0bb6, 0x0a40, 0x5832, 0x4d1c, 0x438e, 0x3bdd, 0x34ee, 0x2eae, 0x299a, 0x2516, 0x5570, 0x4ca9, 0x44d9,
    0x3e22, 0x3824, 0x32b4, 0x2e17, 0x56a8, 0x4f46, 0x47e5, 0x41cf, 0x3c3d, 0x375e, 0x5231, 0x4c0f, 0x4639,
    0x415e, 0x5627, 0x50e7, 0x4b85, 0x5597, 0x504f, 0x5a10, 0x5522, 0x59eb};
constexpr uint8_t kNextMps[kStates] = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 13, 15, 16,  17,  18,  19,  20,  21,  22, 23,
    24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 9,  37, 38, 39,  40,  41,  42,  43,  44,  45, 46,
    47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62,  63,  32,  65,  66,  67,  68, 69,
    70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 48, 81, 82, 83, 84, 85,  86,  87,  71,  89,  90,  91, 92,
    93, 94, 86, 96, 97, 98, 99, 100, 93, 102, 103, 104, 99, 106, 107, 103, 109, 107, 111, 109, 111};
constexpr uint8_t kNextLps[kStates] = {
    129, 14,  16, 18, 20, 23, 25, 28, 30, 33,  35, 9,  10, 12, 143, 36,  38,  39,  40,  42,  43,  45, 46,
    48,  49,  51, 52, 54, 56, 57, 59, 60, 62,  63, 32, 33, 165, 64, 65,  67,  68,  69,  70,  72,  73, 74,
    75,  77,  78, 79, 48, 50, 50, 51, 52, 53,  54, 55, 56, 57, 58,  59,  61,  61,  193, 80,  81,  82, 83,
    84,  86,  87, 87, 72, 72, 74, 74, 75, 77,  77, 208, 88, 89, 90,  91,  92,  93,  86,  216, 95, 96,
    97,  99,  99, 93, 223, 101, 102, 103, 104, 99, 105, 106, 107, 103, 233, 108, 109, 110, 111, 238, 112, 240};
static_assert(kLsz[0] == 0x5a1d && kLsz[kStates - 1] == 0x59eb, "LSZ table complete");
static_assert(kNextMps[13] == 13 && kNextLps[0] == 0x81, "the fastest state keeps itself; state 0 swaps");
static_assert(*std::max_element(kNextMps, kNextMps + kStates) < kStates, "next states exist");

constexpr unsigned char kEscape = 0xff;
constexpr unsigned char kStuff = 0x00;
constexpr unsigned char kSdnorm = 0x02;
constexpr unsigned char kAtmove = 0x06;

constexpr unsigned kTwoLine = 0x40;   // JBG_LRLTWO
constexpr unsigned kTypical = 0x08;   // JBG_TPBON
constexpr unsigned kNoEffect = 0x14;  // JBG_TPDON | JBG_DPON: nothing to do with a single layer
constexpr unsigned kDefaultOrder = 3; // JBG_ILEAVE | JBG_SMID, what JBIG-KIT keeps for an order it refuses
// The typical-prediction context of each template.
constexpr unsigned kTypicalContextTwoLine = 0x195;
constexpr unsigned kTypicalContextThreeLine = 0x0e5;

// A move is considered once this many pixels of a stripe were counted.
constexpr unsigned long kCountBeforeMove = 2048;
// Widest adaptive-template offset the 32-bit line windows reach.
constexpr unsigned kMaxMx = 16;
constexpr size_t kMargin = 8; // zero bytes on either side of a stored line

// The header fields JBIG-KIT writes for an order: it keeps its own for the
// combinations it refuses.
unsigned header_order(unsigned order)
{
    if (order > 15 || order == 1 || order == 7 || order == 9 || order == 15)
        return kDefaultOrder;
    return order;
}

uint32_t be32(const unsigned char *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void put_be32(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

unsigned pixel(const unsigned char *row, long x) { return (row[x >> 3] >> (7 - (x & 7))) & 1u; }

} // namespace

// The coder's registers as locals of the line being coded.
class JbigEncoder::Coder {
public:
    explicit Coder(JbigEncoder &e)
        : e_(e), st_(e.states_.data()), out_(e.stripe_), a_(e.a_), c_(e.c_), sc_(e.sc_), ct_(e.ct_),
          buffer_(e.buffer_)
    {
    }
    ~Coder()
    {
        e_.a_ = a_;
        e_.c_ = c_;
        e_.sc_ = sc_;
        e_.ct_ = ct_;
        e_.buffer_ = buffer_;
    }
    Coder(const Coder &) = delete;
    Coder &operator=(const Coder &) = delete;

    [[gnu::always_inline]] void encode(unsigned cx, unsigned pix)
    {
        unsigned char &st = st_[cx];
        const unsigned ss = st & 0x7fu;
        const uint32_t lsz = kLsz[ss];
        a_ -= lsz;
        if (((pix << 7) ^ st) & 0x80u) {
            // The less probable symbol takes the larger part when the intervals are inverted.
            if (a_ >= lsz) {
                c_ += a_;
                a_ = lsz;
            }
            st = static_cast<unsigned char>((st & 0x80u) ^ kNextLps[ss]);
        } else {
            if (a_ >= 0x8000u)
                return;
            if (a_ < lsz) {
                c_ += a_;
                a_ = lsz;
            }
            st = static_cast<unsigned char>((st & 0x80u) | kNextMps[ss]);
        }
        renormalize();
    }

    // n pixels of the same value in one context: stretches without
    // renormalisation are one subtraction.
    void encode_run(unsigned cx, unsigned pix, uint32_t n)
    {
        while (n > 0) {
            const unsigned char st = st_[cx];
            if ((st >> 7) != pix) {
                encode(cx, pix);
                --n;
                continue;
            }
            const uint32_t lsz = kLsz[st & 0x7fu];
            const uint32_t quiet = (a_ - 0x8000u) / lsz;
            if (quiet >= n) {
                a_ -= n * lsz;
                return;
            }
            a_ -= quiet * lsz;
            n -= quiet;
            encode(cx, pix);
            --n;
        }
    }

    void flush();

private:
    void put(unsigned byte) { out_.push_back(static_cast<unsigned char>(byte)); }
    void put_stuffed(unsigned byte)
    {
        put(byte);
        if (byte == kEscape)
            put(kStuff);
    }
    void renormalize();

    JbigEncoder &e_;
    unsigned char *st_;
    std::vector<unsigned char> &out_;
    uint32_t a_, c_;
    long sc_;
    int ct_, buffer_;
};

void JbigEncoder::Coder::renormalize()
{
    do {
        a_ <<= 1;
        c_ <<= 1;
        if (--ct_ == 0) {
            const uint32_t byte = c_ >> 19;
            if (byte > 0xffu) {
                // A carry: it reaches the byte held back and turns the 0xff bytes after it into 0x00.
                if (buffer_ >= 0)
                    put_stuffed(static_cast<unsigned>(++buffer_));
                for (; sc_ > 0; --sc_)
                    put(0x00);
                buffer_ = static_cast<int>(byte & 0xffu);
            } else if (byte == 0xffu) {
                ++sc_; // might still become 0x00 under a carry
            } else {
                if (buffer_ >= 0)
                    put(static_cast<unsigned>(buffer_));
                for (; sc_ > 0; --sc_) {
                    put(kEscape);
                    put(kStuff);
                }
                buffer_ = static_cast<int>(byte);
            }
            c_ &= 0x7ffffu;
            ct_ = 8;
        }
    } while (a_ < 0x8000u);
}

void JbigEncoder::Coder::flush()
{
    // The value in the final interval with the most trailing zero bits.
    const uint32_t temp = (a_ - 1 + c_) & 0xffff0000u;
    c_ = temp < c_ ? temp + 0x8000u : temp;
    c_ <<= ct_;
    if (c_ & 0xf8000000u) {
        if (buffer_ >= 0)
            put_stuffed(static_cast<unsigned>(buffer_ + 1));
        if (c_ & 0x7fff800u)
            for (; sc_ > 0; --sc_)
                put(0x00);
    } else {
        if (buffer_ >= 0)
            put(static_cast<unsigned>(buffer_));
        for (; sc_ > 0; --sc_) {
            put(kEscape);
            put(kStuff);
        }
    }
    if (c_ & 0x7fff800u) {
        put_stuffed((c_ >> 19) & 0xffu);
        if (c_ & 0x7f800u)
            put_stuffed((c_ >> 11) & 0xffu);
    }
    sc_ = 0;
}

namespace {

// Context of pixel k (0..7) of a byte from 32-bit windows of the line (w0) and
// the lines above (w1, w2) that hold bytes b-2 .. b+1, pixel k at bit 15 - k.
template <bool TwoLine>
[[gnu::always_inline]] inline unsigned context(uint32_t w0, uint32_t w1, uint32_t w2, unsigned k, unsigned tx)
{
    if (TwoLine) {
        // x-3 .. x+2 above, x-4 .. x-1 on the line; the AT pixel stands for x+2 above.
        const unsigned cx = ((w1 >> (13 - k)) & 0x3fu) << 4 | ((w0 >> (16 - k)) & 0xfu);
        return tx == 0 ? cx : (cx & ~0x10u) | ((w0 >> (15 - k + tx)) & 1u) << 4;
    }
    // x-1 .. x+1 two above, x-2 .. x+2 above, x-2 .. x-1 on the line; AT for x+2 above.
    const unsigned cx =
        ((w2 >> (14 - k)) & 7u) << 7 | ((w1 >> (13 - k)) & 0x1fu) << 2 | ((w0 >> (16 - k)) & 3u);
    return tx == 0 ? cx : (cx & ~0x4u) | ((w0 >> (15 - k + tx)) & 1u) << 2;
}

} // namespace

// Codes one line once the template is settled. y0 is the line, y1 and y2 those
// above; all have zero margins.
template <bool TwoLine>
void JbigEncoder::code_line(Coder &coder, const unsigned char *y0, const unsigned char *y1,
                      const unsigned char *y2, uint32_t width, unsigned tx)
{
    const uint32_t bytes = (width + 7) / 8;
    uint32_t white = 0; // white pixels in white surroundings not yet coded: all context 0
    for (uint32_t b = 0; b < bytes; ++b) {
        const unsigned n = b + 1 < bytes ? 8u : width - 8 * b;
        const unsigned char *p0 = y0 + b, *p1 = y1 + b, *p2 = y2 + b;
        unsigned ink = p0[-1] | p0[0] | p1[-1] | p1[0] | p1[1];
        if (!TwoLine)
            ink |= p2[-1] | p2[0] | p2[1];
        if (tx > 8)
            ink |= p0[-2];
        if (ink == 0) {
            white += n;
            continue;
        }
        if (white > 0) {
            coder.encode_run(0, 0, white);
            white = 0;
        }
        const uint32_t w0 = be32(p0 - 2), w1 = be32(p1 - 2), w2 = TwoLine ? 0 : be32(p2 - 2);
        for (unsigned k = 0; k < n; ++k)
            coder.encode(context<TwoLine>(w0, w1, w2, k, tx), (w0 >> (15 - k)) & 1u);
    }
    if (white > 0)
        coder.encode_run(0, 0, white);
}

bool jbig_encoder_exact(const JBIG_BIH &bih)
{
    if (bih.ParamP != 1 || bih.ParamImgWidth == 0 || bih.ParamImgHeight == 0)
        return false;
    if ((bih.ParamOption & ~(kTwoLine | kTypical | kNoEffect)) != 0 || bih.ParamMx > kMaxMx)
        return false;
    // With one line per stripe JBIG-KIT reads a line above the image for the second stripe.
    return !(jbig_stripe_lines(bih) == 1 && bih.ParamImgHeight > 1);
}

uint32_t jbig_stripe_lines(const JBIG_BIH &bih)
{
    if (bih.ParamL0 > 0)
        return bih.ParamL0;
    return std::clamp<uint32_t>(bih.ParamImgHeight / 35, 2, 128);
}

JbigEncoder::JbigEncoder(const JBIG_BIH &bih, JbigSink sink, void *context)
    : bih_(bih), sink_(sink), context_(context)
{
}

bool JbigEncoder::start()
{
    if (sink_ == nullptr || !jbig_encoder_exact(bih_))
        return false;
    width_ = bih_.ParamImgWidth;
    height_ = bih_.ParamImgHeight;
    l0_ = jbig_stripe_lines(bih_);
    rowBytes_ = (size_t{width_} + 7) / 8;
    lastMask_ = static_cast<unsigned char>(0xff00u >> (width_ % 8 == 0 ? 8 : width_ % 8));
    twoLine_ = (bih_.ParamOption & kTwoLine) != 0;
    typicalPrediction_ = (bih_.ParamOption & kTypical) != 0;
    // JBIG-KIT searches nothing (and says so in the header) when no candidate is in reach.
    mx_ = bih_.ParamMx < (twoLine_ ? 5u : 3u) ? 0u : bih_.ParamMx;
    const size_t span = kMargin + rowBytes_ + kMargin;
    try {
        lineStore_.assign(3 * span, 0);
        stripe_.reserve(std::min<size_t>(rowBytes_ * 64, size_t{1} << 20));
    } catch (const std::bad_alloc &) {
        return false;
    }
    for (size_t i = 0; i < lines_.size(); ++i)
        lines_[i] = lineStore_.data() + i * span + kMargin;
    states_.fill(0);
    a_ = 0x10000;
    c_ = 0;
    sc_ = 0;
    ct_ = 11;
    buffer_ = -1;
    tx_ = 0;
    templateDecided_ = mx_ == 0;

    unsigned char header[20] = {0, 0, 1, 0};
    put_be32(header + 4, width_);
    put_be32(header + 8, height_);
    put_be32(header + 12, l0_);
    header[16] = static_cast<unsigned char>(mx_);
    header[17] = 0;
    header[18] = static_cast<unsigned char>(header_order(bih_.ParamOrder));
    header[19] = bih_.ParamOption;
    ok_ = true;
    emit(header, sizeof header);
    return true;
}

bool JbigEncoder::push_lines(const unsigned char *rows, size_t stride, uint32_t count)
{
    if (!ok_)
        return false;
    try {
        for (uint32_t i = 0; i < count && y_ < height_; ++i)
            encode_line(rows + i * stride);
    } catch (const std::bad_alloc &) {
        ok_ = false;
    }
    return ok_;
}

void JbigEncoder::encode_line(const unsigned char *row)
{
    std::rotate(lines_.begin(), lines_.end() - 1, lines_.end());
    unsigned char *y0 = lines_[0];
    const unsigned char *y1 = lines_[1], *y2 = lines_[2];
    std::memcpy(y0, row, rowBytes_);
    y0[rowBytes_ - 1] &= lastMask_;

    if (!templateDecided_ && counted_ > kCountBeforeMove)
        decide_template_move(lineInStripe_);
    bool typical = false;
    {
        Coder coder(*this);
        if (typicalPrediction_) {
            typical = std::memcmp(y0, y1, rowBytes_) == 0;
            coder.encode(twoLine_ ? kTypicalContextTwoLine : kTypicalContextThreeLine, typical == typicalBefore_);
            typicalBefore_ = typical;
        }
        if (!typical && templateDecided_) {
            if (twoLine_)
                code_line<true>(coder, y0, y1, y2, width_, tx_);
            else
                code_line<false>(coder, y0, y1, y2, width_, tx_);
        }
    }
    if (!typical && !templateDecided_)
        code_counting_line(y0, y1, y2);
    ++y_;
    if (++lineInStripe_ == l0_ || y_ == height_)
        end_stripe();
}

// A line coded pixel by pixel while the stripe still counts, for each candidate
// offset of the adaptive-template pixel, how often it equals the pixel coded.
void JbigEncoder::code_counting_line(const unsigned char *y0, const unsigned char *y1, const unsigned char *y2)
{
    Coder coder(*this);
    const unsigned first = twoLine_ ? 5 : 3;
    for (uint32_t x = 0; x < width_; ++x) {
        const uint32_t b = x / 8;
        const unsigned k = x % 8;
        const uint32_t w0 = be32(y0 + b - 2), w1 = be32(y1 + b - 2), w2 = be32(y2 + b - 2);
        const unsigned pix = (w0 >> (15 - k)) & 1u;
        coder.encode(twoLine_ ? context<true>(w0, w1, w2, k, tx_) : context<false>(w0, w1, w2, k, tx_), pix);
        if (x >= mx_ && x + 2 < width_) {
            count_[0] += pixel(y1, x + 2) == pix;
            for (unsigned t = first; t <= mx_; ++t)
                count_[t] += pixel(y0, long{x} - t) == pix;
            ++counted_;
        }
    }
}

// JBIG-KIT's rule: move when one candidate predicts the pixel clearly better
// than the pixel in use and than the candidates on the whole. Unsigned
// arithmetic throughout, as the rule is defined on it.
void JbigEncoder::decide_template_move(uint32_t lineInStripe)
{
    const unsigned long all = counted_;
    unsigned long cmin = ~0ul, cmax = 0;
    unsigned tmax = 0;
    for (unsigned t = twoLine_ ? 5 : 3; t <= mx_; ++t) {
        cmax = std::max(cmax, count_[t]);
        cmin = std::min(cmin, count_[t]);
        if (count_[t] > count_[tmax])
            tmax = t;
    }
    const unsigned long clmin = std::min(count_[0], cmin), clmax = std::max(count_[0], cmax);
    const unsigned long now = count_[tx_];
    if (all - cmax < (all >> 3) && cmax - now > all - cmax && cmax - now > (all >> 4) &&
        cmax - (all - now) > all - cmax && cmax - (all - now) > (all >> 4) && cmax - cmin > (all >> 2) &&
        (tx_ != 0 || clmax - clmin > (all >> 3))) {
        movedTx_ = static_cast<int>(tmax);
        moveLine_ = lineInStripe;
        tx_ = tmax;
    }
    templateDecided_ = true;
}

void JbigEncoder::end_stripe()
{
    {
        Coder coder(*this);
        coder.flush();
    }
    // Trailing zero bytes are implied; a stuffing byte that went with them comes back.
    while (!stripe_.empty() && stripe_.back() == 0)
        stripe_.pop_back();
    if (!stripe_.empty() && stripe_.back() == kEscape)
        stripe_.push_back(kStuff);
    stripe_.push_back(kEscape);
    stripe_.push_back(kSdnorm);
    if (movedTx_ >= 0) {
        unsigned char move[8] = {kEscape, kAtmove};
        put_be32(move + 2, moveLine_);
        move[6] = static_cast<unsigned char>(movedTx_);
        move[7] = 0;
        emit(move, sizeof move);
    }
    emit(stripe_.data(), stripe_.size());

    stripe_.clear();
    a_ = 0x10000;
    c_ = 0;
    sc_ = 0;
    ct_ = 11;
    buffer_ = -1;
    lineInStripe_ = 0;
    movedTx_ = -1;
    templateDecided_ = mx_ == 0;
    count_.fill(0);
    counted_ = 0;
}

bool jbig_encode(const JBIG_BIH &bih, const unsigned char *image, JbigSink sink, void *context)
{
    if (image == nullptr)
        return false;
    JbigEncoder encoder(bih, sink, context);
    if (!encoder.start())
        return false;
    const size_t rowBytes = (size_t{bih.ParamImgWidth} + 7) / 8;
    const uint32_t stripe = encoder.stripe_lines();
    // One stripe per call: the sink may wait for the next stripe's lines.
    for (uint32_t y = 0; y < bih.ParamImgHeight; y += stripe) {
        const uint32_t lines = std::min(stripe, bih.ParamImgHeight - y);
        if (!encoder.push_lines(image + size_t{y} * rowBytes, rowBytes, lines))
            return false;
    }
    return encoder.complete();
}

} // namespace varkon
