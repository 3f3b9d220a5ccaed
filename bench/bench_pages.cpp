// SPDX-License-Identifier: GPL-2.0-or-later
// Synthetic gray pages: deterministic, so that runs compare.
#include "bench_pages.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace varkon::bench {

namespace {

// Lines of "glyphs": random strokes in cells of 40 x 60 pixels (about 12 pt text),
// with margins and line spacing left white.
void draw_text(std::vector<unsigned char> &page, uint32_t width, uint32_t height)
{
    std::mt19937 random(42);
    const uint32_t margin = 600, cellW = 40, cellH = 60, leading = 100;
    for (uint32_t top = margin; top + cellH < height - margin; top += leading) {
        for (uint32_t left = margin; left + cellW < width - margin; left += cellW) {
            if (random() % 7 == 0) // word gap
                continue;
            for (int stroke = 0; stroke < 3; ++stroke) {
                const uint32_t x0 = left + random() % (cellW - 8), y0 = top + random() % (cellH - 8);
                const bool vertical = random() % 2 == 0;
                const uint32_t w = vertical ? 6 : 4 + random() % 28, h = vertical ? 10 + random() % 40 : 6;
                for (uint32_t y = y0; y < std::min(y0 + h, top + cellH); ++y)
                    for (uint32_t x = x0; x < std::min(x0 + w, left + cellW); ++x)
                        page[size_t{y} * width + x] = 0;
            }
        }
    }
}

void draw_photo(std::vector<unsigned char> &page, uint32_t width, uint32_t height)
{
    std::mt19937 random(7);
    std::normal_distribution<float> grain(0.0f, 6.0f);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const float fx = static_cast<float>(x) / width, fy = static_cast<float>(y) / height;
            const float tone = 128.0f + 90.0f * std::sin(6.0f * fx + 2.0f * fy) * std::cos(4.0f * fy - fx);
            const float v = tone + grain(random);
            page[size_t{y} * width + x] = static_cast<unsigned char>(std::fmin(255.0f, std::fmax(0.0f, v)));
        }
}

} // namespace

std::vector<unsigned char> gray_page(PageKind kind, uint32_t width, uint32_t height)
{
    std::vector<unsigned char> page(size_t{width} * height, 255);
    if (kind == PageKind::Text)
        draw_text(page, width, height);
    else
        draw_photo(page, width, height);
    return page;
}

const char *page_kind_name(PageKind kind) { return kind == PageKind::Text ? "text" : "photo"; }

} // namespace varkon::bench
