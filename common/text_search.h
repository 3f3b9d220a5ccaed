// SPDX-License-Identifier: GPL-2.0-or-later
// Substring tests on job text: the option text, PPD values and PostScript lines.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string_view>

namespace varkon {

inline bool same_letter(char a, char b)
{
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Position of the first `needle` in `text`, letters compared without case; npos when absent.
inline std::size_t find_nocase(std::string_view text, std::string_view needle)
{
    const auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(), same_letter);
    return it == text.end() && !needle.empty() ? std::string_view::npos
                                               : static_cast<std::size_t>(it - text.begin());
}

inline bool contains_nocase(std::string_view text, std::string_view needle)
{
    return find_nocase(text, needle) != std::string_view::npos;
}

inline bool contains(std::string_view text, std::string_view needle)
{
    return text.find(needle) != std::string_view::npos;
}

} // namespace varkon
