// SPDX-License-Identifier: GPL-2.0-or-later
// What the harnesses share: reading values off the fuzzer's bytes, a failed
// property as a crash the fuzzer keeps, and a sink for standard output.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace varkon::fuzz {

// Takes leading values off the input; an exhausted input gives zeros.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Low byte first, in every compiler: operands of | are evaluated in no fixed order.
    uint16_t u16()
    {
        const unsigned low = byte();
        return static_cast<uint16_t>(low | byte() << 8);
    }
    bool flag() { return (byte() & 1) != 0; }

    // At most `max_length` bytes, the length taken from the next byte.
    std::string text(size_t max_length)
    {
        // The length byte is taken first: the order in which function arguments
        // are evaluated is unspecified, and gcc would measure what is left before it.
        const size_t wanted = byte() % (max_length + 1);
        const size_t length = std::min<size_t>(wanted, size_ - pos_);
        std::string out(reinterpret_cast<const char *>(data_ + pos_), length);
        pos_ += length;
        return out;
    }

    // Everything not taken yet, in a buffer of exactly that size.
    std::vector<uint8_t> rest()
    {
        std::vector<uint8_t> out(data_ + pos_, data_ + size_);
        pos_ = size_;
        return out;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// A property that must hold for every input: a violation aborts, which the
// fuzzer records like any crash.
inline void require(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "fuzz property violated: %s\n", what);
        std::abort();
    }
}

// Sends descriptor 1 to /dev/null once, for code that writes the printer stream.
inline void silence_stdout()
{
    static const bool done = [] {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            dup2(null, 1);
            close(null);
        }
        return true;
    }();
    static_cast<void>(done);
}

} // namespace varkon::fuzz
