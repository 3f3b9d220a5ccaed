// SPDX-License-Identifier: GPL-2.0-or-later
// URI text utilities: hexadecimal digits and in-place percent-encoding and -decoding.
#include "hex_digit.h"
#include "liaison.h"
#include "url_text.h"

#include <algorithm>
#include <cstring>

namespace {

// The working field of the encoder: no encoded text is longer than this.
constexpr std::size_t kUrlTextField = 1024;

bool kept_unencoded(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '.';
}

} // namespace

int hex2dec(char c) { return varkon::hex_digit_value(c); }

char dec2hex(short value)
{
    if (value >= 0 && value <= 9)
        return static_cast<char>('0' + value);
    if (value >= 10 && value <= 15)
        return static_cast<char>('A' + value - 10);
    return static_cast<char>(0xFF);
}

std::size_t varkon::urlencode_bounded(char *text, std::size_t capacity)
{
    if (!text || capacity == 0)
        return 0;
    const std::size_t limit = std::min(capacity, kUrlTextField) - 1; // room left for the terminator
    char encoded[kUrlTextField];
    std::size_t length = 0;
    for (const char *p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (kept_unencoded(c)) {
            if (length + 1 > limit)
                break;
            encoded[length++] = static_cast<char>(c);
        } else {
            if (length + 3 > limit)
                break;
            encoded[length++] = '%';
            encoded[length++] = dec2hex(static_cast<short>(c >> 4));
            encoded[length++] = dec2hex(static_cast<short>(c & 0x0F));
        }
    }
    encoded[length] = '\0';
    std::memcpy(text, encoded, length + 1);
    return length;
}

// Callers hand in one of the filter's 1024-byte URI fields; the result is cut
// (at a whole escape) where that field ends.
void urlencode(char *text)
{
    varkon::urlencode_bounded(text, kUrlTextField);
}

// Decoding never lengthens the text, so it runs in place without a working
// field and without a length limit. A '%' that is not followed by two more
// characters is kept as it stands: the decoder never reads past the terminator.
void urldecode(char *text)
{
    if (!text)
        return;
    char *out = text;
    for (const char *in = text; *in;) {
        if (in[0] == '%' && in[1] != '\0' && in[2] != '\0') {
            const int value = 16 * hex2dec(in[1]) + hex2dec(in[2]);
            *out++ = static_cast<char>(value & 0xFF);
            in += 3;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}
