// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG encoder against JBIG-KIT: the same bytes for the parameters of every
// platform on random, patterned, text-like and dithered pages of odd sizes,
// adaptive-template moves included; lines pushed in any pieces; no line read
// before its stripe; JBIG-KIT's decoder gets the image back; JBIGCompress
// falls back to JBIG-KIT where our encoder would differ.
#include "jbig_encoder.h"

#include "dither.h"
#include "jbigCompress.h"
#include "platform.h"
#include "prnt.h"
#include "test_job.h"

extern "C" {
#include <jbig.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Image {
    uint32_t width = 0, height = 0;
    Bytes bits; // rows of (width + 7) / 8 bytes
    size_t row_bytes() const { return (size_t{width} + 7) / 8; }
};

// The parameters each platform hands to JBIGCompress (page_encoder.cpp's jbig_bih_for;
// a Z band is an image of its own with L0 = its height).
JBIG_BIH platform_bih(int platform, uint32_t width, uint32_t height, uint32_t cStripe = 768)
{
    JBIG_BIH bih;
    bih.ParamP = 1;
    bih.ParamImgWidth = width;
    bih.ParamImgHeight = height;
    if (platform == PLATFORM_Z) {
        bih.ParamDl = 255;
        bih.ParamL0 = height;
        bih.ParamOrder = JBG_ILEAVE | JBG_SMID;
        bih.ParamOption = JBG_LRLTWO | JBG_TPDON | JBG_TPBON;
    } else if (platform == PLATFORM_C) {
        bih.ParamL0 = cStripe;
        bih.ParamMx = 8;
        bih.ParamOption = JBG_TPBON;
    } else {
        bih.ParamL0 = 256;
        bih.ParamOrder = JBG_ILEAVE | JBG_SMID;
        bih.ParamOption = JBG_LRLTWO | JBG_TPDON | JBG_TPBON | JBG_DPON;
    }
    return bih;
}

void append(unsigned char *data, size_t len, void *out)
{
    auto *bytes = static_cast<Bytes *>(out);
    bytes->insert(bytes->end(), data, data + len);
}

void append_const(const unsigned char *data, size_t len, void *out)
{
    append(const_cast<unsigned char *>(data), len, out);
}

// JBIG-KIT called as JBIGCompress calls it, on a copy (it clears padding bits in place).
Bytes jbigkit_bie(const JBIG_BIH &bih, const Image &image)
{
    Bytes copy = image.bits;
    unsigned char *planes[1] = {copy.data()};
    Bytes out;
    jbg_enc_state encoder;
    jbg_enc_init(&encoder, bih.ParamImgWidth, bih.ParamImgHeight, 1, planes, append, &out);
    jbg_enc_layers(&encoder, 0);
    jbg_enc_lrange(&encoder, bih.ParamDl, -1);
    jbg_enc_options(&encoder, bih.ParamOrder, bih.ParamOption, bih.ParamL0, bih.ParamMx, 0);
    jbg_enc_out(&encoder);
    jbg_enc_free(&encoder);
    return out;
}

Bytes our_bie(const JBIG_BIH &bih, const Image &image)
{
    Bytes out;
    EXPECT_TRUE(varkon::jbig_encode(bih, image.bits.data(), append_const, &out));
    return out;
}

bool has_atmove(const Bytes &bie)
{
    for (size_t i = 20; i + 1 < bie.size(); ++i)
        if (bie[i] == 0xff && bie[i + 1] == 0x06)
            return true;
    return false;
}

std::string describe(const JBIG_BIH &bih, const std::string &what)
{
    return what + ", " + std::to_string(bih.ParamImgWidth) + " x " + std::to_string(bih.ParamImgHeight) +
           ", L0 " + std::to_string(bih.ParamL0) + ", options " + std::to_string(bih.ParamOption) + ", mx " +
           std::to_string(bih.ParamMx);
}

// Asserts byte identity and returns JBIG-KIT's stream.
Bytes expect_same_as_jbigkit(const JBIG_BIH &bih, const Image &image, const std::string &what)
{
    const Bytes want = jbigkit_bie(bih, image);
    const Bytes got = our_bie(bih, image);
    if (got != want) {
        size_t at = 0;
        while (at < got.size() && at < want.size() && got[at] == want[at])
            ++at;
        ADD_FAILURE() << describe(bih, what) << ": " << got.size() << " bytes against " << want.size()
                      << ", first difference at byte " << at;
    }
    return want;
}

// Pages. Each pixel function gets (x, y) and says black.
Image draw(uint32_t width, uint32_t height, const std::function<bool(uint32_t, uint32_t)> &black)
{
    Image image{width, height, {}};
    image.bits.assign(image.row_bytes() * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            if (black(x, y))
                image.bits[y * image.row_bytes() + x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
    return image;
}

Image noise(uint32_t width, uint32_t height, unsigned percent, unsigned seed)
{
    std::mt19937 random(seed);
    return draw(width, height, [&](uint32_t, uint32_t) { return random() % 100 < percent; });
}

// Glyph-like strokes in lines of text with word gaps, margins left white.
Image text_like(uint32_t width, uint32_t height, unsigned seed)
{
    std::mt19937 random(seed);
    Image image = draw(width, height, [](uint32_t, uint32_t) { return false; });
    const uint32_t margin = std::min(width, height) / 10, cellW = 20, cellH = 30, leading = 50;
    for (uint32_t top = margin; top + cellH + margin < height; top += leading)
        for (uint32_t left = margin; left + cellW + margin < width; left += cellW) {
            if (random() % 6 == 0)
                continue;
            for (int stroke = 0; stroke < 3; ++stroke) {
                const bool vertical = random() % 2 == 0;
                const uint32_t x0 = left + random() % (cellW - 4), y0 = top + random() % (cellH - 4);
                const uint32_t w = vertical ? 3 : 2 + random() % 14, h = vertical ? 5 + random() % 20 : 3;
                for (uint32_t y = y0; y < std::min(y0 + h, top + cellH); ++y)
                    for (uint32_t x = x0; x < std::min(x0 + w, left + cellW); ++x)
                        image.bits[y * image.row_bytes() + x / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
        }
        }
    return image;
}

// A gray page dithered by the filter's own halftone: strokes on white and a
// photo block, as the page encoder's tests print. The dither runs on whole bytes;
// a width that is not leaves dithered bits in each line's padding.
Image dithered(uint32_t width, uint32_t height, unsigned seed, int platform = PLATFORM_Z, int b1200dpi = 0)
{
    std::mt19937 random(seed);
    const uint32_t bytesWide = (width + 7) / 8 * 8;
    std::vector<unsigned char> gray(size_t{bytesWide} * height, 255);
    for (uint32_t y = height / 3; y < height / 2; ++y)
        for (uint32_t x = width / 4; x < width * 3 / 4; ++x)
            gray[size_t{y} * bytesWide + x] = static_cast<unsigned char>(96 + random() % 64);
    for (int stroke = 0; stroke < 400; ++stroke) {
        const uint32_t x0 = random() % width, y0 = random() % height, w = 2 + random() % 30, h = 2 + random() % 12;
        for (uint32_t y = y0; y < std::min(height, y0 + h); ++y)
            for (uint32_t x = x0; x < std::min(bytesWide, x0 + w); ++x)
                gray[size_t{y} * bytesWide + x] = 0;
    }
    Image image{width, height, Bytes(size_t{bytesWide} / 8 * height, 0)};
    HalftoneDither(gray.data(), bytesWide, height, image.bits.data(), bytesWide, 0, b1200dpi, platform);
    return image;
}

// Smooth tones over the whole page, dithered: busy lines everywhere.
Image dithered_photo(uint32_t width, uint32_t height)
{
    std::vector<unsigned char> gray(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            gray[size_t{y} * width + x] = static_cast<unsigned char>((x * 255 / width + y * 128 / height) % 256);
    Image image{width, height, Bytes(size_t{width} * height / 8, 0)};
    HalftoneDither(gray.data(), width, height, image.bits.data(), width, 0, 0, PLATFORM_C);
    return image;
}

Bytes decode_with_jbigkit(const Bytes &bie, uint32_t *width, uint32_t *height)
{
    jbg_dec_state decoder;
    jbg_dec_init(&decoder);
    Bytes copy = bie;
    size_t used = 0;
    const int result = jbg_dec_in(&decoder, copy.data(), copy.size(), &used);
    Bytes image;
    if (result == JBG_EOK) {
        *width = static_cast<uint32_t>(jbg_dec_getwidth(&decoder));
        *height = static_cast<uint32_t>(jbg_dec_getheight(&decoder));
        const unsigned char *plane = jbg_dec_getimage(&decoder, 0);
        image.assign(plane, plane + jbg_dec_getsize(&decoder));
    }
    jbg_dec_free(&decoder);
    EXPECT_EQ(result, JBG_EOK) << "JBIG-KIT's decoder: " << jbg_strerror(result);
    return image;
}

TEST(JbigEncoder, HeaderAndStripesAsJbigKitWritesThemForEveryOrderAndStripeHeight)
{
    const Image image = noise(37, 41, 30, 1);
    for (unsigned order = 0; order < 20; ++order) {
        JBIG_BIH bih = platform_bih(PLATFORM_C, image.width, image.height, 5);
        bih.ParamOrder = static_cast<uint8_t>(order);
        expect_same_as_jbigkit(bih, image, "order " + std::to_string(order));
    }
    // L0 of 0 (JBIG-KIT picks it), above the height, and one line on a one-line image.
    for (uint32_t height : {1u, 41u, 100u, 3500u, 6000u}) {
        const Image tall = noise(24, height, 10, height);
        for (uint32_t l0 : {0u, 2u, height, height + 1000})
            for (int platform : {PLATFORM_C, PLATFORM_M}) {
                JBIG_BIH bih = platform_bih(platform, tall.width, tall.height, l0);
                bih.ParamL0 = l0;
                const Bytes want = expect_same_as_jbigkit(bih, tall, "stripe height");
                ASSERT_GE(want.size(), 20u);
                EXPECT_EQ(varkon::jbig_stripe_lines(bih), uint32_t{want[12]} << 24 | want[13] << 16 | want[14] << 8 | want[15]);
            }
    }
    JBIG_BIH one = platform_bih(PLATFORM_C, 40, 1, 1);
    expect_same_as_jbigkit(one, noise(40, 1, 50, 3), "one line, L0 1");
    // The template and prediction options each on their own.
    for (uint8_t options : {0x00, 0x08, 0x40, 0x48, 0x5c, 0x14})
        for (uint8_t mx : {0, 2, 3, 4, 5, 8, 16}) {
            JBIG_BIH bih = platform_bih(PLATFORM_C, 70, 90, 13);
            bih.ParamOption = options;
            bih.ParamMx = mx;
            expect_same_as_jbigkit(bih, noise(70, 90, 8, options + mx), "options");
        }
}

TEST(JbigEncoder, ExactWhereItClaimsAndOnlyThere)
{
    for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M})
        EXPECT_TRUE(varkon::jbig_encoder_exact(platform_bih(platform, 4736, 6780))) << platform;
    JBIG_BIH bih = platform_bih(PLATFORM_C, 64, 64);
    auto exact_with = [&](const std::function<void(JBIG_BIH &)> &change) {
        JBIG_BIH changed = bih;
        change(changed);
        return varkon::jbig_encoder_exact(changed);
    };
    EXPECT_FALSE(exact_with([](JBIG_BIH &b) { b.ParamP = 2; }));
    EXPECT_FALSE(exact_with([](JBIG_BIH &b) { b.ParamImgWidth = 0; }));
    EXPECT_FALSE(exact_with([](JBIG_BIH &b) { b.ParamImgHeight = 0; }));
    EXPECT_FALSE(exact_with([](JBIG_BIH &b) { b.ParamMx = 17; }));
    EXPECT_FALSE(exact_with([](JBIG_BIH &b) { b.ParamOption |= JBG_VLENGTH; }));
    EXPECT_FALSE(exact_with([](JBIG_BIH &b) { b.ParamOption |= JBG_DPON | JBG_DPPRIV; }));
    EXPECT_FALSE(exact_with([](JBIG_BIH &b) { b.ParamL0 = 1; })); // JBIG-KIT reads above the image there
    EXPECT_TRUE(exact_with([](JBIG_BIH &b) { b.ParamL0 = 1, b.ParamImgHeight = 1; }));

    // Refused parameters start nothing.
    JBIG_BIH refused = bih;
    refused.ParamP = 2;
    Bytes out;
    varkon::JbigEncoder encoder(refused, append_const, &out);
    EXPECT_FALSE(encoder.start());
    EXPECT_FALSE(encoder.push_lines(out.data(), 8, 0));
    EXPECT_TRUE(out.empty());
}

TEST(JbigEncoder, SameBytesAsJbigKitOnRandomPagesOfOddSizes)
{
    std::mt19937 random(2024);
    int moves = 0;
    for (int page = 0; page < 240; ++page) {
        const uint32_t width = 1 + random() % 700, height = 1 + random() % 500;
        const unsigned kind = random() % 4;
        Image image = kind == 0   ? noise(width, height, random() % 101, page)
                      : kind == 1 ? text_like(width, height, page)
                      : kind == 2 ? draw(width, height, [&](uint32_t x, uint32_t y) { return (x / 3 + y / 2) % 2 == 1; })
                                  : noise(width, height, 2, page);
        // Repeated lines, so that typical prediction has lines to skip.
        for (uint32_t y = 1; y < height; ++y)
            if (random() % 3 == 0)
                std::memcpy(&image.bits[y * image.row_bytes()], &image.bits[(y - 1) * image.row_bytes()],
                            image.row_bytes());
        const int platform = page % 3 == 0 ? PLATFORM_Z : page % 3 == 1 ? PLATFORM_M : PLATFORM_C;
        JBIG_BIH bih = platform_bih(platform, width, height);
        if (platform != PLATFORM_Z || random() % 2 == 0)
            bih.ParamL0 = 2 + random() % 120; // heights that are no multiple of L0
        moves += has_atmove(expect_same_as_jbigkit(bih, image, "random page " + std::to_string(page)));
    }
    EXPECT_GT(moves, 0) << "no random page made JBIG-KIT move the adaptive template";
}

TEST(JbigEncoder, SameBytesOnUniformPatternedAndExtremePages)
{
    const uint32_t w = 1003, h = 611;
    const std::vector<std::pair<std::string, Image>> pages = {
        {"white", draw(w, h, [](uint32_t, uint32_t) { return false; })},
        {"black", draw(w, h, [](uint32_t, uint32_t) { return true; })},
        {"checkerboard", draw(w, h, [](uint32_t x, uint32_t y) { return (x + y) % 2 == 1; })},
        {"coarse checkerboard", draw(w, h, [](uint32_t x, uint32_t y) { return (x / 8 + y / 8) % 2 == 1; })},
        {"noise", noise(w, h, 50, 7)},
        {"thin lines", draw(w, h, [](uint32_t x, uint32_t y) { return x % 97 == 5 || y % 53 == 0 || x == y; })},
        {"text", text_like(w, h, 9)},
        {"vertical stripes", draw(w, h, [](uint32_t x, uint32_t) { return x % 6 < 3; })},
        {"black page, white border", draw(w, h, [](uint32_t x, uint32_t y) { return x > 0 && y > 0 && x + 1 < w; })},
    };
    for (const auto &page : pages)
        for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M})
            for (uint32_t l0 : {0u, 256u, 100u}) {
                JBIG_BIH bih = platform_bih(platform, w, h);
                if (l0 != 0)
                    bih.ParamL0 = l0;
                expect_same_as_jbigkit(bih, page.second, page.first);
            }
    // The longest sides the printers take, on both axes.
    const std::vector<std::pair<uint32_t, uint32_t>> shapes = {{20000, 1}, {20000, 7}, {1, 20000}, {9, 20000}, {2, 2}};
    for (const auto &shape : shapes) {
        const Image image = noise(shape.first, shape.second, 20, shape.first + shape.second);
        for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M})
            expect_same_as_jbigkit(platform_bih(platform, shape.first, shape.second), image, "extreme shape");
    }
}

TEST(JbigEncoder, AdaptiveTemplateMovesAsJbigKitMovesIt)
{
    // Pages where a pixel some columns back predicts best, and stripes where the
    // best column changes, returns to the default or never settles.
    int moved = 0;
    for (unsigned period : {3u, 4u, 5u, 6u, 7u, 8u, 9u, 12u}) {
        const Image image = draw(800, 600, [&](uint32_t x, uint32_t y) {
            const unsigned p = y < 200 ? period : y < 400 ? 3 + (period + 2) % 6 : 64;
            return (x % p) < p / 2 + (y % 5 == 0);
        });
        for (uint32_t l0 : {768u, 384u, 100u, 7u}) {
            const Bytes want = expect_same_as_jbigkit(platform_bih(PLATFORM_C, 800, 600, l0), image,
                                                      "columns of period " + std::to_string(period));
            moved += has_atmove(want);
        }
    }
    EXPECT_GT(moved, 8);
    // Text-like and dithered pages at printer widths: 600 dpi stripes of 768, 1200 dpi of 384.
    for (unsigned seed : {1u, 2u, 3u}) {
        const Image text = text_like(2480, 1500, seed);
        expect_same_as_jbigkit(platform_bih(PLATFORM_C, 2480, 1500, 768), text, "text");
        const Image gray = dithered(2400, 1200, seed, PLATFORM_C, seed == 3);
        expect_same_as_jbigkit(platform_bih(PLATFORM_C, 2400, 1200, seed == 3 ? 384 : 768), gray, "dithered");
    }
    // A dithered photo makes JBIG-KIT move early in the first stripe.
    const Image photo = dithered_photo(2400, 1600);
    int photoMoves = 0;
    for (uint32_t l0 : {768u, 384u})
        photoMoves += has_atmove(expect_same_as_jbigkit(platform_bih(PLATFORM_C, 2400, 1600, l0), photo, "photo"));
    EXPECT_GT(photoMoves, 0) << "the photo page no longer makes JBIG-KIT move";
}

TEST(JbigEncoder, SameBytesOnTheDitheredPagesTheSuitePrints)
{
    // The page encoder tests' pages, a page's worth of Z bands and a whole photo page.
    const struct {
        uint32_t width, height;
    } sizes[] = {{640, 1000}, {512, 512}, {320, 90}, {636, 600}, {4736, 1100}};
    unsigned seed = 1;
    for (const auto &size : sizes) {
        const Image page = dithered(size.width, size.height, seed++);
        expect_same_as_jbigkit(platform_bih(PLATFORM_C, size.width, size.height), page, "dithered, C");
        expect_same_as_jbigkit(platform_bih(PLATFORM_C, size.width, size.height, 100), page, "dithered, C");
        expect_same_as_jbigkit(platform_bih(PLATFORM_M, size.width, size.height), page, "dithered, M");
        for (uint32_t top = 0; top < size.height; top += 256) {
            Image band{size.width, std::min(256u, size.height - top), {}};
            const auto first = page.bits.begin() + top * page.row_bytes();
            band.bits.assign(first, first + band.height * page.row_bytes());
            expect_same_as_jbigkit(platform_bih(PLATFORM_Z, band.width, band.height), band, "dithered, Z band");
        }
    }
    const Image photo = dithered_photo(2400, 1600);
    for (int platform : {PLATFORM_C, PLATFORM_M, PLATFORM_Z})
        expect_same_as_jbigkit(platform_bih(platform, photo.width, photo.height), photo, "photo");
}

TEST(JbigEncoder, JbigKitsDecoderGetsTheImageBack)
{
    // Padding bits set: the encoder ignores them and leaves the caller's image alone.
    Image page = dithered(1001, 700, 4);
    for (uint32_t y = 0; y < page.height; ++y)
        page.bits[y * page.row_bytes() + page.row_bytes() - 1] |= 0x7f;
    const Bytes before = page.bits;
    Image clean = page;
    for (uint32_t y = 0; y < clean.height; ++y)
        clean.bits[y * clean.row_bytes() + clean.row_bytes() - 1] &= 0x80;
    for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
        const JBIG_BIH bih = platform_bih(platform, page.width, page.height, 128);
        const Bytes ours = our_bie(bih, page);
        EXPECT_TRUE(page.bits == before) << "the image was changed";
        EXPECT_TRUE(ours == jbigkit_bie(bih, clean)) << platform;
        uint32_t width = 0, height = 0;
        const Bytes decoded = decode_with_jbigkit(ours, &width, &height);
        EXPECT_EQ(width, page.width);
        EXPECT_EQ(height, page.height);
        EXPECT_TRUE(decoded == clean.bits) << "platform " << platform;
    }
}

TEST(JbigEncoder, LinesPushedInAnyPiecesGiveTheSameBytes)
{
    const Image page = dithered(700, 900, 8);
    std::mt19937 random(3);
    for (int platform : {PLATFORM_C, PLATFORM_M}) {
        const JBIG_BIH bih = platform_bih(platform, page.width, page.height, 128);
        const Bytes whole = our_bie(bih, page);
        Bytes pieces;
        varkon::JbigEncoder encoder(bih, append_const, &pieces);
        ASSERT_TRUE(encoder.start());
        for (uint32_t y = 0; y < page.height;) {
            const uint32_t count = std::min<uint32_t>(page.height - y, random() % 300);
            // Lines spaced apart in memory, as a page with a wider stride holds them.
            const size_t stride = page.row_bytes() + 3;
            Bytes spaced(size_t{count} * stride + 1, 0xee);
            for (uint32_t i = 0; i < count; ++i)
                std::memcpy(&spaced[i * stride], &page.bits[(y + i) * page.row_bytes()], page.row_bytes());
            ASSERT_TRUE(encoder.push_lines(spaced.data(), stride, count));
            y += count;
            EXPECT_EQ(encoder.lines_pushed(), y);
            EXPECT_EQ(encoder.complete(), y == page.height);
        }
        // Lines past the height are not taken.
        EXPECT_TRUE(encoder.push_lines(page.bits.data(), page.row_bytes(), 5));
        EXPECT_EQ(encoder.lines_pushed(), page.height);
        EXPECT_TRUE(pieces == whole) << platform;
    }
}

// The sink sees each stripe before the encoder reads the next one: later
// stripes hold noise until the stripe before has gone out.
struct Revealer {
    const Image *page;
    Bytes image;
    uint32_t l0, revealed = 0;
    Bytes out;
};

void reveal_next(const unsigned char *data, size_t len, void *context)
{
    auto *r = static_cast<Revealer *>(context);
    r->out.insert(r->out.end(), data, data + len);
    if (len >= 2 && data[len - 2] == 0xff && data[len - 1] == 0x02) { // a stripe went out
        const size_t from = size_t{r->revealed} * r->l0 * r->page->row_bytes();
        const size_t to = std::min(r->image.size(), from + size_t{r->l0} * r->page->row_bytes());
        if (from < to)
            std::memcpy(r->image.data() + from, r->page->bits.data() + from, to - from);
        ++r->revealed;
    }
}

TEST(JbigEncoder, ReadsNoLineOfAStripeBeforeTheStripeBeforeItWentOut)
{
    const Image page = dithered(640, 1000, 12);
    for (int platform : {PLATFORM_C, PLATFORM_M})
        for (uint32_t l0 : {768u, 128u, 37u}) {
            JBIG_BIH bih = platform_bih(platform, page.width, page.height);
            bih.ParamL0 = l0;
            Revealer r{&page, Bytes(page.bits.size()), l0, 0, {}};
            std::mt19937 random(l0);
            for (auto &b : r.image)
                b = static_cast<unsigned char>(random());
            std::memcpy(r.image.data(), page.bits.data(), std::min(r.image.size(), size_t{l0} * page.row_bytes()));
            r.revealed = 1;
            ASSERT_TRUE(varkon::jbig_encode(bih, r.image.data(), reveal_next, &r));
            EXPECT_TRUE(r.out == jbigkit_bie(bih, page)) << "platform " << platform << ", L0 " << l0;
        }
}

TEST(JbigEncoder, JbigCompressGivesJbigKitsBytesWithEitherEncoder)
{
    const Image page = text_like(1200, 900, 5);
    auto compress = [&](JBIG_BIH bih) {
        JbigCompressState state;
        size_t pieces = 0;
        state.observer = [&](const unsigned char *, size_t) { ++pieces; };
        Bytes copy = page.bits;
        EXPECT_EQ(JBIGCompress(&bih, copy.data(), &state), 1);
        EXPECT_EQ(state.gJbigCompressDataLen, state.gpCompImgData.size());
        EXPECT_GT(pieces, 1u);
        return state.gpCompImgData;
    };
    for (int platform : {PLATFORM_C, PLATFORM_Z, PLATFORM_M}) {
        const JBIG_BIH bih = platform_bih(platform, page.width, page.height, 200);
        EXPECT_TRUE(compress(bih) == jbigkit_bie(bih, page)) << platform;
    }
    // Parameters our encoder leaves to JBIG-KIT: a search wider than its windows.
    JBIG_BIH fallback = platform_bih(PLATFORM_C, page.width, page.height, 300);
    fallback.ParamMx = 40;
    ASSERT_FALSE(varkon::jbig_encoder_exact(fallback));
    EXPECT_TRUE(compress(fallback) == jbigkit_bie(fallback, page));
}

} // namespace
