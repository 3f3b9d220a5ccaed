// SPDX-License-Identifier: GPL-2.0-or-later
// The stream decoder on arbitrary bytes: the first byte picks the platform
// (or detection), the rest is the stream. Images are bounded so that a few
// bytes cannot announce gigabytes, and pixels are not kept.
#include "fuzz_input.h"
#include "varkon_decode.h"

using varkon::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace varkon::decode;
    varkon::fuzz::FuzzInput input(data, size);
    DecodeOptions options;
    options.platform = static_cast<Platform>(input.byte() % 4);
    options.keep_pixels = false;
    options.max_image_bytes = 1u << 20;
    options.on_page = [](const Page &page) {
        require(page.pixels.size() <= (1u << 20), "a page image stays within max_image_bytes");
    };
    const std::vector<uint8_t> stream = input.rest();

    const DecodedStream decoded = decode_stream(stream.data(), stream.size(), options);
    for (const Item &item : decoded.items) {
        require(item.offset <= stream.size(), "items start inside the stream");
        format_item(item);
    }
    for (const Page &page : decoded.pages)
        require(page.pixels.empty(), "no pixels are kept when keep_pixels is false");
    if (decoded.violation) {
        require(decoded.violation->offset <= stream.size(), "a violation lies inside the stream");
        format_violation(*decoded.violation);
    }
    format_summary(decoded);
    if (options.platform == Platform::Unknown)
        detect_platform(stream.data(), stream.size());
    return 0;
}
