// SPDX-License-Identifier: GPL-2.0-or-later
// The virtual printer behind a private cupsd: a queue of a platform Z model
// whose device is socket://127.0.0.1:PORT, printed to through the whole filter
// chain and CUPS's own socket backend.
#include "cupsd_harness.h"
#include "run_process.h"
#include "varkon_decode.h"
#include "virtual_printer_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

TEST(VirtualPrinterThroughCups, AJobOfASocketQueueArrivesWholeAndValid)
{
    TempDir dir;
    VirtualPrinterRun printer({"--output", dir.file("jobs"), "--jobs", "1"});
    ASSERT_NE(printer.port(), 0) << printer.start_failure();

    CupsdConfig config = varkon_cupsd_config();
    config.system_backends.push_back("socket");
    CupsdHarness cupsd(config);
    const std::string uri = "socket://127.0.0.1:" + std::to_string(printer.port());
    const ProcessResult added = cupsd.add_queue("oskel", uri, varkon_ppd_name("Varkon Oskel 301 Series"));
    ASSERT_EQ(added.exit_code, 0) << added.err;

    write_file(dir.file("doc.ps"), "%!PS\n<< /PageSize [595 842] >> setpagedevice\n"
                                   "0 setgray 72 600 300 100 rectfill showpage\n");
    const ProcessResult pdf = run_process({"/usr/bin/ps2pdf", dir.file("doc.ps"), dir.file("doc.pdf")});
    ASSERT_EQ(pdf.exit_code, 0) << pdf.err;
    std::string error;
    const int job = cupsd.submit("oskel", dir.file("doc.pdf"), {}, &error);
    ASSERT_GT(job, 0) << error;
    const JobOutcome outcome = cupsd.wait_for_job(job, 180000);
    EXPECT_TRUE(outcome.completed()) << outcome.state << " (" << outcome.reasons << ")\n" << cupsd.job_log(job);

    EXPECT_EQ(printer.next_line(), "job 1: platform Z, 1 page, valid");
    EXPECT_EQ(printer.wait_exit(), 0) << printer.log();
    // The stream is the one this scheduler's job made.
    const std::string kept = read_file(dir.file("jobs/job-0001.prn"));
    const decode::DecodedStream stream =
        decode::decode_stream(reinterpret_cast<const unsigned char *>(kept.data()), kept.size());
    EXPECT_EQ(stream.job_id, job);
    ASSERT_EQ(stream.pages.size(), 1u);
    EXPECT_GT(stream.pages[0].ink, 0u);
}

} // namespace
