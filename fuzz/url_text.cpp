// SPDX-License-Identifier: GPL-2.0-or-later
// Percent-decoding and -encoding of URI text on arbitrary bytes: no read past
// the terminator (a trailing "%" or "%4"), no write past the field, and the
// two directions agree.
#include "fuzz_input.h"
#include "liaison.h"
#include "url_text.h"

#include <cstring>
#include <string>
#include <vector>

using varkon::fuzz::require;

namespace {

constexpr size_t kUriField = 1024;

// The text in a buffer of exactly its length plus the terminator.
std::vector<char> exact_text(const std::string &text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

std::string reference_encoding(const std::string &text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '.')
            out += static_cast<char>(c);
        else
            out += {'%', kHex[c >> 4], kHex[c & 15]};
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    varkon::fuzz::FuzzInput input(data, size);
    const size_t capacity = 1 + input.u16() % (2 * kUriField);
    const std::vector<uint8_t> rest = input.rest();
    const std::string raw(rest.begin(), rest.end());
    const std::string text = raw.substr(0, raw.find('\0'));

    std::vector<char> decoded = exact_text(text);
    urldecode(decoded.data());
    require(std::strlen(decoded.data()) <= text.size(), "decoding never lengthens the text");

    // Encoding within a field of `capacity` bytes: a prefix of the full
    // encoding, cut at a whole escape, that decodes to a prefix of the text.
    const std::string fitting = text.substr(0, capacity - 1);
    std::vector<char> field(std::max(capacity, fitting.size() + 1), '\0');
    std::memcpy(field.data(), fitting.c_str(), fitting.size() + 1);
    const size_t length = varkon::urlencode_bounded(field.data(), capacity);
    const std::string encoded(field.data());
    const std::string full = reference_encoding(fitting);
    require(length == encoded.size() && length < std::min(capacity, kUriField), "the result fits its field");
    require(full.compare(0, length, encoded) == 0, "the result is a prefix of the full encoding");
    std::vector<char> round = exact_text(encoded);
    urldecode(round.data());
    const std::string back(round.data());
    require(fitting.compare(0, back.size(), back) == 0 && back.size() <= fitting.size(),
            "decoding the encoding gives back a prefix of the text");
    require(length != full.size() || back == fitting, "a whole encoding decodes back to the text");

    // The one-argument encoder works in the filter's 1024-byte URI fields.
    std::vector<char> uri_field(kUriField, '\0');
    std::memcpy(uri_field.data(), text.data(), std::min(text.size(), kUriField - 1));
    urlencode(uri_field.data());
    require(std::strlen(uri_field.data()) < kUriField, "urlencode stays inside its field");

    for (const char c : text) {
        const int value = hex2dec(c);
        require(value == -1 || (value >= 0 && value <= 15), "hex2dec gives a digit value or -1");
        if (value >= 0)
            require(hex2dec(dec2hex(static_cast<short>(value))) == value, "dec2hex inverts hex2dec");
    }
    return 0;
}
