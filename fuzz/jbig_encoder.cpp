// SPDX-License-Identifier: GPL-2.0-or-later
// Our JBIG encoder against JBIG-KIT on fuzzed bitmaps: the first byte picks
// platform Z, M or C's parameters or free ones (options, mx and L0 from the
// next bytes), then width, height and how lines are pushed; the rest is the
// bitmap, repeated to fill the page. Any byte of difference aborts.
#include "fuzz_input.h"
#include "jbig_encoder.h"

extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <vector>

using varkon::fuzz::require;

namespace {

using Bytes = std::vector<unsigned char>;

// A page of a million pixels at most keeps one input at a few milliseconds.
constexpr size_t kMaxPixels = size_t{1} << 20;

void append(unsigned char *data, size_t len, void *out)
{
    auto *bytes = static_cast<Bytes *>(out);
    bytes->insert(bytes->end(), data, data + len);
}

void append_const(const unsigned char *data, size_t len, void *out)
{
    append(const_cast<unsigned char *>(data), len, out);
}

JBIG_BIH parameters(varkon::fuzz::FuzzInput &input, uint32_t width, uint32_t height)
{
    JBIG_BIH bih;
    bih.ParamP = 1;
    bih.ParamImgWidth = width;
    bih.ParamImgHeight = height;
    switch (input.byte() % 4) {
    case 0: // a Z band
        bih.ParamDl = 255;
        bih.ParamL0 = height;
        bih.ParamOrder = JBG_ILEAVE | JBG_SMID;
        bih.ParamOption = JBG_LRLTWO | JBG_TPDON | JBG_TPBON;
        break;
    case 1:
        bih.ParamL0 = 256;
        bih.ParamOrder = JBG_ILEAVE | JBG_SMID;
        bih.ParamOption = JBG_LRLTWO | JBG_TPDON | JBG_TPBON | JBG_DPON;
        break;
    case 2:
        bih.ParamL0 = input.flag() ? 768 : 384;
        bih.ParamMx = 8;
        bih.ParamOption = JBG_TPBON;
        break;
    default:
        bih.ParamOption = input.byte() & (JBG_LRLTWO | JBG_TPDON | JBG_TPBON | JBG_DPON);
        bih.ParamMx = input.byte() % 17;
        bih.ParamL0 = input.u16() % 300;
        bih.ParamOrder = input.byte() % 20;
        break;
    }
    return bih;
}

Bytes jbigkit(const JBIG_BIH &bih, Bytes image)
{
    unsigned char *planes[1] = {image.data()};
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

// Ours, with lines pushed `piece` at a time (0: a stripe at a time).
Bytes ours(const JBIG_BIH &bih, const Bytes &image, uint32_t piece)
{
    Bytes out;
    varkon::JbigEncoder encoder(bih, append_const, &out);
    require(encoder.start(), "the encoder starts on parameters it calls exact");
    const size_t rowBytes = (size_t{bih.ParamImgWidth} + 7) / 8;
    const uint32_t step = piece == 0 ? encoder.stripe_lines() : piece;
    for (uint32_t y = 0; y < bih.ParamImgHeight; y += std::min(step, bih.ParamImgHeight - y))
        require(encoder.push_lines(image.data() + y * rowBytes, rowBytes, std::min(step, bih.ParamImgHeight - y)),
                "the encoder takes every line");
    require(encoder.complete(), "the encoder has the whole image");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    varkon::fuzz::FuzzInput input(data, size);
    const uint32_t width = 1 + input.u16() % 20000;
    const uint32_t height = 1 + input.u16() % 2000;
    if (size_t{width} * height > kMaxPixels)
        return 0;
    const JBIG_BIH bih = parameters(input, width, height);
    const uint32_t piece = input.byte() % 8;
    const bool repeatLines = input.flag();
    if (!varkon::jbig_encoder_exact(bih))
        return 0;

    const size_t rowBytes = (size_t{width} + 7) / 8;
    const Bytes pattern = input.rest();
    Bytes image(rowBytes * height, 0);
    if (!pattern.empty())
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = pattern[(repeatLines ? i % rowBytes : i) % pattern.size()];
    require(ours(bih, image, piece) == jbigkit(bih, image), "our encoder writes JBIG-KIT's bytes");
    return 0;
}
