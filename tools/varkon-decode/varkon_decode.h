// SPDX-License-Identifier: GPL-2.0-or-later
// Reads a Varkon printer stream (platforms C, Z and M) back into its items and
// pages and checks it the way the printer would. The project's tests use it as
// the independent oracle for what rastertoVarkon writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varkon::decode {

enum class Platform { Unknown = 0, C = 1, Z = 2, M = 3 };

// "C", "Z", "M" or "unknown".
const char *platform_name(Platform platform);
// Accepts "C", "Z", "M" in either case; Unknown for anything else.
Platform platform_from_name(const std::string &name);
// Tells the platform from the first bytes of a stream; Unknown when they fit none.
Platform detect_platform(const unsigned char *data, size_t size);

struct Field {
    std::string name;
    std::string text;      // as listed
    long long number = 0;  // the value, for numeric fields
};

// One PJL line, escape sequence, frame (with the data it announces) or run of 00 00 pairs.
struct Item {
    size_t offset = 0;
    size_t length = 0;
    std::string name;
    std::vector<Field> fields;

    const Field *field(const std::string &field_name) const;
    long long number(const std::string &field_name, long long fallback = -1) const;
};

struct Page {
    int number = 0;          // page number the stream gives (C, Z), or order of appearance (M)
    size_t offset = 0;       // offset of the page start frame
    int pass = 1;            // 2 for the pages after the manual-duplex command
    int copy = 1;            // 1 the first time a page appears in its pass, then 2, 3 ... for replays

    uint32_t width = 0;      // pixels
    uint32_t height = 0;     // lines
    int bits_per_pixel = 1;  // 1, or 2 for the four-level pages of platform M
    size_t stride = 0;       // bytes per row in pixels
    // Packed rows, most significant bits first: 1 = black in 1-bit pages, levels 0 (white)
    // to 3 (black) in 2-bit pages. Empty when the decoder was asked not to keep pixels.
    std::vector<unsigned char> pixels;
    uint64_t ink = 0;        // set bits (1-bit) or sum of levels (2-bit) of the decoded image

    // Frame values as sent; -1 where the platform has no such value.
    long long paper_code = -1;
    long long media_type = -1;
    long long tray = -1;
    long long copies = -1;
    long long resolution_x = -1;
    long long resolution_y = -1;
    long long margin_x = -1;
    long long margin_y = -1;
    long long physical_width = -1;
    long long physical_height = -1;
    long long printable_width = -1;
    long long printable_height = -1;
    long long density = -1;
    long long coverage = -1;        // printed points of the coverage frame (C, Z)
    long long image_checksum = -1;  // value of the image data checksum frame (C)
    size_t compressed_bytes = 0;    // JBIG bytes of the page (all bands, all packages)
    int bands = 0;                  // JBIG images the page was sent in

    // Level (0 to 3) or bit (0, 1) of one pixel; requires pixels.
    unsigned level(uint32_t x, uint32_t y) const;
};

struct Violation {
    size_t offset = 0;
    std::string reason;
};

struct DecodedStream {
    Platform platform = Platform::Unknown;
    long long job_id = -1;
    long long job_options = -1;
    long long density = -1;        // job density frame (C, Z)
    long long toner_save = -1;     // C
    long long fine_mode = -1;      // Z
    std::string system_date;       // C, "YYYY-MM-DD"
    std::string job_time;          // Z, the JOBTIME text
    std::string job_owner;         // Z, the JOBOWNER text
    bool job_started = false;
    bool job_ended = false;
    std::optional<size_t> manual_duplex_at;  // offset of the manual-duplex command
    int copies = 0;                // collated copies seen in the first pass

    std::vector<Item> items;
    std::vector<Page> pages;
    std::optional<Violation> violation;  // the first one; decoding stops there

    bool valid() const { return !violation.has_value(); }
};

struct DecodeOptions {
    Platform platform = Platform::Unknown;  // Unknown: detect it from the first bytes
    bool keep_pixels = true;                // false: pages keep their values but no pixels
    uint64_t max_image_bytes = 64u << 20;   // larger announced images are a violation
    // Called once per finished page, with its pixels, before keep_pixels is applied.
    std::function<void(const Page &)> on_page;
};

DecodedStream decode_stream(const unsigned char *data, size_t size, const DecodeOptions &options = {});

// "name field=value ..." as --list shows an item.
std::string format_item(const Item &item);
// "offset 1234: reason".
std::string format_violation(const Violation &violation);
// "platform Z, job 42, 2 pages: 1 4736x6784 1-bit, 2 4736x6784 1-bit; valid".
std::string format_summary(const DecodedStream &stream);

} // namespace varkon::decode
