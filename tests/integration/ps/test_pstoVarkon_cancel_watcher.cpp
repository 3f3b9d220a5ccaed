// SPDX-License-Identifier: GPL-2.0-or-later
// A Jurvex job through the real pstoVarkon while its printer, the SNMP agent
// stand-in, is asked for the job status: the queue's device URI comes from a
// private cupsd, the job arrives through a FIFO so that the filter is still
// streaming when the printer answers, and a cancel at the printer cuts the
// output at the next page with the job trailer.
#include "../../../pstoVarkon/snmp_datagrams.h"

#include "cupsd_harness.h"
#include "fault_run.h"
#include "ps_job_fixtures.h"
#include "run_process.h"
#include "snmp_agent_standin.h"
#include "write_all.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <sstream>
#include <filesystem>
#include <memory>
#include <thread>

using namespace varkon::test;

namespace {

constexpr const char *kQueue = "jurvexq";

// Opens the FIFO once the filter reads it; gives up (-1) after 30 s, so that a
// filter that ends before opening it cannot hang the test.
int open_writer(const std::string &fifo)
{
    const double end = monotonic_seconds() + 30;
    for (;;) {
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        if (errno != ENXIO || monotonic_seconds() > end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Joins a feeder thread on every way out, an exception included; `release`
// first lets a waiting feeder go on.
struct JoinOnExit {
    std::thread &thread;
    std::function<void()> release = [] {};
    ~JoinOnExit()
    {
        release();
        if (thread.joinable())
            thread.join();
    }
};

class PrinterCancel : public ::testing::Test {
protected:
    // Starts the printer's agent answering the status queries with `replies`
    // in turn (the last one repeating), and a scheduler whose queue sends jobs
    // to that printer.
    void start(const SnmpStatusReply &reply) { start(std::vector<SnmpStatusReply>{reply}); }
    void start(const std::vector<SnmpStatusReply> &replies)
    {
        // A cut job leaves the rest of the FIFO unread: the feeder's write may then fail.
        signal(SIGPIPE, SIG_IGN);
        SnmpAgentConfig agent_config;
        agent_config.enterprise = varkon::kEnterpriseNumber;
        agent_config.status_replies = replies;
        agent_config.lifetime_s = 90;
        agent_ = std::make_unique<SnmpAgentStandin>(agent_config);
        ASSERT_TRUE(agent_->running()) << agent_->error();

        CupsdConfig config = varkon_cupsd_config();
        config.system_backends.push_back("socket"); // for the scheduler to accept socket:// URIs
        config.ppd_dirs.clear();                    // the queue gets its own PPD
        cupsd_ = std::make_unique<CupsdHarness>(config);
        ppd_ = queue_ppd(dir_, Queue::Jurvex);
        const ProcessResult added =
            cupsd_->run({"lpadmin", "-p", kQueue, "-E", "-v", printer_uri(), "-P", ppd_});
        ASSERT_EQ(added.exit_code, 0) << added.err;
        // CUPS names a filter by the queue: argument 0 is the queue name.
        std::filesystem::create_symlink(built_program("pstoVarkon/pstoVarkon"), dir_.file(kQueue));
    }

    std::string printer_uri() const { return "socket://" + agent_->address() + ":9100"; }

    std::string job(int pages) const
    {
        const std::string ps = read_file(pdf_to_ps_poppler(make_pdf(dir_, "doc", pages), dir_.file("doc.ps")));
        return kJobNameLine + "@PJL ENTER LANGUAGE = POSTSCRIPT\r\n" + ps;
    }

    // Runs the filter on a FIFO: `first` goes in at once, `rest` once the
    // printer has answered a status query (plus a moment for the watcher).
    FaultResult run_paced(const std::string &first, const std::string &rest)
    {
        const std::string fifo = dir_.file("job.fifo");
        mkfifo(fifo.c_str(), 0600);
        std::thread feeder([&] {
            const int fd = open_writer(fifo);
            if (fd < 0)
                return;
            varkon::write_all(fd, first);
            const double end = monotonic_seconds() + 15;
            while (agent_->received().empty() && monotonic_seconds() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            varkon::write_all(fd, rest);
            close(fd);
        });
        const JoinOnExit join{feeder};
        FaultRun run;
        run.argv = {kQueue, "42", "alice", "report", "1", "PageSize=A4", fifo};
        run.program = dir_.file(kQueue);
        run.env = {"PPD=" + ppd_, "CUPS_SERVER=" + cupsd_->server(), "TMPDIR=" + dir_.path()};
        run.unset = {"DEVICE_URI"};
        run.timeout_ms = 60000;
        return run_with_faults(run);
    }

    // Runs the filter on a FIFO: `first` goes in at once, `rest` once the agent
    // has seen `queries` status queries. With `cancel` the job is cancelled
    // (SIGTERM) at that moment, while the watcher waits for the next reply.
    FaultResult run_until_queries(const std::string &first, const std::string &rest, std::size_t queries, bool cancel)
    {
        const std::string fifo = dir_.file("job.fifo");
        mkfifo(fifo.c_str(), 0600);
        std::atomic<bool> ready{false}, signalled{false};
        std::thread feeder([&] {
            const int fd = open_writer(fifo);
            if (fd < 0)
                return;
            varkon::write_all(fd, first);
            const double end = monotonic_seconds() + 40;
            while (agent_->received().size() < queries && monotonic_seconds() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ready = true;
            // A cancelled job gets the rest only once the signal is on its way.
            while (cancel && !signalled && monotonic_seconds() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (cancel)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            varkon::write_all(fd, rest);
            close(fd);
        });
        const JoinOnExit join{feeder, [&] { ready = signalled = true; }};
        FaultRun run;
        run.argv = {kQueue, "42", "alice", "report", "1", "PageSize=A4", fifo};
        run.program = dir_.file(kQueue);
        run.env = {"PPD=" + ppd_, "CUPS_SERVER=" + cupsd_->server(), "TMPDIR=" + dir_.path()};
        run.unset = {"DEVICE_URI"};
        run.timeout_ms = 60000;
        if (cancel)
            run.sigterm_when = [&](const FaultProgress &) { return signalled = ready.load(); };
        return run_with_faults(run);
    }

    TempDir dir_;
    std::string ppd_;
    std::unique_ptr<SnmpAgentStandin> agent_;
    std::unique_ptr<CupsdHarness> cupsd_;
    NoSideChannel no_side_channel_;
};

TEST_F(PrinterCancel, AJobCancelledAtThePrinterStopsBeforeTheNextPage)
{
    start(SnmpStatusReply::record(0x86, host_name()));
    const std::string document = job(3);
    const std::size_t page2 = document.find("%%Page: 2 2\n");
    ASSERT_NE(page2, std::string::npos);

    const FaultResult r = run_paced(document.substr(0, page2), document.substr(page2));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("uri:" + printer_uri() + ",jobid:42,jobower:" + host_name() + "\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("ip:" + agent_->address() + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("DEBUG: The printer reports the job of \"" + host_name() + "\" cancelled.\n"),
              std::string::npos);
    EXPECT_EQ(r.err.find("cancel_job =1"), std::string::npos) << "no signal was involved";

    ASSERT_GE(r.out.size(), kTrailer.size());
    EXPECT_EQ(r.out.substr(r.out.size() - kTrailer.size()), kTrailer);
    EXPECT_EQ(count_of(r.out, "%%Page:"), 1);
    EXPECT_NE(r.out.find("@PJL SET JOBOWNER=\"" + host_name() + "\"\r\n"), std::string::npos);
    for (const auto &datagram : agent_->received())
        EXPECT_EQ(datagram.kind + " " + datagram.verdict, "status exact");
}

TEST_F(PrinterCancel, AnotherHostsCancelledJobLetsThisOnePrint)
{
    start(SnmpStatusReply::record(0x86, "another-host.example"));
    const std::string document = job(3);
    const std::size_t page2 = document.find("%%Page: 2 2\n");
    ASSERT_NE(page2, std::string::npos);

    const FaultResult r = run_paced(document.substr(0, page2), document.substr(page2));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(agent_->received().empty());
    EXPECT_EQ(count_of(r.out, "%%Page:"), 3);
    EXPECT_EQ(r.out.find("%%Trailer\nend\n%%Pages: 4"), std::string::npos);
    EXPECT_EQ(r.err.find("reports the job"), std::string::npos) << r.err;
}

// Replies that are too short, too long, another job's, or this owner's with a
// status other than cancelled: none of them stops the job, and none of their
// bytes reaches the job log as a line of its own.
TEST_F(PrinterCancel, RepliesThatShowNoCancelOfThisJobLetItPrint)
{
    start({SnmpStatusReply::short_reply(10), SnmpStatusReply::short_reply(4000),
           SnmpStatusReply::record(0x07, host_name()),
           SnmpStatusReply::record(0x86, "other\nPAGE: 9 9\nATTR: x=y"),
           SnmpStatusReply::record(0x00, "")});
    const std::string document = job(3);
    const std::size_t page2 = document.find("%%Page: 2 2\n");
    const FaultResult r = run_until_queries(document.substr(0, page2), document.substr(page2), 5, false);
    EXPECT_FALSE(r.timed_out);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_GE(agent_->received().size(), 5u);
    EXPECT_EQ(count_of(r.out, "%%Page:"), 3);
    EXPECT_EQ(r.out.find("%%Trailer\nend\n%%Pages: 4"), std::string::npos);
    EXPECT_EQ(r.err.find("reports the job"), std::string::npos) << r.err;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.rfind("PAGE:", 0) != 0 && line.rfind("ATTR:", 0) != 0) << line;
}

// The printer does not answer; the job is cancelled while the watcher waits
// for its reply. The filter does not wait that reply out.
TEST_F(PrinterCancel, ACancelDuringASilentStatusQueryEndsTheJobPromptly)
{
    start(SnmpStatusReply::none());
    const std::string document = job(3);
    const std::size_t page2 = document.find("%%Page: 2 2\n");
    const FaultResult r = run_until_queries(document.substr(0, page2), document.substr(page2), 1, true);
    EXPECT_FALSE(r.timed_out);
    ASSERT_TRUE(r.sigterm_sent);
    EXPECT_LT(r.exit_after_sigterm_s, 2.0);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "%%Page:"), 1);
    ASSERT_GE(r.out.size(), kTrailer.size());
    EXPECT_EQ(r.out.substr(r.out.size() - kTrailer.size()), kTrailer);
}

} // namespace
