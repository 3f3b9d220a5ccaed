// SPDX-License-Identifier: GPL-2.0-or-later
// Text forms of items, violations and the one-line summary of a stream.
#include "stream_items.h"

namespace varkon::decode {

std::string format_item(const Item &item)
{
    std::string text = item.name;
    for (const Field &field : item.fields)
        text += " " + field.name + "=" + field.text;
    if (item.length > 0)
        text += detail::message(" (%zu bytes)", item.length);
    return text;
}

std::string format_violation(const Violation &violation)
{
    return detail::message("offset %zu: ", violation.offset) + violation.reason;
}

std::string format_summary(const DecodedStream &stream)
{
    std::string text = std::string("platform ") + platform_name(stream.platform);
    text += stream.job_id >= 0 ? detail::message(", job %lld", stream.job_id) : std::string(", no job id");
    text += detail::message(", %zu page%s", stream.pages.size(), stream.pages.size() == 1 ? "" : "s");
    const char *separator = ": ";
    for (const Page &page : stream.pages) {
        text += separator + detail::message("%d %ux%u %d-bit", page.number, page.width, page.height,
                                            page.bits_per_pixel);
        if (page.copy > 1)
            text += detail::message(" (copy %d)", page.copy);
        separator = ", ";
    }
    if (stream.manual_duplex_at)
        text += "; manual duplex";
    text += stream.valid() ? "; valid" : "; invalid";
    return text;
}

} // namespace varkon::decode
