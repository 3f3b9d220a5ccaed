// SPDX-License-Identifier: GPL-2.0-or-later
// Hexadecimal digits and in-place percent-encoding and -decoding of URI text.
#include "liaison.h"
#include "url_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string encoded(const std::string &text)
{
    std::vector<char> buffer(1024, '\0');
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    urlencode(buffer.data());
    return buffer.data();
}

// Decodes in a heap block of exactly the text's size, so that a read past the
// terminator shows under AddressSanitizer.
std::string decoded(const std::string &text)
{
    std::vector<char> buffer(text.c_str(), text.c_str() + text.size() + 1);
    urldecode(buffer.data());
    return std::string(buffer.data());
}

TEST(HexDigits, ValuesOfEveryDigitAndNoneForOtherCharacters)
{
    const std::string digits = "0123456789abcdef";
    for (int v = 0; v < 16; ++v) {
        EXPECT_EQ(hex2dec(digits[v]), v);
        EXPECT_EQ(hex2dec(static_cast<char>(std::toupper(digits[v]))), v);
    }
    for (char c : std::string("gG/:@ %\x7f"))
        EXPECT_EQ(hex2dec(c), -1) << c;
    EXPECT_EQ(hex2dec('\0'), -1);
}

TEST(HexDigits, UpperCaseDigitsAndFFOutsideTheRange)
{
    EXPECT_EQ(dec2hex(0), '0');
    EXPECT_EQ(dec2hex(9), '9');
    EXPECT_EQ(dec2hex(10), 'A');
    EXPECT_EQ(dec2hex(15), 'F');
    EXPECT_EQ(static_cast<unsigned char>(dec2hex(16)), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(dec2hex(-1)), 0xFF);
}

TEST(UrlEncode, KeepsAlphanumericsSlashAndDotAndEscapesTheRest)
{
    EXPECT_EQ(encoded("a b/c.d"), "a%20b/c.d");
    EXPECT_EQ(encoded("-_~"), "%2D%5F%7E");
    EXPECT_EQ(encoded("socket://host:9100"), "socket%3A//host%3A9100");
    EXPECT_EQ(encoded("\xC3\xA9\xFF"), "%C3%A9%FF");
    EXPECT_EQ(encoded("AZaz09/."), "AZaz09/.");
    EXPECT_EQ(encoded(""), "");
}

TEST(UrlEncode, EveryByteSurvivesARoundTrip)
{
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    std::vector<char> buffer(1024, '\0');
    std::memcpy(buffer.data(), all.c_str(), all.size() + 1);
    urlencode(buffer.data());
    urldecode(buffer.data());
    EXPECT_EQ(std::string(buffer.data()), all);
}

TEST(UrlEncode, CutsAtAWholeEscapeWhenTheResultWouldNotFit)
{
    // The caller's block is exactly the text's six bytes: "ab%20" and its
    // terminator fill it, "cd" no longer fits.
    std::vector<char> buffer(16, '#');
    std::memcpy(buffer.data(), "ab cd", 6);
    EXPECT_EQ(varkon::urlencode_bounded(buffer.data(), 6), 5u);
    EXPECT_STREQ(buffer.data(), "ab%20");
    EXPECT_EQ(buffer[6], '#'); // nothing written past the capacity

    std::memcpy(buffer.data(), "abc ", 5);
    EXPECT_EQ(varkon::urlencode_bounded(buffer.data(), 6), 3u); // "%20" would need 7 bytes
    EXPECT_STREQ(buffer.data(), "abc");
}

TEST(UrlEncode, NeverWritesPastTheUriField)
{
    // 600 blanks encode to 1800 bytes; the unbounded form stops at 1023 + terminator.
    std::vector<char> field(1024 + 16, '#');
    std::memset(field.data(), ' ', 600);
    field[600] = '\0';
    urlencode(field.data());
    EXPECT_EQ(std::strlen(field.data()), 1023u);
    EXPECT_EQ(field[1024], '#');
    const std::string result(field.data());
    EXPECT_EQ(result.substr(result.size() - 3), "%20");
}

TEST(UrlDecode, DecodesEscapesAndKeepsEverythingElse)
{
    EXPECT_EQ(decoded("%41%62c"), "Abc");
    EXPECT_EQ(decoded("a+b"), "a+b");
    EXPECT_EQ(decoded("ipp://h/printers/My%20Printer"), "ipp://h/printers/My Printer");
    EXPECT_EQ(decoded("%zz"), "\xEF");   // no validation: (-1 * 16) + -1
    EXPECT_EQ(decoded("%4g"), "\x3F");   // 4 * 16 - 1
    EXPECT_EQ(decoded("%%41"), "\xF4" "1"); // the second '%' is consumed as a digit
}

TEST(UrlDecode, AnUnfinishedEscapeAtTheEndIsKeptAndNothingPastTheTextIsRead)
{
    EXPECT_EQ(decoded("%"), "%");
    EXPECT_EQ(decoded("abc%"), "abc%");
    EXPECT_EQ(decoded("%4"), "%4");
    EXPECT_EQ(decoded("x%41%4"), "xA%4");
}

TEST(UrlDecode, TextsLongerThanTheUriFieldAreDecodedWhole)
{
    std::string text;
    for (int i = 0; i < 700; ++i)
        text += "%41";
    EXPECT_EQ(decoded(text), std::string(700, 'A'));
    EXPECT_EQ(decoded(std::string(3000, 'b')), std::string(3000, 'b'));
}

} // namespace
