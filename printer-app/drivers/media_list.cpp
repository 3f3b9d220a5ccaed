// SPDX-License-Identifier: GPL-2.0-or-later
// PWG media names and sizes for the rows of a paper table.
#include "media_list.h"

#include "model_capabilities.h"

#include <cups/cups.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace varkon::app {

namespace {

int points_to_hundredths_mm(double points) { return static_cast<int>(std::lround(points * 2540.0 / 72.0)); }

// Margins are rounded up: the image must fit inside what a client is told.
int margin_hundredths_mm(int hundredthsPt) { return (hundredthsPt * 2540 + 7199) / 7200; }

// The standard PWG name of a size, or one of ours where PWG has none, in the
// self-describing form: "om_16k_184.86x260mm".
std::string pwg_name(const PAPER_SIZE_INFO &row, int width, int length)
{
    pwg_media_t *media = pwgMediaForSize(width, length);
    if (media != nullptr && std::strncmp(media->pwg, "custom_", 7) != 0)
        return media->pwg;
    std::string name = "om_";
    for (const char *c = row.strPageSize; *c != '\0'; ++c)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    char size[64];
    std::snprintf(size, sizeof size, "_%gx%gmm", width / 100.0, length / 100.0);
    return name + size;
}

} // namespace

std::vector<MediaSize> media_sizes(const PAPER_SIZE_INFO *rows)
{
    std::vector<MediaSize> sizes;
    std::set<std::string> seen;
    for (const PAPER_SIZE_INFO *row = rows; row->cupsPaperW != -1; ++row) {
        ImageableMargins margins{};
        if (!seen.insert(row->strPageSize).second || !imageable_margins(*row, &margins))
            continue;
        MediaSize size;
        size.row = row;
        size.width = points_to_hundredths_mm(row->cupsPaperW);
        size.length = points_to_hundredths_mm(row->cupsPaperH);
        size.pwgName = pwg_name(*row, size.width, size.length);
        size.left = margin_hundredths_mm(margins.left);
        size.bottom = margin_hundredths_mm(margins.bottom);
        size.right = margin_hundredths_mm(margins.right);
        size.top = margin_hundredths_mm(margins.top);
        sizes.push_back(size);
    }
    return sizes;
}

bool snap_page_size(cups_page_header2_t *header, const PAPER_SIZE_INFO *rows)
{
    int32_t feed = 0;
    if (rows == nullptr || GetPaperArrayIndex(header->PageSize, rows, &feed) >= 0)
        return false;
    for (const PAPER_SIZE_INFO *row = rows; row->cupsPaperW != -1; ++row) {
        const long dw = static_cast<long>(header->PageSize[0]) - row->cupsPaperW;
        const long dh = static_cast<long>(header->PageSize[1]) - row->cupsPaperH;
        if (std::labs(dw) <= 1 && std::labs(dh) <= 1) {
            header->PageSize[0] = static_cast<unsigned>(row->cupsPaperW);
            header->PageSize[1] = static_cast<unsigned>(row->cupsPaperH);
            return true;
        }
    }
    return false;
}

} // namespace varkon::app
