// SPDX-License-Identifier: GPL-2.0-or-later
// The second pass of manual duplex through the output sink and the spool files.
#include "manual_duplex_end.h"

#include "job_context.h"
#include "output_sink.h"
#include "page_transforms.h"
#include "spool.h"

namespace varkon {

namespace {

bool send_manual_duplex_command(int platform)
{
    if (SendManualDuplexCmd(platform) != 0)
        return true;
    prepend_last_error("main() :: Manual duplex cmd Fail ! \n");
    job_log(job_context().prntLastError);
    return false;
}

// Second pass of one copy: the back sides, with the blank page that completes an odd sheet.
bool send_back_sides(const ManualDuplexEnd &end)
{
    const bool odd = (job_context().g_page % 2) == 1;
    if (odd && !end.reverse)
        InsertBlankPage(end.header, end.startPageParam, end.platform);
    if (!replay_even_pages_reversed())
        return false;
    if (odd && end.reverse)
        InsertBlankPage(end.header, end.startPageParam, end.platform);
    return true;
}

} // namespace

int finish_manual_duplex(const ManualDuplexEnd &end)
{
    JobContext &job = job_context();
    job_logf("INFO:%s\n", end.message);
    job.gSendDataToDevice = 1;
    bool ok = true;
    unsigned passes = 1;
    if (end.collate) {
        passes = end.copies;
        for (unsigned copy = 1; copy < end.copies && job.Canceled == 0 && ok; ++copy)
            ok = replay_file(job.gManualDuplexOddFile, kOddReplayBlock, odd_page_ends());
    }
    close_spool_file(job.gManualDuplexOddFile);
    // The printer waits for this command before it takes the turned stack.
    if (ok && job.Canceled == 0)
        send_manual_duplex_command(end.platform);
    for (unsigned pass = 0; pass < passes && job.Canceled == 0 && ok; ++pass)
        ok = send_back_sides(end);
    close_spool_file(job.gManualDuplexEvenFile);
    return ok ? 1 : 0;
}

} // namespace varkon
