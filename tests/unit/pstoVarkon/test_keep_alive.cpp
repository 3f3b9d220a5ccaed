// SPDX-License-Identifier: GPL-2.0-or-later
// The keep-alive thread: SNMP keep-alives to a network printer (against the
// agent stand-in), the USB printer held open (against umockdev), and the start
// and end of the thread.
#include "job_state.h"
#include "liaison.h"
#include "snmp_datagrams.h"

#include "snmp_agent_standin.h"
#include "stderr_capture.h"
#include "umockdev_printer.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using varkon::test::monotonic_seconds;
using varkon::test::SnmpAgentConfig;
using varkon::test::SnmpAgentStandin;
using varkon::test::StderrCapture;

constexpr const char *kPrinterUri = "usb://Varkon/VK-L2100?serial=VKA000123";

// A network cycle and reply wait short enough not to hold the suite; the USB
// cycle stays as the filter has it.
constexpr varkon::KeepAliveTimings kQuick{1000ms, varkon::kKeepAliveTimings.usb_cycle, 1000ms};

double seconds(std::chrono::milliseconds duration) { return std::chrono::duration<double>(duration).count(); }

// Every test starts a job from scratch: the flags only ever rise within a process.
class KeepAlive : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override
    {
        if (dummy_thread != 0)
            Waitpthread();
        reset();
    }
    static void reset()
    {
        g_bdummyEnd = 0;
        job_canceled = 0;
        dummy_thread = 0;
        unsetenv("DEVICE_URI");
    }
};

std::unique_ptr<SnmpAgentStandin> start_agent(bool answer = true)
{
    SnmpAgentConfig config;
    config.enterprise = varkon::kEnterpriseNumber;
    config.answer_keep_alive = answer;
    config.lifetime_s = 60;
    return std::make_unique<SnmpAgentStandin>(config);
}

varkon::test::ProcessOptions with_env(const std::string &entry)
{
    varkon::test::ProcessOptions options;
    options.env.push_back(entry);
    options.timeout_ms = 30000;
    return options;
}

std::string socket_uri(const SnmpAgentStandin &agent)
{
    return "socket://" + agent.address() + ":9100";
}

std::vector<varkon::test::SnmpDatagramSeen> wait_for_datagrams(const SnmpAgentStandin &agent, std::size_t count,
                                                               double seconds)
{
    const double end = monotonic_seconds() + seconds;
    auto seen = agent.received();
    while (seen.size() < count && monotonic_seconds() < end) {
        std::this_thread::sleep_for(20ms);
        seen = agent.received();
    }
    return seen;
}

int open_descriptors()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

TEST_F(KeepAlive, WaitWithoutAThreadRaisesTheFlagAndReturnsAtOnce)
{
    StderrCapture capture;
    const double start = monotonic_seconds();
    Waitpthread();
    EXPECT_LT(monotonic_seconds() - start, 0.1);
    EXPECT_EQ(capture.finish(), "End::g_bDammyEnd = 1\n");
    EXPECT_EQ(g_bdummyEnd.load(), 1);
}

TEST_F(KeepAlive, NoUriAndNoUsableFirstArgumentStartsNoThread)
{
    for (const char *first : {"queue-name", "", static_cast<const char *>(nullptr)}) {
        char *argv[] = {const_cast<char *>(first), nullptr};
        StderrCapture capture;
        Creatpthread(argv);
        EXPECT_EQ(capture.finish(), "argv error\n");
        EXPECT_EQ(dummy_thread, 0u);
    }
}

TEST_F(KeepAlive, NetworkPrinterGetsAKeepAliveAtOnceThenOnceEveryCycle)
{
    const auto agent = start_agent();
    ASSERT_TRUE(agent->running()) << agent->error();
    setenv("DEVICE_URI", socket_uri(*agent).c_str(), 1);
    char argv0[] = "queue";
    char *argv[] = {argv0, nullptr};

    StderrCapture capture;
    const double start = monotonic_seconds();
    Creatpthread(argv, kQuick);
    ASSERT_NE(dummy_thread, 0u);
    const auto seen = wait_for_datagrams(*agent, 3, 14);
    ASSERT_EQ(seen.size(), 3u);

    const double before_wait = monotonic_seconds();
    Waitpthread();
    EXPECT_LT(monotonic_seconds() - before_wait, seconds(kQuick.network_cycle) / 2) << "the end flag ends the pause";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(agent->received().size(), 3u) << "nothing is sent after the end";

    EXPECT_LT(seen[0].time - start, seconds(kQuick.network_cycle) / 2) << "the first goes out at once";
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].kind, "keepalive");
        EXPECT_EQ(seen[i].verdict, "exact");
        if (i > 0) {
            EXPECT_GT(seen[i].time - seen[i - 1].time, seconds(kQuick.network_cycle) - 0.2);
            EXPECT_LT(seen[i].time - seen[i - 1].time, seconds(kQuick.network_cycle) + 0.8);
        }
    }
    const std::string log = capture.finish();
    EXPECT_NE(log.find("End::g_bDammyEnd = 1\n"), std::string::npos);
    EXPECT_EQ(log.find("sendto error"), std::string::npos);
}

TEST_F(KeepAlive, ASilentPrinterCostsOneReplyWaitPerKeepAlive)
{
    const auto agent = start_agent(false);
    ASSERT_TRUE(agent->running()) << agent->error();
    const double start = monotonic_seconds();
    SenddummyCmdToNet(agent->address().c_str(), kQuick);
    const double took = monotonic_seconds() - start;
    EXPECT_GT(took, seconds(kQuick.reply_wait) - 0.05);
    EXPECT_LT(took, 2 * seconds(kQuick.reply_wait)) << "a second wait would double it";
    const auto seen = agent->received();
    ASSERT_EQ(seen.size(), 1u) << "a send that went out ends the attempts";
    EXPECT_EQ(seen[0].verdict, "exact");
}

TEST_F(KeepAlive, SenderReportsMissingAndUnresolvableHosts)
{
    StderrCapture capture;
    SenddummyCmdToNet(nullptr);
    EXPECT_EQ(capture.text(), "hostname == NULL.\n");
    SenddummyCmdToNet("no-such-printer.invalid");
    const std::string log = capture.finish();
    EXPECT_EQ(log.rfind("hostname == NULL.\ngetaddrinfo fail return ", 0), 0u) << log;
}

TEST_F(KeepAlive, ACancelledJobEndsTheThreadWithinACycle)
{
    const auto agent = start_agent();
    ASSERT_TRUE(agent->running()) << agent->error();
    setenv("DEVICE_URI", socket_uri(*agent).c_str(), 1);
    StderrCapture capture;
    Creatpthread(nullptr);
    ASSERT_EQ(wait_for_datagrams(*agent, 1, 5).size(), 1u);

    job_canceled = 1; // as the SIGTERM handler does
    const double raised = monotonic_seconds();
    while (!g_bdummyEnd && monotonic_seconds() - raised < 6)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(g_bdummyEnd.load(), 1) << "the thread raises the end flag itself";
    EXPECT_LT(monotonic_seconds() - raised, 1.0);
    const double before_wait = monotonic_seconds();
    Waitpthread();
    EXPECT_LT(monotonic_seconds() - before_wait, 0.5);
}

TEST_F(KeepAlive, AUriWithoutHostEndsTheThread)
{
    setenv("DEVICE_URI", "", 1);
    StderrCapture capture;
    Creatpthread(nullptr);
    ASSERT_NE(dummy_thread, 0u);
    pthread_join(dummy_thread, nullptr); // ends by itself
    dummy_thread = 0;
    EXPECT_NE(capture.finish().find("fail to get host name\n"), std::string::npos);
}

TEST_F(KeepAlive, AnEmptyHostDoesNotSpin)
{
    setenv("DEVICE_URI", "file:/dev/null", 1); // resolves, but names no host
    StderrCapture capture;
    Creatpthread(nullptr);
    ASSERT_NE(dummy_thread, 0u);
    clockid_t thread_clock;
    ASSERT_EQ(pthread_getcpuclockid(dummy_thread, &thread_clock), 0);
    std::this_thread::sleep_for(1500ms);
    timespec used{};
    clock_gettime(thread_clock, &used);
    Waitpthread();
    EXPECT_LT(used.tv_sec * 1e3 + used.tv_nsec / 1e6, 200.0) << "CPU milliseconds in 1.5 s";
}

TEST_F(KeepAlive, AStopFromOutsideEndsTheReplyWaitAndClosesTheSocket)
{
    const auto agent = start_agent(false);
    ASSERT_TRUE(agent->running()) << agent->error();
    const std::string uri = socket_uri(*agent);
    StderrCapture capture;
    const int descriptors = open_descriptors();
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, dummy_send_tread, const_cast<char *>(uri.c_str())), 0);
    ASSERT_EQ(wait_for_datagrams(*agent, 1, 5).size(), 1u); // now waiting up to 2 s for a reply
    std::this_thread::sleep_for(100ms);

    const double start = monotonic_seconds();
    pthread_cancel(thread);
    void *result = nullptr;
    pthread_join(thread, &result);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    EXPECT_LT(monotonic_seconds() - start, 0.5);
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(KeepAlive, AThreadThatCannotBeJoinedIsStoppedAfterAShortGrace)
{
    const auto agent = start_agent(false);
    ASSERT_TRUE(agent->running()) << agent->error();
    setenv("DEVICE_URI", socket_uri(*agent).c_str(), 1);
    StderrCapture capture;
    const int descriptors = open_descriptors();
    Creatpthread(nullptr);
    ASSERT_NE(dummy_thread, 0u);
    ASSERT_EQ(wait_for_datagrams(*agent, 1, 5).size(), 1u); // the thread waits up to 2 s for a reply
    const double sent = agent->received()[0].time;
    pthread_detach(dummy_thread); // the join will fail with EINVAL

    Waitpthread();
    EXPECT_GE(monotonic_seconds() - sent, 0.5);
    // The stop lands in the reply wait: the socket is gone well before the 2 s are up.
    while (open_descriptors() != descriptors && monotonic_seconds() - sent < 5)
        std::this_thread::sleep_for(10ms);
    EXPECT_LT(monotonic_seconds() - sent, 1.6);
    EXPECT_NE(capture.finish().find("Trevant::pthread_dammy_join error value is 22 \n"), std::string::npos);
    EXPECT_EQ(dummy_thread, 0u);
}

// USB: the printer is found by its serial number and held open.

TEST_F(KeepAlive, UsbPrinterIsFoundByTheSerialNumberInTheUri)
{
    varkon::test::EmulatedUsbPrinter printer;
    const auto run = varkon::test::run_with_usb_printer(printer, "find", with_env("PROBE_URI=" + std::string(kPrinterUri)));
    EXPECT_EQ(run.out, "handle=1\n") << run.err;
    EXPECT_NE(run.err.find("libusb find device handle\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("DEBUG: USB printer serial number \"VKA000123\"\n"), std::string::npos);
}

TEST_F(KeepAlive, UsbDevicesWithAnotherOrNoSerialNumberAreNotThePrinter)
{
    varkon::test::EmulatedUsbPrinter other;
    other.serial = "VKB999999";
    auto run = varkon::test::run_with_usb_printer(other, "find", with_env("PROBE_URI=" + std::string(kPrinterUri)));
    EXPECT_EQ(run.out, "handle=0\n") << run.err;
    EXPECT_EQ(run.err.find("libusb find device handle"), std::string::npos);

    varkon::test::EmulatedUsbPrinter unnamed;
    unnamed.has_serial = false;
    run = varkon::test::run_with_usb_printer(unnamed, "find", with_env("PROBE_URI=" + std::string(kPrinterUri)));
    EXPECT_EQ(run.out, "handle=0\n") << run.err;

    varkon::test::EmulatedUsbPrinter none;
    none.attached = false;
    run = varkon::test::run_with_usb_printer(none, "find", with_env("PROBE_URI=" + std::string(kPrinterUri)));
    EXPECT_EQ(run.out, "handle=0\n") << run.err;
    EXPECT_NE(run.err.find("Trevant::SenddummyCmdToUsb: get device list failed\n"), std::string::npos) << run.err;
}

TEST_F(KeepAlive, AnEmptySerialNumberMatchesEveryUri)
{
    varkon::test::EmulatedUsbPrinter printer;
    printer.serial = "";
    const auto run = varkon::test::run_with_usb_printer(printer, "find", with_env("PROBE_URI=usb://Other/Model"));
    EXPECT_EQ(run.out, "handle=1\n") << run.err;
}

TEST_F(KeepAlive, ASerialNumberCannotWriteLinesIntoTheJobLog)
{
    varkon::test::EmulatedUsbPrinter printer;
    printer.serial = "VK1\nPAGE: 1 1";
    const auto run = varkon::test::run_with_usb_printer(printer, "find", with_env("PROBE_URI=usb://x?serial=VK1\nPAGE: 1 1"));
    EXPECT_EQ(run.out, "handle=1\n") << run.err;
    EXPECT_NE(run.err.find("serial number \"VK1?PAGE: 1 1\""), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("\nPAGE:"), std::string::npos) << run.err;
}

TEST_F(KeepAlive, UsbPrinterIsHeldUntilTheJobEnds)
{
    varkon::test::EmulatedUsbPrinter printer;
    const auto run = varkon::test::run_with_usb_printer(printer, "hold", with_env("DEVICE_URI=" + std::string(kPrinterUri)));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.err.find("libusb find device handle\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("dummy_send::handle is null"), std::string::npos) << run.err;
    int joined_ms = -1;
    ASSERT_EQ(std::sscanf(run.out.c_str(), "joined_ms=%d", &joined_ms), 1) << run.out;
    EXPECT_LT(joined_ms, 1000) << "ends within one 700 ms cycle";
}

TEST_F(KeepAlive, NoUsbPrinterEndsTheThread)
{
    varkon::test::EmulatedUsbPrinter none;
    none.attached = false;
    const auto run = varkon::test::run_with_usb_printer(none, "hold", with_env("DEVICE_URI=" + std::string(kPrinterUri)));
    EXPECT_NE(run.err.find("dummy_send::handle is null\n"), std::string::npos) << run.err;
}

// Probes, run in a copy of this program under umockdev-run.

int probe_find()
{
    libusb_device_handle *handle = FindUsbDeviceHandle(std::getenv("PROBE_URI"));
    std::printf("handle=%d\n", handle != nullptr);
    if (handle) {
        libusb_close(handle);
        libusb_exit(nullptr);
    }
    return 0;
}

int probe_hold()
{
    char argv0[] = "queue";
    char *argv[] = {argv0, nullptr};
    Creatpthread(argv);
    std::this_thread::sleep_for(1500ms);
    const auto start = std::chrono::steady_clock::now();
    Waitpthread();
    const auto took = std::chrono::steady_clock::now() - start;
    std::printf("joined_ms=%d\n", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *probe = varkon::test::usb_probe_requested()) {
        const std::string name = probe;
        return name == "find" ? probe_find() : name == "hold" ? probe_hold() : 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
