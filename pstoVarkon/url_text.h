// SPDX-License-Identifier: GPL-2.0-or-later
// Percent-encoding with a known buffer size; the one-argument urlencode of
// liaison.h assumes the 1024-byte URI fields that the rest of the filter uses.
#pragma once

#include <cstddef>

namespace varkon {

// Encodes `text` in place within `capacity` bytes (terminator included). An
// escape that would not fit is left out whole, so the result stays a valid
// prefix of the full encoding. Returns the length of the result.
std::size_t urlencode_bounded(char *text, std::size_t capacity);

} // namespace varkon
