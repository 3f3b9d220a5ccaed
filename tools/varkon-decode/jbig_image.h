// SPDX-License-Identifier: GPL-2.0-or-later
// The JBIG (T.82) images inside the stream: their 20-byte header and decoding
// with libjbig, bounded by the size the caller allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varkon::decode {

constexpr size_t kBihBytes = 20;

// T.82 bi-level image header, numbers big-endian on the wire.
struct Bih {
    unsigned dl = 0, d = 0, planes = 0, reserved = 0;
    uint32_t width = 0, height = 0, stripe_lines = 0;
    unsigned mx = 0, my = 0, order = 0, options = 0;
};

// False when fewer than 20 bytes are given.
bool parse_bih(const unsigned char *data, size_t size, Bih &bih);

// Bytes of a packed image of that size, 8 pixels per byte, rows padded to bytes.
uint64_t packed_bytes(uint64_t width, uint64_t height);

struct DecodedImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<unsigned char> rows;  // (width + 7) / 8 bytes per row, 1 = black
};

// Decodes one whole image entity that must take exactly size bytes. Returns an
// empty string on success, else the reason in plain words.
std::string decode_jbig(const unsigned char *data, size_t size, uint64_t max_image_bytes, DecodedImage &image);

} // namespace varkon::decode
