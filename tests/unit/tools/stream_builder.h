// SPDX-License-Identifier: GPL-2.0-or-later
// Builds printer streams for the decoder's tests by hand, from the wire format
// alone: short frames with their checksums, long frames, JBIG images made with
// libjbig's encoder, and whole jobs of each platform. Independent of the filter.
#pragma once

#include "varkon_decode.h"

extern "C" {
#include <jbig.h>
}

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace varkon::test {

using Bytes = std::vector<unsigned char>;
using decode::Platform;

inline void append(Bytes &out, const Bytes &more) { out.insert(out.end(), more.begin(), more.end()); }
inline void append(Bytes &out, const std::string &text) { out.insert(out.end(), text.begin(), text.end()); }

inline void put_le16(Bytes &out, uint32_t v) { out.push_back(v & 0xFF), out.push_back(v >> 8 & 0xFF); }
inline void put_le32(Bytes &out, uint32_t v) { put_le16(out, v & 0xFFFF), put_le16(out, v >> 16); }
inline void put_be16(Bytes &out, uint32_t v) { out.push_back(v >> 8 & 0xFF), out.push_back(v & 0xFF); }
inline void put_be32(Bytes &out, uint32_t v) { put_be16(out, v >> 16), put_be16(out, v & 0xFFFF); }

inline unsigned byte_sum(const unsigned char *p, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += p[i];
    return sum & 0xFF;
}

// A short frame from its code and parameters: leading byte, length and checksum added.
inline Bytes short_frame(unsigned code, const Bytes &params = {})
{
    Bytes frame = {0x0B, static_cast<unsigned char>(params.size() + 4), static_cast<unsigned char>(code)};
    append(frame, params);
    frame.push_back(static_cast<unsigned char>(0x100 - byte_sum(frame.data(), frame.size())));
    return frame;
}

inline Bytes long_header(uint32_t length, uint32_t type, uint32_t params = 0)
{
    Bytes header;
    put_be32(header, length);
    put_be32(header, type);
    put_be32(header, params);
    put_be16(header, params * 12);
    header.push_back('Z');
    header.push_back('Z');
    return header;
}

inline Bytes long_param(uint32_t code, uint32_t value)
{
    Bytes entry;
    put_be32(entry, 12);
    put_be16(entry, code);
    entry.push_back(1);
    entry.push_back(0);
    put_be32(entry, value);
    return entry;
}

const Bytes kUel = {0x1B, '%', '-', '1', '2', '3', '4', '5', 'X'};
const Bytes kUelC = {0x1B, 0xFF, '-', '1', '2', '3', '4', '5', 'X'};
const Bytes kZeros = {0, 0};

// Packed 1-bit rows (1 = black), or 2-bit levels when bits is 2; width in pixels.
struct TestImage {
    uint32_t width = 0;
    uint32_t height = 0;
    int bits = 1;
    Bytes rows;
    uint32_t encoded_width() const { return width * bits; }
    size_t stride() const { return (encoded_width() + 7) / 8; }
};

// Diagonal stripes and a frame, different per seed; noise makes it hard to compress.
inline TestImage make_image(uint32_t width, uint32_t height, int bits = 1, unsigned seed = 1, bool noise = false)
{
    TestImage image{width, height, bits, {}};
    image.rows.assign(image.stride() * height, 0);
    uint32_t state = seed * 2654435761u + 12345;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345;
            unsigned level = noise ? (state >> 16) & ((1u << bits) - 1)
                                   : ((x + y + seed) / 7 % 3 == 0 || x == 0 || y == 0) ? (1u << bits) - 1
                                                                                        : (x * y + seed) % (1u << bits) / 2;
            size_t bit = size_t(x) * bits;
            image.rows[y * image.stride() + bit / 8] |= level << (8 - bits - bit % 8);
        }
    return image;
}

struct JbigParams {
    int order = 0;
    int options = 0x08;
    uint32_t stripe_lines = 768;
    int mx = 8;
};

constexpr JbigParams kJbigC = {0, 0x08, 768, 8};
constexpr JbigParams kJbigZ = {3, 0x58, 256, 0};
constexpr JbigParams kJbigM = {3, 0x5C, 256, 0};

inline void collect(unsigned char *start, size_t len, void *out)
{
    static_cast<Bytes *>(out)->insert(static_cast<Bytes *>(out)->end(), start, start + len);
}

// One JBIG image entity of `height` rows starting at `rows`.
inline Bytes jbig_encode(const unsigned char *rows, uint32_t width, uint32_t height, const JbigParams &params)
{
    Bytes out;
    Bytes copy(rows, rows + (width + 7) / 8 * size_t(height));
    unsigned char *planes[1] = {copy.data()};
    jbg_enc_state state;
    jbg_enc_init(&state, width, height, 1, planes, collect, &out);
    jbg_enc_layers(&state, 0);
    jbg_enc_lrange(&state, 0, -1);
    jbg_enc_options(&state, params.order, params.options, params.stripe_lines, params.mx, 0);
    jbg_enc_out(&state);
    jbg_enc_free(&state);
    return out;
}

struct PageOptions {
    int number = 1;
    unsigned paper = 9;
    unsigned copies = 1;
};

// Whole jobs, assembled piece by piece in the order the printers take them.
struct JobBuilder {
    Platform platform;
    Bytes out;

    explicit JobBuilder(Platform p) : platform(p) {}

    void zeros() { append(out, kZeros); }

    void job_start()
    {
        if (platform == Platform::C)
            job_start_c();
        else if (platform == Platform::Z)
            job_start_z();
        else
            job_start_m();
    }

    void job_start_c()
    {
        append(out, kUelC);
        append(out, short_frame(0x16));
        append_end_of_job();
        append(out, std::string("versions=3.1.2.1"));
        zeros();
        append(out, kUel);
        append(out, std::string("@PJL\r\n@PJL ENTER LANGUAGE=PL\r\n"));
        zeros();
        append(out, short_frame(0x11, {44, 0x30}));
        zeros();
        append(out, short_frame(0x19, {0}));
        zeros();
        append(out, short_frame(0x15, {3}));
        append(out, short_frame(0x1F, {0xEA, 0x07, 12, 7}));
    }

    void job_start_z()
    {
        append(out, kUel);
        append(out, std::string("@PJL\r\n@PJL JOBTIME=05:14:07:12:2026\r\n@PJL JOBOWNER=testhost\r\n"
                                "@PJL ENTER LANGUAGE=PL\r\n"));
        zeros();
        append(out, short_frame(0x1F, {1}));
        zeros();
        append(out, short_frame(0x11, {0x30, 0x2C, 0x01, 0, 0}));
        zeros();
        append(out, short_frame(0x15, {3}));
        zeros();
    }

    void job_start_m()
    {
        append(out, kUel);
        append(out, std::string("JZJZ"));
        Bytes toner = long_header(88, 0x11);
        toner.resize(88, 0);
        append(out, toner);
        append(out, long_header(52, 0x00, 3));
        append(out, long_param(0, 0));
        append(out, long_param(1, 0));
        append(out, long_param(2, 1));
    }

    void append_end_of_job()
    {
        append(out, kUel);
        append(out, std::string("@PJL\r\n@PJL EOJ\r\n"));
        append(out, kUel);
        append(out, std::string("\r\n"));
    }

    void job_end()
    {
        if (platform == Platform::C) {
            zeros();
            append(out, short_frame(0x31, {0x80}));
            zeros();
        }
        if (platform == Platform::M) {
            append(out, long_header(16, 0x01));
            append(out, kUel);
            return;
        }
        append(out, short_frame(0x17));
        append_end_of_job();
    }

    void manual_duplex()
    {
        if (platform == Platform::M)
            append(out, long_header(16, 0x0B));
        else
            append(out, short_frame(platform == Platform::C ? 0x30 : 0x1B));
    }

    Bytes page_spec(const PageOptions &page) const
    {
        Bytes p = {static_cast<unsigned char>(page.paper), 0, 60, 60, 1, 0};
        put_le16(p, page.copies);
        put_le16(p, 0);
        put_le16(p, 0);
        put_le16(p, page.number);
        return short_frame(0x12, p);
    }

    static Bytes raster_header(uint32_t width, uint32_t height, uint32_t raster_width, uint32_t raster_height,
                               uint32_t compressed)
    {
        Bytes p = {0, 0x20};
        put_le16(p, width);
        put_le16(p, height);
        put_le16(p, raster_width);
        put_le16(p, raster_height);
        put_le32(p, compressed);
        return short_frame(0x0C, p);
    }

    void page(const TestImage &image, const PageOptions &options = {})
    {
        if (platform == Platform::C)
            page_c(image, options);
        else if (platform == Platform::Z)
            page_z(image, options);
        else
            page_m(image, options);
    }

    void page_c(const TestImage &image, const PageOptions &options)
    {
        zeros();
        append(out, page_spec(options));
        zeros();
        append(out, short_frame(0x13, Bytes(8, 0)));
        zeros();
        append(out, short_frame(0x32));
        zeros();
        Bytes bie = jbig_encode(image.rows.data(), image.width, image.height, kJbigC);
        append(out, raster_header(image.width, image.height, image.width, 768, bie.size()));
        append(out, bie);
        append(out, kUelC);
        zeros();
        unsigned checksum = (byte_sum(bie.data(), bie.size()) + 670) & 0xFF;
        append(out, short_frame(0x1A, {static_cast<unsigned char>(checksum), 0}));
        zeros();
        append(out, short_frame(0x1E, {0xE8, 0x03}));
        zeros();
        append(out, short_frame(0x18));
    }

    static Bytes band_frame(uint32_t width, uint32_t lines, uint32_t size, uint32_t first_line)
    {
        Bytes p = {0, 0, 1, 0};
        put_le32(p, width);
        put_le32(p, lines);
        put_le32(p, lines);
        p.insert(p.end(), {0, 0, 3, 0x58});
        put_le32(p, size);
        put_le32(p, size);
        put_le32(p, 0);
        put_le32(p, first_line);
        put_le32(p, 3);
        put_le32(p, 0);
        return short_frame(0x1A, p);
    }

    void page_z(const TestImage &image, const PageOptions &options)
    {
        zeros();
        append(out, page_spec(options));
        zeros();
        append(out, short_frame(0x13, Bytes(8, 0)));
        zeros();
        append(out, short_frame(0x19, {0x3F, 0x3F, 0x00}));
        zeros();
        append(out, raster_header(image.width, image.height, 0, 0, 0));
        for (uint32_t y = 0; y < image.height; y += 256) {
            uint32_t lines = image.height - y < 256 ? image.height - y : 256;
            JbigParams params = kJbigZ;
            params.stripe_lines = lines;
            Bytes bie = jbig_encode(image.rows.data() + y * image.stride(), image.width, lines, params);
            append(out, band_frame(image.width, lines, bie.size(), y));
            append(out, bie);
        }
        zeros();
        append(out, short_frame(0x18));
    }

    void page_m(const TestImage &image, const PageOptions &options)
    {
        append(out, long_header(184, 0x02, 14));
        const uint32_t params[][2] = {
            {0x0003, options.paper}, {0x0004, options.copies}, {0x0005, 1}, {0x0006, 0}, {0x0007, 1},
            {0x0008, 600}, {0x0009, 600}, {0x0016, 0}, {0x000C, image.encoded_width()}, {0x000D, image.height},
            {0x0010, uint32_t(image.bits)}, {0x0011, image.width}, {0x0012, image.height}, {0xFF00, 3},
        };
        for (const auto &param : params)
            append(out, long_param(param[0], param[1]));
        Bytes bie = jbig_encode(image.rows.data(), image.encoded_width(), image.height, kJbigM);
        Bytes jbig_param = long_header(36, 0x04);
        jbig_param.insert(jbig_param.end(), bie.begin(), bie.begin() + 20);
        append(out, jbig_param);
        for (size_t at = 0; at < bie.size(); at += 65536) {
            size_t n = bie.size() - at < 65536 ? bie.size() - at : 65536;
            append(out, long_header(16 + n, 0x05));
            out.insert(out.end(), bie.begin() + at, bie.begin() + at + n);
        }
        append(out, long_header(16, 0x06));
        append(out, long_header(16, 0x03));
    }

    // A one-page job.
    static Bytes one_page(Platform platform, const TestImage &image)
    {
        JobBuilder job(platform);
        job.job_start();
        job.page(image);
        job.job_end();
        return job.out;
    }
};

inline decode::DecodedStream decode_bytes(const Bytes &bytes, Platform platform = Platform::Unknown)
{
    decode::DecodeOptions options;
    options.platform = platform;
    return decode::decode_stream(bytes.data(), bytes.size(), options);
}

// Offset of the n-th item (from 0) with that name, or SIZE_MAX.
inline size_t item_offset(const decode::DecodedStream &stream, const std::string &name, int n = 0)
{
    for (const decode::Item &item : stream.items)
        if (item.name == name && n-- == 0)
            return item.offset;
    return SIZE_MAX;
}

// Rewrites the checksum of the short frame at `at` after a test changed it.
inline void fix_checksum(Bytes &bytes, size_t at)
{
    size_t length = bytes[at + 1];
    bytes[at + length - 1] = static_cast<unsigned char>(0x100 - byte_sum(bytes.data() + at, length - 1));
}

} // namespace varkon::test
