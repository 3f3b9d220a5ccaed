// SPDX-License-Identifier: GPL-2.0-or-later
// The second pass of manual duplex through the output sink and the spool files.
#include "manual_duplex_end.h"

#include "job_state.h"
#include "output_sink.h"
#include "page_transforms.h"
#include "spool.h"

#include <cstdio>

namespace varkon {

namespace {

bool send_manual_duplex_command(int platform)
{
    if (SendManualDuplexCmd(platform) != 0)
        return true;
    prepend_last_error("main() :: Manual duplex cmd Fail ! \n");
    std::fputs(prntLastError, stderr);
    return false;
}

// Second pass of one copy: the back sides, with the blank page that completes an odd sheet.
bool send_back_sides(const ManualDuplexEnd &job)
{
    const bool odd = (g_page % 2) == 1;
    if (odd && !job.reverse)
        InsertBlankPage(job.header, job.startPageParam, job.platform);
    if (!replay_even_pages_reversed())
        return false;
    if (odd && job.reverse)
        InsertBlankPage(job.header, job.startPageParam, job.platform);
    return true;
}

} // namespace

int finish_manual_duplex(const ManualDuplexEnd &job)
{
    std::fprintf(stderr, "INFO:%s\n", job.message);
    gSendDataToDevice = 1;
    bool ok = true;
    unsigned passes = 1;
    if (job.collate) {
        passes = job.copies;
        for (unsigned copy = 1; copy < job.copies && Canceled == 0 && ok; ++copy)
            ok = replay_file(gManualDuplexOddFile, kOddReplayBlock, odd_page_ends());
    }
    close_spool_file(gManualDuplexOddFile);
    // The printer waits for this command before it takes the turned stack.
    if (ok && Canceled == 0)
        send_manual_duplex_command(job.platform);
    for (unsigned pass = 0; pass < passes && Canceled == 0 && ok; ++pass)
        ok = send_back_sides(job);
    close_spool_file(gManualDuplexEvenFile);
    return ok ? 1 : 0;
}

} // namespace varkon
