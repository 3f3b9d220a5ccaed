// SPDX-License-Identifier: GPL-2.0-or-later
// One page at a time: its frame values, its JBIG data checked against the frames
// that describe it, decoded into pixels, and a digest of its bytes so that
// replayed copies can be compared with the first one.
#pragma once

#include "jbig_image.h"
#include "stream_items.h"

#include <string>
#include <vector>

namespace varkon::decode::detail {

class PageAssembler {
public:
    PageAssembler(Platform platform, uint64_t max_image_bytes);

    // Opens a page with its page start item (page specification, START_PAGE_CMD).
    std::string begin(const Token &token, int ordinal);
    // Every further item of the page, the page end included.
    std::string take(const Token &token);
    // Final checks at the page end; hands the page over.
    std::string finish(Page &page);

    uint64_t digest() const { return digest_; }
    const Page &page() const { return page_; }

private:
    std::string begin_short(const Token &token);
    std::string begin_long(const Token &token);
    std::string take_custom_paper(const Item &item);
    std::string take_coverage(const Item &item);
    std::string take_raster_header(const Token &token);
    std::string take_raster_c(const Token &token);
    std::string take_band(const Token &token);
    std::string take_band_bih(const Item &item, const Bih &bih);
    std::string take_jbig_param(const Item &item);
    std::string take_jbig_data(const Token &token);
    std::string take_jbig_end();
    std::string place_image(const DecodedImage &image, uint32_t first_line);
    void add_digest(const Token &token);

    Platform platform_;
    uint64_t max_image_bytes_;
    Page page_;
    uint64_t digest_ = 0;

    unsigned image_sum_ = 0;       // C: compressed bytes and what follows up to the checksum frame
    uint32_t lines_ = 0;           // Z: lines the bands have delivered so far
    Item jbig_param_;              // M: the JBIG parameter frame
    std::vector<unsigned char> jbig_;  // M: the page's packages joined
    size_t last_package_ = 0;      // M: payload of the previous package
    uint32_t image_width_ = 0;     // encoded width: IMG_WIDTH_PARAM (M), raster header width (C, Z)
};

} // namespace varkon::decode::detail
