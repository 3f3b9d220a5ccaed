// SPDX-License-Identifier: GPL-2.0-or-later
// The value of a hexadecimal digit, for the percent-escapes of device URIs
// that the filter and the test backend both read.
#pragma once

namespace varkon {

// 0 to 15 for a digit of either case, -1 for any other character.
constexpr int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace varkon
