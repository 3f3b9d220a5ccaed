// SPDX-License-Identifier: GPL-2.0-or-later
// Byte-order helpers for building printer frames field by field, independent of the host.
#pragma once

#include <cstdint>

namespace varkon {

inline void put_le16(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}

inline void put_le32(unsigned char *p, uint32_t v)
{
    put_le16(p, v & 0xFFFF);
    put_le16(p + 2, v >> 16);
}

inline void put_be16(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>((v >> 8) & 0xFF);
    p[1] = static_cast<unsigned char>(v & 0xFF);
}

inline void put_be32(unsigned char *p, uint32_t v)
{
    put_be16(p, v >> 16);
    put_be16(p + 2, v & 0xFFFF);
}

inline uint32_t get_le16(const unsigned char *p) { return p[0] | (uint32_t(p[1]) << 8); }
inline uint32_t get_le32(const unsigned char *p) { return get_le16(p) | (get_le16(p + 2) << 16); }
inline uint32_t get_be16(const unsigned char *p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t get_be32(const unsigned char *p) { return (get_be16(p) << 16) | get_be16(p + 2); }

} // namespace varkon
