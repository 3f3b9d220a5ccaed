// SPDX-License-Identifier: GPL-2.0-or-later
// Spool files and their replays: collated copies and the second pass of manual duplex.
#include "spool.h"

#include "test_job.h"
#include "manual_duplex_end.h"
#include "output_sink.h"
#include "page_transforms.h"
#include "platform.h"
#include "raster_writer.h"
#include "stdout_capture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

using varkon::test::job;

using varkon::test::StdoutCapture;

int send(const std::string &s) { return SendDataToFile(reinterpret_cast<const unsigned char *>(s.data()), s.size(), 1); }

class Spool : public ::testing::Test {
protected:
    char collateName[255] = {}, oddName[255] = {}, evenName[255] = {};
    GDI_START_PAGE_PARAM startPage;

    void SetUp() override
    {
        job().g_page = 1;
        // A small page for the blank sides of manual duplex.
        startPage.paperSize = 0;
        startPage.resolutionX = startPage.resolutionY = 60;
        startPage.userPhyPgW = startPage.userPrntAreaW = 64;
        startPage.userPhyPgH = startPage.userPrntAreaH = 32;
        startPage.copies = 1;
    }
    void TearDown() override { varkon::close_spool_files(); }

    // The printed pages of a job of `pages` pages: "P1", "P2", ... as the job loop would send them.
    void print_pages(int pages, bool manualDuplex)
    {
        for (int page = 1; page <= pages; ++page) {
            job().g_page = page;
            if (manualDuplex)
                job().gSendDataToDevice = page % 2;
            ASSERT_EQ(send("P" + std::to_string(page)), 1);
        }
    }

    // The bytes of the blank page that completes a job of g_page pages.
    std::string blank_page()
    {
        StdoutCapture out;
        const int odd = job().gManualDuplexOddFile, even = job().gManualDuplexEvenFile;
        job().gManualDuplexOddFile = job().gManualDuplexEvenFile = 0;
        InsertBlankPage(varkon::test::gray_header(100, 100), &startPage, PLATFORM_Z);
        job().gManualDuplexOddFile = odd;
        job().gManualDuplexEvenFile = even;
        return out.finish();
    }

    std::string finish_manual_duplex(bool collate, unsigned copies, bool reverse)
    {
        varkon::ManualDuplexEnd end;
        end.collate = collate;
        end.copies = copies;
        end.reverse = reverse;
        end.message = "Turn the stack over";
        end.header = varkon::test::gray_header(100, 100);
        end.startPageParam = &startPage;
        end.platform = PLATFORM_Z;
        StdoutCapture out;
        testing::internal::CaptureStderr();
        EXPECT_EQ(varkon::finish_manual_duplex(end), 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "INFO:Turn the stack over\n");
        return out.finish();
    }
};

const std::string kManualDuplexZ("\x0b\x04\x1b\xd6", 4);

TEST_F(Spool, SpoolFilesAreGoneFromTheDirectoryButUsable)
{
    char name[255] = {};
    const int fd = varkon::create_spool_file(name);
    ASSERT_GT(fd, 0);
    struct stat st;
    EXPECT_NE(name[0], '\0');
    EXPECT_NE(stat(name, &st), 0) << name << " is still there";
    ASSERT_EQ(write(fd, "abc", 3), 3);
    char back[3];
    EXPECT_EQ(pread(fd, back, 3, 0), 3);
    close(fd);
}

TEST_F(Spool, TheJobOpensOnlyTheFilesItReplays)
{
    ASSERT_EQ(varkon::open_job_spool_files(true, false, collateName, oddName, evenName), 1);
    EXPECT_GT(job().gCollateFile, 0);
    EXPECT_EQ(job().gManualDuplexOddFile, 0);
    varkon::close_spool_files();
    // Manual duplex never replays the collation file, so it does not get one.
    ASSERT_EQ(varkon::open_job_spool_files(true, true, collateName, oddName, evenName), 1);
    EXPECT_EQ(job().gCollateFile, 0);
    EXPECT_GT(job().gManualDuplexOddFile, 0);
    EXPECT_GT(job().gManualDuplexEvenFile, 0);
    EXPECT_EQ(job().gSendDataToDevice, 1);
}

TEST_F(Spool, CollatedCopiesReplayTheSpooledStreamByteForByte)
{
    ASSERT_EQ(varkon::open_job_spool_files(true, false, collateName, oddName, evenName), 1);
    std::string page(40000, '\0');
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>(i % 253);
    StdoutCapture live;
    job().g_page = 1;
    send(page);
    job().g_page = 2;
    send("P2");
    const std::string first = live.finish();
    StdoutCapture out;
    EXPECT_EQ(varkon::replay_collation(3), 1);
    EXPECT_EQ(out.finish(), first + first);
    EXPECT_EQ(job().gCollateFile, 0);
}

TEST_F(Spool, AReplayIntoAClosedOutputEndsInsteadOfSpinning)
{
    ASSERT_EQ(varkon::open_job_spool_files(true, false, collateName, oddName, evenName), 1);
    {
        StdoutCapture live;
        send("P1");
    }
    StdoutCapture out(StdoutCapture::Target::Closed);
    EXPECT_EQ(varkon::replay_collation(1000), 0);
    out.finish();
    EXPECT_TRUE(varkon::printer_stream_failed());
}

TEST_F(Spool, ACancelledJobMakesNoFurtherCopies)
{
    ASSERT_EQ(varkon::open_job_spool_files(true, false, collateName, oddName, evenName), 1);
    {
        StdoutCapture live;
        send("P1");
    }
    job().Canceled = 1;
    StdoutCapture out;
    EXPECT_EQ(varkon::replay_collation(3), 1);
    EXPECT_EQ(out.finish(), "");
}

TEST_F(Spool, ManualDuplexSendsTheBlankSideFirstThenEvenPagesInReverse)
{
    ASSERT_EQ(varkon::open_job_spool_files(false, true, collateName, oddName, evenName), 1);
    StdoutCapture live;
    print_pages(5, true);
    EXPECT_EQ(live.finish(), "P1P3P5");
    const std::string blank = blank_page();
    ASSERT_FALSE(blank.empty());
    EXPECT_EQ(finish_manual_duplex(false, 1, false), kManualDuplexZ + blank + "P4P2");
    EXPECT_EQ(job().gManualDuplexOddFile, 0);
    EXPECT_EQ(job().gManualDuplexEvenFile, 0);
}

TEST_F(Spool, ManualDuplexInReverseOrderPutsTheBlankSideLast)
{
    ASSERT_EQ(varkon::open_job_spool_files(false, true, collateName, oddName, evenName), 1);
    {
        StdoutCapture live;
        print_pages(5, true);
    }
    const std::string blank = blank_page();
    EXPECT_EQ(finish_manual_duplex(false, 1, true), kManualDuplexZ + "P4P2" + blank);
}

TEST_F(Spool, ManualDuplexWithCollationRepeatsBothPasses)
{
    ASSERT_EQ(varkon::open_job_spool_files(true, true, collateName, oddName, evenName), 1);
    {
        StdoutCapture live;
        print_pages(4, true);
    }
    EXPECT_EQ(finish_manual_duplex(true, 2, false), "P1P3" + kManualDuplexZ + "P4P2P4P2");
}

} // namespace
