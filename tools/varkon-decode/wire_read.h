// SPDX-License-Identifier: GPL-2.0-or-later
// Reading multi-byte numbers off the wire. Callers check the bounds of the whole
// frame once; these only assemble bytes, independent of the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varkon::decode {

inline uint32_t get_le16(const unsigned char *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

inline uint32_t get_le32(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t get_be16(const unsigned char *p) { return uint32_t(p[0]) << 8 | uint32_t(p[1]); }

inline uint32_t get_be32(const unsigned char *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// 8-bit wrapping sum, the basis of the short-frame and image checksums.
inline unsigned sum8(const unsigned char *p, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += p[i];
    return sum & 0xFF;
}

} // namespace varkon::decode
