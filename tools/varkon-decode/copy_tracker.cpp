// SPDX-License-Identifier: GPL-2.0-or-later
// Copy and pass bookkeeping for platforms C and Z, whose page frames carry the
// page number. A page number seen again in the same pass starts the next copy.
#include "copy_tracker.h"
#include "stream_items.h"

#include <algorithm>

namespace varkon::decode::detail {
namespace {

bool contains(const std::vector<int> &numbers, int number)
{
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

} // namespace

std::string CopyTracker::incomplete(const Pass &pass)
{
    if (pass.copy == 1 || pass.position == pass.first.size())
        return {};
    return message("copy %d ends after %zu of its %zu pages", pass.copy, pass.position, pass.first.size());
}

std::string CopyTracker::place_first_copy(Pass &pass, const Page &page, uint64_t digest)
{
    if (pass_ == 0 && pass.first.empty() && page.number != 1)
        return message("the first page is page %d, expected page 1", page.number);
    if (pass_ == 0 && !pass.first.empty() && page.number < pass.first.back().number)
        return message("page %d follows page %d", page.number, pass.first.back().number);
    pass.first.push_back({page.number, digest});
    return {};
}

std::string CopyTracker::place(Page &page, uint64_t digest)
{
    Pass &pass = passes_[pass_];
    page.pass = pass_ + 1;
    if (pass_ == 1 && page.number % 2 != 0)
        return message("page %d after the manual-duplex command; the second pass holds even pages only", page.number);
    bool repeated = std::any_of(pass.first.begin(), pass.first.end(),
                                [&](const Seen &seen) { return seen.number == page.number; });
    if (pass.copy == 1 && !repeated) {
        page.copy = 1;
        return place_first_copy(pass, page, digest);
    }
    if (pass.copy == 1 || pass.position == pass.first.size()) {
        ++pass.copy;
        pass.position = 0;
    }
    page.copy = pass.copy;
    const Seen &expected = pass.first[pass.position];
    if (page.number != expected.number) {
        if (page.number == pass.first.front().number)
            return message("copy %d ends after %zu of its %zu pages", pass.copy, pass.position, pass.first.size());
        return message("copy %d has page %d where page %d belongs", pass.copy, page.number, expected.number);
    }
    if (digest != expected.digest)
        return message("page %d of copy %d differs from its first copy", page.number, pass.copy);
    ++pass.position;
    return {};
}

std::string CopyTracker::manual_duplex()
{
    if (std::string reason = incomplete(passes_[0]); !reason.empty())
        return reason;
    for (const Seen &seen : passes_[0].first)
        if (seen.number % 2 == 0)
            return message("page %d came before the manual-duplex command; the first pass holds odd pages only",
                           seen.number);
    pass_ = 1;
    return {};
}

std::string CopyTracker::job_end() const
{
    if (std::string reason = incomplete(passes_[pass_]); !reason.empty())
        return reason;
    std::vector<int> numbers;
    for (const Pass &pass : passes_)
        for (const Seen &seen : pass.first) {
            if (contains(numbers, seen.number))
                return message("page %d is printed in both passes", seen.number);
            numbers.push_back(seen.number);
        }
    std::sort(numbers.begin(), numbers.end());
    for (size_t i = 0; i < numbers.size(); ++i)
        if (numbers[i] != static_cast<int>(i + 1))
            return message("page %zu is missing", i + 1);
    if (pass_ == 1 && passes_[1].copy != passes_[0].copy)
        return message("the second pass has %d copies, the first %d", passes_[1].copy, passes_[0].copy);
    return {};
}

} // namespace varkon::decode::detail
