// SPDX-License-Identifier: GPL-2.0-or-later
// Printer texts made safe for the job log.
#include "printer_text.h"

#include <cstring>

std::string varkon::loggable_printer_text(const char *text, std::size_t max_length)
{
    if (!text)
        return {};
    std::string shown(text, strnlen(text, max_length));
    for (char &c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = '?';
    }
    return shown;
}
