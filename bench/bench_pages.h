// SPDX-License-Identifier: GPL-2.0-or-later
// Synthetic A4 pages at 600 dpi for the benchmarks: a text-like page (mostly white,
// dense short strokes in lines) and a photo-like page (smooth tones with grain).
#pragma once

#include <cstdint>
#include <vector>

namespace varkon::bench {

// A4 at 600 dpi, the width rounded up to a multiple of 32 as the job loop does.
constexpr uint32_t kA4Width = 4960;
constexpr uint32_t kA4Height = 7016;

enum class PageKind { Text, Photo };

// One gray byte per pixel, 0 black, 255 white.
std::vector<unsigned char> gray_page(PageKind kind, uint32_t width = kA4Width, uint32_t height = kA4Height);

const char *page_kind_name(PageKind kind);

} // namespace varkon::bench
