// SPDX-License-Identifier: GPL-2.0-or-later
// Hex text to bytes and back, for byte-exact frame tests.
#include "hex_bytes.h"

#include <cctype>
#include <stdexcept>

namespace varkon::test {

std::string bytes(const std::string &hex)
{
    std::string out;
    std::string digits;
    for (char c : hex) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw std::invalid_argument("not a hex digit in: " + hex);
        digits += c;
        if (digits.size() == 2) {
            out += static_cast<char>(std::stoi(digits, nullptr, 16));
            digits.clear();
        }
    }
    if (!digits.empty())
        throw std::invalid_argument("odd number of hex digits in: " + hex);
    return out;
}

std::string hex(const unsigned char *data, size_t len)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < len; ++i) {
        if (i != 0)
            out += ' ';
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

std::string hex(const std::string &data)
{
    return hex(reinterpret_cast<const unsigned char *>(data.data()), data.size());
}

} // namespace varkon::test
