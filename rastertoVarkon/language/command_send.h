// SPDX-License-Identifier: GPL-2.0-or-later
// Sending one item of a command sequence through the output sink, and the failure
// text that the command layer leaves in prntLastError when a write fails.
#pragma once

#include <array>
#include <cstddef>

namespace varkon {

// The sink's cache flag: cached bytes are also spooled for collation and manual
// duplex; device bytes go to the printer stream only.
constexpr int kCached = 1;
constexpr int kDevice = 0;

// Sends `count` bytes; on failure puts `failure` in front of prntLastError.
// Returns 1 when the sink accepted the bytes, else 0.
int send_item(const unsigned char *data, size_t count, int cache, const char *failure);

template <size_t N>
int send_item(const std::array<unsigned char, N> &bytes, int cache, const char *failure)
{
    return send_item(bytes.data(), N, cache, failure);
}

// Puts `failure` in front of prntLastError and returns 0, for the callers' tail returns.
int fail(const char *failure);

} // namespace varkon
