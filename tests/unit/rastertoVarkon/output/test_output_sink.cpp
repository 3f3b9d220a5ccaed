// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink: what reaches standard output and the spool files, the
// even-page index, failed writes, and the keep-alive handler.
#include "output_sink.h"

#include "test_job.h"
#include "spool.h"
#include "stdout_capture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

namespace {

using varkon::test::job;

using varkon::test::StdoutCapture;

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

int send(const std::string &s, int bCache = 1) { return SendDataToFile(bytes(s), s.size(), bCache); }

// Everything a spool descriptor holds.
std::string contents(int fd)
{
    std::string out;
    char buf[4096];
    ssize_t n;
    off_t at = 0;
    while ((n = pread(fd, buf, sizeof buf, at)) > 0) {
        out.append(buf, static_cast<size_t>(n));
        at += n;
    }
    return out;
}

class Sink : public ::testing::Test {
protected:
    char name[255] = {};
    void SetUp() override { job().g_page = 1; }
    void TearDown() override { varkon::close_spool_files(); }
    int spool() { return varkon::create_spool_file(name); }
};

TEST_F(Sink, SendsExactlyTheBytesAndMarksTheStreamBusy)
{
    StdoutCapture out;
    job().g_ismiddlepage = 0;
    EXPECT_EQ(send(std::string("\x0b\x04\x32\xbf\x00\x00", 6)), 1);
    EXPECT_EQ(job().g_ismiddlepage, 1);
    EXPECT_EQ(out.finish(), std::string("\x0b\x04\x32\xbf\x00\x00", 6));
}

TEST_F(Sink, NothingToSendIsAFailure)
{
    StdoutCapture out;
    EXPECT_EQ(SendDataToFile(bytes("x"), 0, 1), 0);
    EXPECT_EQ(SendDataToFile(nullptr, 4, 1), 0);
    EXPECT_STREQ(job().prntLastError, "SendDataToFile() :: NULL == pData");
    EXPECT_EQ(out.finish(), "");
    EXPECT_FALSE(varkon::printer_stream_failed());
}

TEST_F(Sink, CachedBytesAreAlsoSpooledForCollation)
{
    job().gCollateFile = spool();
    ASSERT_GT(job().gCollateFile, 0);
    StdoutCapture out;
    EXPECT_EQ(send("frame", 1), 1);
    EXPECT_EQ(send("device-only", 0), 1);
    EXPECT_EQ(out.finish(), "framedevice-only");
    EXPECT_EQ(contents(job().gCollateFile), "frame");
}

TEST_F(Sink, ManualDuplexPrintsOddPagesAndOnlySpoolsEvenOnes)
{
    job().gManualDuplexOddFile = spool();
    job().gManualDuplexEvenFile = spool();
    StdoutCapture out;
    for (int page = 1; page <= 5; ++page) {
        job().g_page = page;
        job().gSendDataToDevice = page % 2;
        const std::string data = "page" + std::to_string(page) + std::string(page, '.');
        EXPECT_EQ(send(data), 1);
    }
    EXPECT_EQ(out.finish(), "page1.page3...page5.....");
    EXPECT_EQ(contents(job().gManualDuplexOddFile), "page1.page3...page5.....");
    EXPECT_EQ(contents(job().gManualDuplexEvenFile), "page2..page4....");
    ASSERT_EQ(job().gCacheSize.size(), 2u);
    EXPECT_EQ(job().gCacheSize[0], 7);
    EXPECT_EQ(job().gCacheSize[1], 9);
}

TEST_F(Sink, TheEvenPageIndexGrowsPastAThousandPages)
{
    job().gManualDuplexEvenFile = spool();
    job().gSendDataToDevice = 0;
    for (int page = 2; page <= 4100; page += 2) {
        job().g_page = page;
        ASSERT_EQ(send("ab"), 1);
        ASSERT_EQ(send("c"), 1);
    }
    ASSERT_EQ(job().gCacheSize.size(), 2050u);
    EXPECT_EQ(job().gCacheSize[1024], 3);
    EXPECT_EQ(job().gCacheSize[2049], 3);
}

TEST_F(Sink, AFullOrClosedOutputIsReportedAndRemembered)
{
    for (auto target : {StdoutCapture::Target::Full, StdoutCapture::Target::Closed}) {
        job().printerStreamFailed = false;
        StdoutCapture out(target);
        EXPECT_EQ(send("frame"), 0);
        EXPECT_EQ(Insert00(), 0);
        out.finish();
        EXPECT_TRUE(varkon::printer_stream_failed());
        EXPECT_EQ(varkon::printer_stream_errno(), target == StdoutCapture::Target::Full ? ENOSPC : EPIPE);
        EXPECT_EQ(std::strncmp(job().prntLastError, "Insert00() :: Send 00 00 to file Fail0 ==  \n", 44), 0);
    }
}

TEST_F(Sink, TheLastDestinationDecidesTheResultButAFailedOutputStaysKnown)
{
    job().gCollateFile = spool();
    StdoutCapture out(StdoutCapture::Target::Full);
    EXPECT_EQ(send("frame"), 1);
    out.finish();
    EXPECT_TRUE(varkon::printer_stream_failed());
    EXPECT_EQ(contents(job().gCollateFile), "frame");
}

// A full spool is reported at the job end; the frame the printer received
// must not count as failed, or the page in the printer stream is cut short.
// Only a page that goes to the spool alone fails with it, and only once.
TEST_F(Sink, AFullSpoolLeavesThePrinterStreamWhole)
{
    job().gCollateFile = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GT(job().gCollateFile, 0);
    {
        StdoutCapture out;
        EXPECT_EQ(send("frame"), 1);
        EXPECT_EQ(send("next"), 1);
        EXPECT_EQ(out.finish(), "framenext");
    }
    EXPECT_TRUE(varkon::spool_write_failed());
    EXPECT_FALSE(varkon::printer_stream_failed());

    job().spoolFailed = false;
    job().gSendDataToDevice = 0;
    StdoutCapture out;
    EXPECT_EQ(send("back side"), 0);
    EXPECT_EQ(send("more"), 1) << "nothing more is spooled after the first failure";
    EXPECT_EQ(out.finish(), "");
    EXPECT_TRUE(varkon::spool_write_failed());
}

TEST_F(Sink, PartialAndWouldBlockWritesStillDeliverEveryByteInOrder)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    std::string received;
    std::thread reader([&] {
        char buf[1000];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) {
            received.append(buf, static_cast<size_t>(n));
            usleep(100);
        }
    });
    const int saved = dup(1);
    dup2(fds[1], 1);
    close(fds[1]);
    std::string data(300000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    EXPECT_EQ(send(data, 0), 1);
    dup2(saved, 1);
    close(saved);
    reader.join();
    close(fds[0]);
    EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size() << " bytes";
    EXPECT_FALSE(varkon::printer_stream_failed());
}

TEST_F(Sink, KeepAliveWritesTwoZeroBytesOnlyBetweenPagesAndNeverSpools)
{
    job().gCollateFile = spool();
    StdoutCapture out;
    SendDummyCommand(SIGALRM); // no job of the filter's yet
    varkon::set_signal_job(&job());
    job().g_ismiddlepage = 1;
    SendDummyCommand(SIGALRM);
    job().g_ismiddlepage = 0;
    SendDummyCommand(SIGALRM);
    varkon::set_signal_job(nullptr);
    EXPECT_EQ(out.finish(), std::string(2, '\0'));
    EXPECT_EQ(contents(job().gCollateFile), "");
}

} // namespace
