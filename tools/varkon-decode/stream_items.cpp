// SPDX-License-Identifier: GPL-2.0-or-later
// Names and small accessors shared by the readers, the checks and the listing.
#include "stream_items.h"

#include <cstdarg>
#include <iterator>

namespace varkon::decode {

const Field *Item::field(const std::string &field_name) const
{
    for (const Field &f : fields)
        if (f.name == field_name)
            return &f;
    return nullptr;
}

long long Item::number(const std::string &field_name, long long fallback) const
{
    const Field *f = field(field_name);
    return f ? f->number : fallback;
}

unsigned Page::level(uint32_t x, uint32_t y) const
{
    size_t bit = size_t(x) * bits_per_pixel;
    unsigned byte = pixels.at(size_t(y) * stride + bit / 8);
    unsigned shift = 8 - bits_per_pixel - bit % 8;
    return byte >> shift & ((1u << bits_per_pixel) - 1);
}

namespace detail {

namespace {
constexpr const char *kSymNames[] = {
    "00 00",
    "UEL", "UEL_CMD_C", "@PJL line", "@PJL EOJ", "@PJL ENTER LANGUAGE=PL", "@PJL LANGUAGEVERSION line",
    "@PJL JOBTIME line", "@PJL JOBOWNER line", "PJL line",
    "firmware version", "JZJZ",
    "abort", "job specification", "toner save", "density", "system date", "fine mode", "toner parameters",
    "page specification", "custom paper", "host use", "coverage", "raster image header", "JBIG band",
    "image data checksum", "form feed",
    "machine duplex", "manual duplex", "query status", "reset",
    "START_DOC_CMD", "END_DOC_CMD", "START_PAGE_CMD", "END_PAGE_CMD", "JBIG_PARAM_CMD", "JBIG_DATA_CMD",
    "JBIG_END_CMD",
};
static_assert(std::size(kSymNames) == static_cast<size_t>(Sym::JbigEnd) + 1, "one name per symbol");
} // namespace

const char *sym_name(Sym sym) { return kSymNames[static_cast<size_t>(sym)]; }

std::string message(const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

} // namespace detail
} // namespace varkon::decode
