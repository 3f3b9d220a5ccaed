// SPDX-License-Identifier: GPL-2.0-or-later
// The Jurvex line procedure on arbitrary PostScript: the job-name insertion,
// the page-size, copy-count and media-selection rewrite (FixPrnPageSize), and
// find_pageend on each line and on the whole text as one copy block. The first
// bytes set the PPD size, collation, A5 and whether the job is cancelled.
#include "fuzz_input.h"
#include "job_state.h"
#include "stream_rewriting.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

using varkon::fuzz::require;

namespace {

// What find_pageend must answer for a block, from its text up to the first NUL.
bool holds_cut_point(std::string_view text)
{
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    return text.find("%%EndSetup\n%%Page:") == std::string_view::npos && text.find("%%Page:") != std::string_view::npos;
}

void check_find_pageend(const std::string &text, int cancelled)
{
    // find_pageend may leave the trailer in the block, so it gets that much room.
    std::vector<char> block(std::max<size_t>(text.size(), kJobTrailerSize) + 1, '\0');
    std::copy(text.begin(), text.end(), block.begin());
    int cut = -1;
    const int found = find_pageend(block.data(), static_cast<int>(text.size()), &cut, cancelled);
    require(found == (holds_cut_point(text) ? 1 : 0), "find_pageend finds exactly the blocks with a page start");
    require(cut == (found && cancelled ? kJobTrailerSize : 0), "the cut length is 69 only after a cut");
    if (cut != 0)
        require(std::memcmp(block.data(), kJobTrailer, kJobTrailerSize) == 0, "a cut block holds the trailer");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    varkon::fuzz::silence_stdout();
    varkon::fuzz::FuzzInput input(data, size);
    const int w = input.flag() ? input.u16() : 0;
    const int h = input.flag() ? input.u16() : 0;
    iscollate = input.flag();
    isA5Page = input.flag();
    const int cancelled = input.flag();
    const std::string inserted = input.flag() ? "@PJL SET JOBOWNER=\"host\"\r\n@PJL SET JOBID=7\r\n" : "";
    const std::vector<uint8_t> rest = input.rest();
    const std::string text(rest.begin(), rest.end());

    bool state = false;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        std::string line = text.substr(start, end - start);
        start = end;
        const bool added = varkon::insert_after_job_name(line, inserted);
        require(!added || line.find("@PJL JOB NAME") != std::string::npos, "insertion only after a job-name line");
        check_find_pageend(line, cancelled);
        const std::string before = line;
        const bool was_state = state;
        const int changed = FixPrnPageSize(line, w, h, state);
        require(changed != 0 || (line == before && state == was_state), "an unchanged line is reported as such");
    }
    check_find_pageend(text.substr(0, std::min<size_t>(text.size(), kCopyBlockSize)), cancelled);
    return 0;
}
