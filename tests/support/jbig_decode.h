// SPDX-License-Identifier: GPL-2.0-or-later
// Decodes a JBIG bi-level image entity with libjbig's own decoder, so that tests
// can check what the printer would reconstruct from the encoder's output.
// Header-only: only the tests linked with the raster filter's library (and so
// with libjbig) include it.
#pragma once

extern "C" {
#include <jbig.h>
}

#include <algorithm>
#include <string>
#include <vector>

namespace varkon::test {

struct DecodedImage {
    int status = -1;        // JBG_EOK when the entity was complete and valid
    size_t consumed = 0;    // bytes the decoder took: the entity's own length
    unsigned long width = 0;
    unsigned long height = 0;
    std::vector<unsigned char> plane; // rows padded to whole bytes
};

// Feeds `bie` to the decoder in pieces of at most `chunk` bytes.
inline DecodedImage jbig_decode(const std::string &bie, size_t chunk = std::string::npos)
{
    DecodedImage image;
    jbg_dec_state state;
    jbg_dec_init(&state);
    auto *data = reinterpret_cast<unsigned char *>(const_cast<char *>(bie.data()));
    int status = JBG_EAGAIN;
    while (image.consumed < bie.size() && status == JBG_EAGAIN) {
        const size_t piece = std::min(chunk, bie.size() - image.consumed);
        size_t taken = 0;
        status = jbg_dec_in(&state, data + image.consumed, piece, &taken);
        image.consumed += taken;
    }
    image.status = status;
    if (status == JBG_EOK) {
        image.width = jbg_dec_getwidth(&state);
        image.height = jbg_dec_getheight(&state);
        const unsigned char *plane = jbg_dec_getimage(&state, 0);
        image.plane.assign(plane, plane + jbg_dec_getsize(&state));
    }
    jbg_dec_free(&state);
    return image;
}

} // namespace varkon::test
