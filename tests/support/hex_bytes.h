// SPDX-License-Identifier: GPL-2.0-or-later
// Byte strings written and shown as hex, so that frame tests read like the wire
// examples they check and fail with a readable diff.
#pragma once

#include <cstddef>
#include <string>

namespace varkon::test {

// "0B 04 32 BF" -> the four bytes. Blanks between bytes are optional.
std::string bytes(const std::string &hex);

// The bytes as upper-case hex pairs separated by blanks.
std::string hex(const std::string &data);
std::string hex(const unsigned char *data, size_t len);

} // namespace varkon::test
