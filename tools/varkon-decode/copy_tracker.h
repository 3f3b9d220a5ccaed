// SPDX-License-Identifier: GPL-2.0-or-later
// Pages by number across collated copies and the two passes of manual duplex:
// replays repeat whole pages byte for byte, the first pass holds the odd pages,
// the second the even ones, and together they hold every page once.
#pragma once

#include "varkon_decode.h"

#include <string>
#include <vector>

namespace varkon::decode::detail {

class CopyTracker {
public:
    // Sets the page's pass and copy; returns the reason when it breaks the order of copies.
    std::string place(Page &page, uint64_t digest);
    // At the manual-duplex command: the first pass must be complete and odd.
    std::string manual_duplex();
    // At the job end: copies complete, no page missing.
    std::string job_end() const;
    // Copies of the first pass seen so far.
    int copies() const { return passes_[0].first.empty() ? 0 : passes_[0].copy; }

private:
    struct Seen {
        int number;
        uint64_t digest;
    };
    struct Pass {
        std::vector<Seen> first;  // the pages of its first copy, in order
        int copy = 1;
        size_t position = 0;      // pages of the current copy after the first
    };
    std::string place_first_copy(Pass &pass, const Page &page, uint64_t digest);
    static std::string incomplete(const Pass &pass);

    Pass passes_[2];
    int pass_ = 0;
};

} // namespace varkon::decode::detail
