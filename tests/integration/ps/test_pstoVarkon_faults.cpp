// SPDX-License-Identifier: GPL-2.0-or-later
// pstoVarkon under injected faults, through the real binary: the printer
// stream closed, full or read slowly; the temporary folder full, read-only or
// missing; the job cancelled at each stage of its flow. Whatever happens, the
// filter ends promptly, exits 0 only when everything meant for the printer
// was written, leaves no temporary file and no program of its own running, and
// a cancelled job ends at a page boundary with the job trailer.
#include "../../../pstoVarkon/snmp_datagrams.h"

#include "fault_run.h"
#include "ps_job_fixtures.h"
#include "run_process.h"
#include "snmp_agent_standin.h"
#include "write_all.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

using namespace varkon::test;

namespace {

constexpr double kPromptly = 2.0; // seconds from the signal to the end of the filter

// A PostScript job of `pages` pages, each padded to about `page_bytes`.
std::string ps_job(int pages, std::size_t page_bytes = 64)
{
    std::string job = kJobNameLine + "@PJL ENTER LANGUAGE = POSTSCRIPT\r\n%!PS-Adobe-3.0\n%%EndComments\n"
                                     "%RBIBeginNonPPDFeature: *NumCopies 2\n2 dup /NumCopies exch def\n"
                                     "%RBIEndNonPPDFeature\n%%EndSetup\n";
    for (int page = 1; page <= pages; ++page) {
        job += "%%Page: " + std::to_string(page) + " " + std::to_string(page) + "\n";
        for (std::size_t size = 0; size < page_bytes; size += 64)
            job += "% " + std::string(60, static_cast<char>('a' + page % 26)) + "\n";
        job += "showpage\n";
    }
    return job + "%%Trailer\n%%EOF\n" + kEndOfJob;
}

// The part of a cut job before the trailer ends right before a page start.
bool cut_at_page_boundary(const std::string &out)
{
    if (out.size() < kTrailer.size() || out.compare(out.size() - kTrailer.size(), kTrailer.size(), kTrailer) != 0)
        return false;
    const std::string before = out.substr(0, out.size() - kTrailer.size());
    return before.find("%%Page:") == std::string::npos || before.back() == '\n';
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(tmp_); }
    void TearDown() override
    {
        if (mounted_)
            umount2(tmp_.c_str(), MNT_DETACH);
    }

    FaultRun job(Queue queue, std::string input, const std::string &options = "", const std::string &copies = "1")
    {
        FaultRun run;
        run.argv = {built_program("pstoVarkon/pstoVarkon"), "17", "bob", "report", copies, options};
        run.env = {"PPD=" + queue_ppd(dir_, queue, queue == Queue::Halvex ? kHalvexDuplexOption : ""), "TMPDIR=" + tmp_};
        run.unset = {"DEVICE_URI"};
        run.stdin_data = std::move(input);
        run.timeout_ms = 60000;
        return run;
    }

    // A small tmpfs as the temporary folder; false when this machine cannot mount one.
    bool mount_tmp(const std::string &options)
    {
        mounted_ = mount("varkon-test", tmp_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return mounted_;
    }

    // What holds after every fault.
    void expect_clean_end(const FaultResult &r)
    {
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.term_signal, 0) << r.err.substr(0, 3000);
        if (r.sigterm_sent) {
            EXPECT_LT(r.exit_after_sigterm_s, kPromptly);
        }
        // A tool a fault left behind would run on for a minute; a busy machine
        // may take a moment to reap the ones that were killed.
        for (pid_t program : r.programs_started)
            EXPECT_TRUE(process_stops_within(program, 2000)) << process_name(program) << " " << program
                                                             << " outlived the job";
        if (std::filesystem::exists(tmp_)) {
            EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "temporary files left behind";
        }
        ++injected_;
    }

    void expect_failure(const FaultResult &r)
    {
        EXPECT_EQ(r.exit_code, 1) << r.err.substr(0, 3000);
        EXPECT_NE(r.err.find("ERROR:"), std::string::npos) << r.err.substr(0, 3000);
    }

    TempDir dir_;
    std::string tmp_ = dir_.file("tmp");
    bool mounted_ = false;
    int injected_ = 0;
};

// --- The printer stream ---

TEST_F(Faults, APrinterStreamThatCannotBeWrittenFailsTheJob)
{
    const std::string pdf = read_file(make_pdf(dir_, "two", 2));
    for (StdoutFault fault : {StdoutFault::Closed, StdoutFault::Full}) {
        for (Queue queue : {Queue::Other, Queue::Jurvex, Queue::Halvex}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(fault)) + " queue " + std::to_string(static_cast<int>(queue)));
            FaultRun run = job(queue, queue == Queue::Halvex ? pdf : ps_job(3, 20000));
            run.stdout_fault = fault;
            const FaultResult r = run_with_faults(run);
            expect_clean_end(r);
            expect_failure(r);
            EXPECT_NE(r.err.find("ERROR: Unable to write print data: "), std::string::npos);
        }
    }
    RecordProperty("faults", injected_);
}

TEST_F(Faults, ASlowReaderGetsTheWholeJob)
{
    const std::string pdf = read_file(make_pdf(dir_, "three", 3));
    for (Queue queue : {Queue::Other, Queue::Jurvex, Queue::Halvex}) {
        SCOPED_TRACE(static_cast<int>(queue));
        FaultRun run = job(queue, queue == Queue::Halvex ? pdf : ps_job(4, 30000));
        run.stdout_fault = StdoutFault::Slow;
        run.slow_chunk = 4096;
        run.slow_pause_ms = 2;
        const FaultResult r = run_with_faults(run);
        expect_clean_end(r);
        EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
        EXPECT_EQ(ps_page_count(r.out), queue == Queue::Halvex ? 3 : 4);
        if (queue == Queue::Other) {
            EXPECT_EQ(r.out, run.stdin_data);
        }
    }
    RecordProperty("faults", injected_);
}

// --- The temporary folder ---

TEST_F(Faults, ATemporaryFolderThatIsFullReadOnlyOrMissingFailsTheJob)
{
    {
        SCOPED_TRACE("missing");
        FaultRun run = job(Queue::Jurvex, ps_job(2));
        run.env.back() = "TMPDIR=" + dir_.file("missing");
        const FaultResult r = run_with_faults(run);
        expect_clean_end(r);
        expect_failure(r);
        EXPECT_EQ(r.out, "");
    }
    if (!mount_tmp("size=64k,mode=0700")) {
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root and CAP_SYS_ADMIN)";
    }
    for (Queue queue : {Queue::Other, Queue::Jurvex}) {
        SCOPED_TRACE("full, queue " + std::to_string(static_cast<int>(queue)));
        const FaultResult r = run_with_faults(job(queue, ps_job(4, 40000)));
        expect_clean_end(r);
        expect_failure(r);
        EXPECT_EQ(r.out, "");
    }
    umount2(tmp_.c_str(), MNT_DETACH);
    ASSERT_TRUE(mount_tmp("ro,size=64k"));
    {
        SCOPED_TRACE("read-only");
        const FaultResult r = run_with_faults(job(Queue::Other, ps_job(2)));
        expect_clean_end(r);
        expect_failure(r);
        EXPECT_EQ(r.out, "");
    }
    RecordProperty("faults", injected_);
}

// The job fits the temporary folder but its copy for collation does not: the
// copies are made from the job itself, all of them.
TEST_F(Faults, CollatedCopiesSurviveAFullTemporaryFolder)
{
    if (!mount_tmp("size=64k,mode=0700"))
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root and CAP_SYS_ADMIN)";
    const std::string input = ps_job(2, 20000);
    const FaultResult r = run_with_faults(job(Queue::Jurvex, input, "Collate=True", "3"));
    expect_clean_end(r);
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
    EXPECT_EQ(ps_page_count(r.out), 6);
    EXPECT_EQ(count_of(r.out, "@PJL JOB NAME"), 3);
    EXPECT_EQ(count_of(r.out, "NumCopies"), 0);
}

TEST_F(Faults, AHalvexJobWhoseConversionDoesNotFitFailsWithoutOutput)
{
    if (!mount_tmp("size=24k,mode=0700"))
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root and CAP_SYS_ADMIN)";
    const std::string pdf = read_file(make_pdf(dir_, "many", 30));
    ASSERT_LT(pdf.size(), 20000u);
    const FaultResult r = run_with_faults(job(Queue::Halvex, pdf));
    expect_clean_end(r);
    // Either the conversion fits and prints whole, or the job fails with nothing sent.
    if (r.exit_code == 0) {
        EXPECT_EQ(ps_page_count(r.out), 30);
    } else {
        expect_failure(r);
        EXPECT_EQ(r.out, "");
    }
}

// --- Cancellation at each stage ---

// The job file is a FIFO, so that the signal lands while the setup is out and
// the pages are still to come.
TEST_F(Faults, CancelBeforeTheFirstPageLetsTheSetupThroughThenTheTrailer)
{
    signal(SIGPIPE, SIG_IGN); // the cut job leaves the rest of the FIFO unread
    const std::string input = ps_job(3);
    const std::size_t first_page = input.find("%%Page:");
    const std::string fifo = dir_.file("job.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> signalled{false};
    std::thread feeder([&] {
        const int fd = open(fifo.c_str(), O_WRONLY); // until the filter opens it
        if (fd < 0)
            return;
        varkon::write_all(fd, input.substr(0, first_page));
        for (int i = 0; i < 3000 && !signalled; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        varkon::write_all(fd, input.substr(first_page));
        close(fd);
    });
    // With a PageSize option the page-size checks do not read the job ahead.
    FaultRun run = job(Queue::Jurvex, "", "PageSize=A4");
    run.argv.push_back(fifo);
    run.timeout_ms = 20000;
    run.sigterm_when = [&signalled](const FaultProgress &p) {
        return signalled = p.out.find("%%EndSetup\n") != std::string::npos;
    };
    const FaultResult r = run_with_faults(run);
    feeder.join();
    expect_clean_end(r);
    ASSERT_TRUE(r.sigterm_sent);
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
    EXPECT_TRUE(cut_at_page_boundary(r.out)) << r.out.substr(0, 1000);
    EXPECT_EQ(ps_page_count(r.out), 0);
    EXPECT_NE(r.out.find("%%EndSetup\n"), std::string::npos);
}

TEST_F(Faults, CancelWhileTheInputStillArrivesEndsAtOnce)
{
    FaultRun run = job(Queue::Other, "%!PS\n%%EndComments\n%%EndSetup\n");
    run.hold_stdin_open = true; // the feeder never ends the job
    // Some time after the copy starts, so that the filter has read what was fed
    // even on a busy machine; then it waits for more.
    run.sigterm_when = [copying = -1.0](const FaultProgress &p) mutable {
        if (copying < 0 && p.err.find("copying to temp print file") != std::string::npos)
            copying = p.elapsed_s;
        return copying >= 0 && p.elapsed_s > copying + 0.3;
    };
    const FaultResult r = run_with_faults(run);
    expect_clean_end(r);
    ASSERT_TRUE(r.sigterm_sent);
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
    EXPECT_EQ(r.out.rfind("%!PS\n", 0), 0u);
}

TEST_F(Faults, CancelMidJobCutsAtThePageBoundary)
{
    for (Queue queue : {Queue::Other, Queue::Jurvex}) {
        SCOPED_TRACE(static_cast<int>(queue));
        FaultRun run = job(queue, ps_job(40, 8000));
        run.stdout_fault = StdoutFault::Slow;
        run.slow_chunk = 2048;
        run.slow_pause_ms = 5;
        run.sigterm_when = [](const FaultProgress &p) { return p.out.size() > 60000; };
        const FaultResult r = run_with_faults(run);
        expect_clean_end(r);
        ASSERT_TRUE(r.sigterm_sent);
        EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
        EXPECT_TRUE(cut_at_page_boundary(r.out)) << r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 300));
        EXPECT_LT(ps_page_count(r.out), 40);
        EXPECT_EQ(count_of(r.out, "%%Trailer\nend\n"), 1);
    }
    RecordProperty("faults", injected_);
}

TEST_F(Faults, CancelDuringTheReplayOfCollatedCopiesEndsWithOneTrailer)
{
    FaultRun run = job(Queue::Jurvex, ps_job(10, 8000), "Collate=True", "3");
    run.stdout_fault = StdoutFault::Slow;
    run.slow_chunk = 2048;
    run.slow_pause_ms = 5;
    run.sigterm_when = [](const FaultProgress &p) { return p.err.find("copies 1 \n") != std::string::npos; };
    const FaultResult r = run_with_faults(run);
    expect_clean_end(r);
    ASSERT_TRUE(r.sigterm_sent);
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
    EXPECT_TRUE(cut_at_page_boundary(r.out));
    EXPECT_EQ(count_of(r.out, "%%Trailer\nend\n"), 1);
    EXPECT_LT(ps_page_count(r.out), 30);
    EXPECT_GE(ps_page_count(r.out), 10);
}

TEST_F(Faults, CancelWhileQpdfHangsStopsItAndEverythingItStarted)
{
    const std::string pdf = read_file(make_pdf(dir_, "four", 4));
    FaultRun run = job(Queue::Halvex, pdf, "Duplex=DuplexNoTumble");
    run.env.push_back("PATH=" + source_file("tests/standins") + ":" + std::getenv("PATH"));
    run.sigterm_when = [](const FaultProgress &p) { return runs_program(p.pid, "sleep"); };
    const FaultResult r = run_with_faults(run);
    expect_clean_end(r);
    ASSERT_TRUE(r.sigterm_sent);
    EXPECT_GE(r.programs_started.size(), 2u);
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
}

TEST_F(Faults, CancelWhilePdftopsRunsStopsItAndEverythingItStarted)
{
    const std::string pdf = read_file(make_pdf(dir_, "many", 60));
    FaultRun run = job(Queue::Halvex, pdf);
    run.sigterm_when = [](const FaultProgress &p) { return runs_program(p.pid, "gs"); };
    const FaultResult r = run_with_faults(run);
    expect_clean_end(r);
    ASSERT_TRUE(r.sigterm_sent);
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
    EXPECT_EQ(r.out, "");
}

// The keep-alive thread waits for a printer that never answers while the job
// is cancelled: the filter does not wait that reply out.
TEST_F(Faults, CancelDuringASilentKeepAliveEndsPromptly)
{
    SnmpAgentConfig config;
    config.enterprise = varkon::kEnterpriseNumber;
    config.answer_keep_alive = false;
    config.lifetime_s = 60;
    SnmpAgentStandin agent(config);
    ASSERT_TRUE(agent.running()) << agent.error();
    FaultRun run = job(Queue::Halvex, read_file(make_pdf(dir_, "many", 40)));
    run.unset.clear();
    run.env.push_back("DEVICE_URI=socket://" + agent.address() + ":9100");
    run.stdout_fault = StdoutFault::Slow;
    run.slow_chunk = 1024;
    run.slow_pause_ms = 10;
    run.sigterm_when = [&agent](const FaultProgress &p) { return !p.out.empty() && !agent.received().empty(); };
    const FaultResult r = run_with_faults(run);
    expect_clean_end(r);
    ASSERT_TRUE(r.sigterm_sent);
    EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 3000);
    EXPECT_TRUE(cut_at_page_boundary(r.out));
}

} // namespace
