// SPDX-License-Identifier: GPL-2.0-or-later
// The device-ID query of pstoVarkon through the real binary: a backend that
// never answers holds the job no longer than the bound, once per job, on every
// printer family, and the job prints as without an ID; an answer that comes
// late within the bound is still used; a cancelled job stops waiting at once.
#include "../../../pstoVarkon/device_id_query.h"

#include "fault_run.h"
#include "ps_job_fixtures.h"
#include "run_process.h"
#include "side_channel_standin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace varkon::test;
using std::chrono::milliseconds;

namespace {

const std::string kNoIdMessage = "cups api can't find 1284 information.\n";
const std::string kOwnerLine = "@PJL SET JOBOWNER=";
const std::string kJurvexId = "MFG:Varkon;MDL:Jurvex 21;CLS:PRINTER;";
// What the machine may add to a wait: starting the filter and its tools.
constexpr double kSlack = 4.0;

std::string ps_job()
{
    return "\x1b%-12345X@PJL JOB NAME=\"report\"\r\n@PJL ENTER LANGUAGE = POSTSCRIPT\r\n%!PS-Adobe-3.0\n"
           "%%Pages: 2\n%%EndComments\n%%EndSetup\n%%Page: 1 1\nshowpage\n%%Page: 2 2\nshowpage\n"
           "%%Trailer\n%%EOF\n\x04\x1b%-12345X\n";
}

class DeviceIdQuery : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(tmp_); }

    std::string input(Queue queue) { return queue == Queue::Halvex ? read_file(make_pdf(dir_, "two", 2)) : ps_job(); }

    FaultRun job(Queue queue)
    {
        FaultRun run;
        run.argv = {built_program("pstoVarkon/pstoVarkon"), "17", "bob", "report", "1", ""};
        run.env = {"PPD=" + queue_ppd(dir_, queue), "TMPDIR=" + tmp_};
        run.unset = {"DEVICE_URI"};
        run.stdin_data = input(queue);
        run.timeout_ms = 60000;
        return run;
    }

    struct Timed {
        FaultResult result;
        double seconds = 0;
    };

    Timed run_timed(const FaultRun &run)
    {
        const auto start = std::chrono::steady_clock::now();
        Timed timed{run_with_faults(run)};
        timed.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(timed.result.timed_out);
        EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "temporary files left behind";
        return timed;
    }

    TempDir dir_;
    std::string tmp_ = dir_.file("tmp");
};

TEST_F(DeviceIdQuery, ABackendThatNeverAnswersCostsOneBoundedWaitOnEveryFamily)
{
    for (Queue queue : {Queue::Other, Queue::Jurvex, Queue::Halvex}) {
        SCOPED_TRACE(static_cast<int>(queue));
        const SideChannelStandin silent(kJurvexId, 1, SideChannelStandin::kNever);
        const Timed t = run_timed(job(queue));
        const FaultResult &r = t.result;
        EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 2000);
        EXPECT_GE(t.seconds, varkon::kDeviceIdWaitSeconds - 0.2);
        EXPECT_LT(t.seconds, varkon::kDeviceIdWaitSeconds + kSlack);
        EXPECT_EQ(silent.requests(), 1);
        EXPECT_NE(r.err.find(kNoIdMessage), std::string::npos) << r.err.substr(0, 2000);
        // Classified by the PPD's nickname, as without a side channel.
        EXPECT_EQ(r.out.find(kOwnerLine) != std::string::npos, queue == Queue::Jurvex) << r.out.substr(0, 300);
        EXPECT_EQ(r.out.rfind(queue == Queue::Halvex ? "%!PS" : "\x1b%-12345X", 0), 0u) << r.out.substr(0, 300);
        EXPECT_EQ(ps_page_count(r.out), 2);
    }
}

TEST_F(DeviceIdQuery, AnAnswerThatComesLateWithinTheBoundIsUsed)
{
    const SideChannelStandin late(kJurvexId, 1, milliseconds(1500));
    const Timed t = run_timed(job(Queue::Other));
    const FaultResult &r = t.result;
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 2000);
    EXPECT_EQ(r.err.find(kNoIdMessage), std::string::npos) << r.err.substr(0, 2000);
    // The Jurvex device ID makes the queue's job a Jurvex one.
    EXPECT_NE(r.out.find(kOwnerLine), std::string::npos) << r.out.substr(0, 300);
    EXPECT_EQ(ps_page_count(r.out), 2);
    EXPECT_EQ(late.requests(), 2);
}

TEST_F(DeviceIdQuery, CancelDuringTheWaitEndsTheJobAtOnce)
{
    for (Queue queue : {Queue::Other, Queue::Halvex}) {
        SCOPED_TRACE(static_cast<int>(queue));
        const SideChannelStandin silent(kJurvexId, 1, SideChannelStandin::kNever);
        FaultRun run = job(queue);
        run.sigterm_when = [](const FaultProgress &p) { return p.elapsed_s > 0.5; };
        const Timed t = run_timed(run);
        const FaultResult &r = t.result;
        ASSERT_TRUE(r.sigterm_sent);
        EXPECT_LT(r.exit_after_sigterm_s, 2.0);
        EXPECT_LT(t.seconds, varkon::kDeviceIdWaitSeconds);
        EXPECT_EQ(r.term_signal, 0);
        EXPECT_NE(r.err.find("cancel_job =1\n"), std::string::npos);
        EXPECT_NE(r.err.find(kNoIdMessage), std::string::npos);
        EXPECT_EQ(ps_page_count(r.out), 0) << r.out.substr(0, 300);
        for (pid_t program : r.programs_started)
            EXPECT_TRUE(process_stops_within(program, 500)) << process_name(program) << " outlived the job";
    }
}

} // namespace
