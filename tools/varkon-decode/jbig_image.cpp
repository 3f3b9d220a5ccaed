// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG image entities: header parsing and decoding through libjbig's decoder.
// The header is checked first, so libjbig never sees an image larger than allowed
// or with more layers or planes than the printers take.
#include "jbig_image.h"
#include "stream_items.h"
#include "wire_read.h"

extern "C" {
#include <jbig.h>
}

#include <memory>

namespace varkon::decode {
namespace {

struct DecoderState {
    jbg_dec_state state;
    DecoderState() { jbg_dec_init(&state); }
    ~DecoderState() { jbg_dec_free(&state); }
    DecoderState(const DecoderState &) = delete;
    DecoderState &operator=(const DecoderState &) = delete;
};

std::string check_header(const Bih &bih, uint64_t max_image_bytes)
{
    if (bih.dl != 0 || bih.d != 0)
        return detail::message("JBIG image has resolution layers %u to %u; the printers take one layer", bih.dl,
                               bih.d);
    if (bih.planes != 1)
        return detail::message("JBIG image has %u planes; the printers take one", bih.planes);
    if (bih.width == 0)
        return "JBIG image of width 0";
    if (packed_bytes(bih.width, bih.height) > max_image_bytes)
        return detail::message("JBIG image of %ux%u pixels is larger than the decoder's limit of %llu bytes",
                               bih.width, bih.height, static_cast<unsigned long long>(max_image_bytes));
    return {};
}

} // namespace

bool parse_bih(const unsigned char *data, size_t size, Bih &bih)
{
    if (size < kBihBytes)
        return false;
    bih.dl = data[0];
    bih.d = data[1];
    bih.planes = data[2];
    bih.reserved = data[3];
    bih.width = get_be32(data + 4);
    bih.height = get_be32(data + 8);
    bih.stripe_lines = get_be32(data + 12);
    bih.mx = data[16];
    bih.my = data[17];
    bih.order = data[18];
    bih.options = data[19];
    return true;
}

uint64_t packed_bytes(uint64_t width, uint64_t height) { return (width + 7) / 8 * height; }

std::string decode_jbig(const unsigned char *data, size_t size, uint64_t max_image_bytes, DecodedImage &image)
{
    Bih bih;
    if (!parse_bih(data, size, bih))
        return detail::message("JBIG data of %zu bytes is shorter than its 20-byte header", size);
    if (std::string reason = check_header(bih, max_image_bytes); !reason.empty())
        return reason;
    image.width = bih.width;
    image.height = bih.height;
    image.rows.clear();
    // An image of no lines is its header alone; libjbig refuses to decode one.
    if (bih.height == 0)
        return size == kBihBytes ? std::string() : detail::message("JBIG image of height 0 followed by %zu bytes",
                                                                   size - kBihBytes);
    auto decoder = std::make_unique<DecoderState>();
    jbg_dec_maxsize(&decoder->state, bih.width, bih.height);
    size_t used = 0;
    // libjbig takes a non-const pointer but only reads the input.
    int result = jbg_dec_in(&decoder->state, const_cast<unsigned char *>(data), size, &used);
    if ((result & 0xF0) == JBG_EAGAIN)
        return detail::message("JBIG image needs more than the %zu bytes given", size);
    if (result != JBG_EOK)
        return detail::message("JBIG data invalid after %zu bytes: %s", used, jbg_strerror(result));
    if (used != size)
        return detail::message("JBIG image ends after %zu of the %zu bytes given", used, size);
    // A NEWLEN marker (with the VLENGTH option) may shorten the image while it decodes.
    if (jbg_dec_getheight(&decoder->state) != bih.height)
        return detail::message("JBIG image changes its height from %u to %lu while decoding", bih.height,
                               jbg_dec_getheight(&decoder->state));
    const unsigned char *pixels = jbg_dec_getimage(&decoder->state, 0);
    size_t bytes = jbg_dec_getsize(&decoder->state);
    if (!pixels || bytes != packed_bytes(bih.width, bih.height))
        return "JBIG decoder returned no image";
    image.rows.assign(pixels, pixels + bytes);
    return {};
}

} // namespace varkon::decode
