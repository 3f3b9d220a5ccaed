// SPDX-License-Identifier: GPL-2.0-or-later
// PostScript queues on a file: device of the private cupsd, the usual way to
// print to a file or try a queue: no backend answers the side channel, and a
// PDF still prints to the file on every family, classified by the PPD.
#include "cups_ps_jobs.h"
#include "cupsd_harness.h"
#include "ps_job_fixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace varkon::test;

struct FileQueue {
    const char *queue;
    const char *model;
    bool rewritten; // the Jurvex family adds the job owner
};

TEST(CupsFileQueues, APdfPrintsToTheFileOnEveryFamily)
{
    CupsdHarness cupsd;
    TempDir out, docs;
    const std::string pdf = make_pdf(docs, "report", 2);
    const FileQueue queues[] = {{"jurvex", "Varkon Jurvex23d Series PS", true},
                                {"halvex", "Varkon Halvex41d Series PS", false},
                                {"generic", "Varkon PostScript Printer", false}};
    for (const FileQueue &q : queues) {
        SCOPED_TRACE(q.queue);
        const std::string file = out.file(std::string(q.queue) + ".prn");
        ASSERT_EQ(cupsd.add_queue(q.queue, "file:" + file, varkon_ppd_name(q.model)).exit_code, 0);
        const PrintedJob job = print_file(cupsd, q.queue, out.path(), pdf);
        ASSERT_TRUE(job.completed()) << job.state << "\n" << job.log;
        EXPECT_EQ(problem_lines(job.log), "");
        // The failed-query message, whose quote cupsd escapes in its log.
        EXPECT_NE(job.log.find("find 1284 information."), std::string::npos) << job.log;
        const std::string data = read_file(file);
        EXPECT_NE(data.find("%!PS"), std::string::npos) << data.substr(0, 300);
        EXPECT_EQ(ps_page_count(data), 2);
        EXPECT_EQ(data.find("@PJL SET JOBOWNER=") != std::string::npos, q.rewritten) << data.substr(0, 300);
    }
}

} // namespace
