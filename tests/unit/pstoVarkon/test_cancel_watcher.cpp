// SPDX-License-Identifier: GPL-2.0-or-later
// The cancel watcher: SNMP status queries against the agent stand-in, USB
// status requests against umockdev, and the thread that raises job_canceled.
#include "job_state.h"
#include "liaison.h"
#include "snmp_datagrams.h"

#include "snmp_agent_standin.h"
#include "stderr_capture.h"
#include "umockdev_printer.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using varkon::test::monotonic_seconds;
using varkon::test::SnmpAgentConfig;
using varkon::test::SnmpAgentStandin;
using varkon::test::SnmpStatusReply;
using varkon::test::StderrCapture;

class CancelWatcher : public ::testing::Test {
protected:
    void SetUp() override { job_canceled = 0; }
    void TearDown() override { job_canceled = 0; }
};

std::unique_ptr<SnmpAgentStandin> start_agent(std::vector<SnmpStatusReply> replies)
{
    SnmpAgentConfig config;
    config.enterprise = varkon::kEnterpriseNumber;
    config.status_replies = std::move(replies);
    config.lifetime_s = 90;
    return std::make_unique<SnmpAgentStandin>(config);
}

// Pauses and waits short enough not to hold the suite, long enough that the
// checks below tell a pause too few, or a reply wait too many, from the schedule.
constexpr varkon::CancelWatchTimings kQuick{200ms, 800ms};

double seconds(std::chrono::milliseconds duration) { return std::chrono::duration<double>(duration).count(); }

CANCEL_QUERY_ARG query_arg(const std::string &uri, const std::string &jobower)
{
    CANCEL_QUERY_ARG arg{};
    std::snprintf(arg.uri, sizeof arg.uri, "%s", uri.c_str());
    arg.jobid = 42;
    std::snprintf(arg.jobower, sizeof arg.jobower, "%s", jobower.c_str());
    return arg;
}

// Runs the watcher on its own thread: the filter's thread with its own
// timings, or the watcher with the given ones. It has no end of its own but a
// cancel seen or a start given up, so a watcher still polling when the test is
// done is stopped from outside (it waits in a pause or for a reply).
class WatcherThread {
public:
    explicit WatcherThread(CANCEL_QUERY_ARG *arg) : started_(monotonic_seconds())
    {
        created_ = pthread_create(&thread_, nullptr, Printer_cancle_query_tread, arg) == 0;
    }
    WatcherThread(CANCEL_QUERY_ARG *arg, const varkon::CancelWatchTimings &timings)
        : watch_{arg, timings}, started_(monotonic_seconds())
    {
        created_ = pthread_create(&thread_, nullptr, watch_with_timings, &watch_) == 0;
    }
    ~WatcherThread()
    {
        if (created_ && !joined_) {
            pthread_cancel(thread_);
            pthread_join(thread_, nullptr);
        }
    }
    bool created() const { return created_; }
    double started() const { return started_; }
    // True when the thread ended by itself within `seconds`.
    bool ended_within(double seconds)
    {
        timespec limit{};
        clock_gettime(CLOCK_REALTIME, &limit);
        limit.tv_sec += static_cast<time_t>(seconds);
        joined_ = pthread_timedjoin_np(thread_, nullptr, &limit) == 0;
        return joined_;
    }

private:
    struct Watch {
        CANCEL_QUERY_ARG *arg = nullptr;
        varkon::CancelWatchTimings timings;
    };
    static void *watch_with_timings(void *watch)
    {
        const auto *w = static_cast<const Watch *>(watch);
        varkon::watch_for_cancel(*w->arg, w->timings);
        return nullptr;
    }

    Watch watch_;
    pthread_t thread_{};
    bool created_ = false;
    bool joined_ = false;
    double started_;
};

// A datagram the agent notes late shortens the gap after it; a busy machine
// lengthens any. Below a pause, and below a reply wait.
constexpr double kEarly = 0.15;
constexpr double kLate = 0.7;

void expect_about(double took, double nominal, const char *what)
{
    EXPECT_GT(took, nominal - kEarly) << what;
    EXPECT_LT(took, nominal + kLate) << what;
}

TEST_F(CancelWatcher, AQueryWithoutHostIsRefused)
{
    unsigned char reply[1024];
    int received = 7;
    StderrCapture capture;
    EXPECT_FALSE(QueryStatusToNet(nullptr, reply, &received));
    EXPECT_FALSE(QueryStatusToNet("", reply, &received));
    EXPECT_EQ(capture.finish(), "->SendSNMPCmd()\ncancelthread::QueryStatusToNet::pIPaddr is null\n"
                                "->SendSNMPCmd()\ncancelthread::QueryStatusToNet::pIPaddr is null\n");
}

TEST_F(CancelWatcher, AQueryReturnsTheWholeReplyDatagram)
{
    const auto agent = start_agent({SnmpStatusReply::record(0x86, "printhost")});
    ASSERT_TRUE(agent->running()) << agent->error();
    unsigned char reply[1024] = {};
    int received = 0;
    StderrCapture capture;
    ASSERT_TRUE(QueryStatusToNet(agent->address().c_str(), reply, &received));
    const std::string log = capture.finish();

    ASSERT_GE(received, 60);
    const unsigned char *record = reply + received - 60;
    EXPECT_EQ(record[0], 0x86);
    EXPECT_STREQ(reinterpret_cast<const char *>(record + 4), "printhost");
    EXPECT_EQ(log, "->SendSNMPCmd()\n<SNMP> socket sendto success. (dest_addr=" + agent->address() + ")\nnRecv = "
                       + std::to_string(received) + "\n");
    const auto seen = agent->received();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, "status");
    EXPECT_EQ(seen[0].verdict, "exact");
}

TEST_F(CancelWatcher, AHostWithoutAddressIsNotQueried)
{
    unsigned char reply[1024];
    int received = 0;
    for (const char *host : {"no-such-printer.invalid", "300.1.2.3", "[::1]"}) {
        StderrCapture capture;
        const double start = monotonic_seconds();
        EXPECT_FALSE(QueryStatusToNet(host, reply, &received)) << host;
        // A query would cost two reply waits of 2 s at the least.
        EXPECT_LT(monotonic_seconds() - start, 1.9) << host;
        EXPECT_EQ(capture.finish().find("sendto"), std::string::npos) << host;
    }
}

// One run covers the decoding rules in the order a printer may answer: no
// answer at all (three sends, two waits each), an answer too short for a
// status record, a cancel of another host's job, another status for this
// host, and finally this host's cancel. Only the last ends the watcher.
TEST_F(CancelWatcher, NetworkWatcherPollsOnUntilThePrinterCancelsThisHostsJob)
{
    const auto agent = start_agent({SnmpStatusReply::none(), SnmpStatusReply::none(), SnmpStatusReply::none(),
                                    SnmpStatusReply::short_reply(59), SnmpStatusReply::record(0x86, "otherhost"),
                                    SnmpStatusReply::record(0x07, "printhost"),
                                    SnmpStatusReply::record(0x86, "printhost")});
    ASSERT_TRUE(agent->running()) << agent->error();
    auto arg = query_arg("socket://" + agent->address() + ":9100", "printhost");
    StderrCapture capture;
    WatcherThread watcher(&arg, kQuick);
    ASSERT_TRUE(watcher.created());
    ASSERT_TRUE(watcher.ended_within(45));
    EXPECT_EQ(job_canceled.load(), 1);

    const auto seen = agent->received();
    ASSERT_EQ(seen.size(), 7u);
    for (const auto &datagram : seen)
        EXPECT_EQ(datagram.kind + " " + datagram.verdict, "status exact");
    const auto gap = [&](std::size_t i) { return seen[i].time - seen[i - 1].time; };
    const double pause = seconds(kQuick.poll_pause), wait = seconds(kQuick.reply_wait);
    expect_about(seen[0].time - watcher.started(), 4 * pause, "asked after four pauses");
    for (std::size_t i : {1, 2})
        expect_about(gap(i), 2 * wait, "resent after two waits");
    expect_about(gap(3), 2 * wait + 5 * pause, "the last two waits, then five pauses");
    for (std::size_t i : {4, 5, 6})
        expect_about(gap(i), 5 * pause, "asked every five pauses");
    const std::string log = capture.finish();
    EXPECT_NE(log.find("querythread::net\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nip:" + agent->address() + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<-SendSNMPCmd()\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG: The printer reports the job of \"printhost\" cancelled.\n"), std::string::npos);
}

TEST_F(CancelWatcher, AnEmptyJobOwnerTakesAnyCancelAndPrinterTextCannotForgeLogLines)
{
    const auto agent = start_agent({SnmpStatusReply::record(0x06, "other\nPAGE: 1 1\nATTR: x=y")});
    ASSERT_TRUE(agent->running()) << agent->error();
    auto arg = query_arg("ipp://" + agent->address() + "/ipp/print", "");
    StderrCapture capture;
    WatcherThread watcher(&arg, kQuick);
    ASSERT_TRUE(watcher.ended_within(10));
    EXPECT_EQ(job_canceled.load(), 1);
    const std::string log = capture.finish();
    EXPECT_NE(log.find("job of \"other?PAGE: 1 1?ATTR: x=y\" cancelled"), std::string::npos) << log;
    EXPECT_EQ(log.find("\nPAGE:"), std::string::npos) << log;
    EXPECT_EQ(log.find("\nATTR:"), std::string::npos) << log;
}

TEST_F(CancelWatcher, AUriWithoutHostEndsTheWatcherWithoutPolling)
{
    for (const char *uri : {"", "file:/dev/null"}) {
        auto arg = query_arg(uri, "printhost");
        StderrCapture capture;
        WatcherThread watcher(&arg);
        ASSERT_TRUE(watcher.ended_within(5)) << uri;
        const std::string log = capture.finish();
        EXPECT_NE(log.find("querythread::net\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("ip:"), std::string::npos) << log;
        EXPECT_EQ(log.find("SendSNMPCmd"), std::string::npos) << log;
        EXPECT_EQ(job_canceled.load(), 0);
    }
}

TEST_F(CancelWatcher, ADnssdUriWhoseServiceCannotBeResolvedEndsTheWatcher)
{
    // No mDNS responder runs here, so the resolver fails for the service name.
    auto arg = query_arg("dnssd://Varkon%20VK-L2100._ipp._tcp.local/?uuid=0", "printhost");
    StderrCapture capture;
    WatcherThread watcher(&arg);
    ASSERT_TRUE(watcher.ended_within(40));
    const std::string log = capture.finish();
    EXPECT_NE(log.find("_httpResolveURI fail.\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("ip:"), std::string::npos) << log;
}

TEST_F(CancelWatcher, AUsbQueryWithoutHandleFails)
{
    unsigned char reply[16] = {};
    int received = 5;
    EXPECT_FALSE(QueryStatusToUsb(nullptr, reply, sizeof reply, &received));
}

TEST_F(CancelWatcher, UsbWatcherEndsOnTheFirstCancelledStatus)
{
    varkon::test::EmulatedUsbPrinter printer;
    printer.status_answers = {{{0x07, 0x00}, false}, {{}, true}, {{0x86, 0x01, 0x02}, false}};
    varkon::test::ProcessOptions options;
    options.env = {"PROBE_URI=usb://Varkon/VK-L2100?serial=VKA000123"};
    const auto run = varkon::test::run_with_usb_printer(printer, "watch", options);
    int canceled = -1, ended = -1, elapsed_ms = -1;
    ASSERT_EQ(std::sscanf(run.out.c_str(), "canceled=%d ended=%d elapsed_ms=%d", &canceled, &ended, &elapsed_ms), 3)
        << run.out << run.err;
    EXPECT_EQ(canceled, 1);
    EXPECT_EQ(ended, 1);
    // Asked after one pause, then every two: the third answer comes after five.
    // Finding the device under umockdev comes first and may take a while.
    const double nominal = 5 * seconds(kQuick.poll_pause);
    EXPECT_GT(elapsed_ms, 1000 * (nominal - kEarly));
    EXPECT_LT(elapsed_ms, 1000 * (nominal + 2.0));
    EXPECT_NE(run.err.find("Status_query::handle yes\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("libusb_control_transfer fail (code=-9)\n"), std::string::npos) << run.err;
}

TEST_F(CancelWatcher, UsbAnywhereInTheUriTakesTheUsbPath)
{
    varkon::test::EmulatedUsbPrinter none;
    none.attached = false;
    varkon::test::ProcessOptions options;
    options.env = {"PROBE_URI=socket://usbprinter.example:9100"};
    const auto run = varkon::test::run_with_usb_printer(none, "watch", options);
    EXPECT_EQ(run.out.rfind("canceled=0 ended=1", 0), 0u) << run.out << run.err;
    EXPECT_NE(run.err.find("querythread::handle is null\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("querythread::net"), std::string::npos) << run.err;
}

// Probe, run in a copy of this program under umockdev-run.
int probe_watch()
{
    auto arg = query_arg(std::getenv("PROBE_URI"), "");
    WatcherThread watcher(&arg, kQuick);
    const bool ended = watcher.ended_within(8);
    const int elapsed_ms = static_cast<int>((monotonic_seconds() - watcher.started()) * 1000);
    std::printf("canceled=%d ended=%d elapsed_ms=%d\n", job_canceled.load(), ended ? 1 : 0, elapsed_ms);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *probe = varkon::test::usb_probe_requested())
        return std::string(probe) == "watch" ? probe_watch() : 2;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
