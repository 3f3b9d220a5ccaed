// SPDX-License-Identifier: GPL-2.0-or-later
// Job flow pieces: the copy of standard input, the device-ID query without a
// side channel, the collation decision and the cancel handler.
#include "job_flow.h"

#include "job_state.h"
#include "ps_job_fixtures.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

using namespace varkon::test;

namespace {

// Puts `data` on descriptor `fd` (read from a file) or captures what goes to it.
class Redirect {
public:
    Redirect(int fd, const std::string &file) : fd_(fd), file_(file)
    {
        saved_ = dup(fd);
        const int target = open(file.c_str(), fd == 0 ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC), 0600);
        dup2(target, fd);
        close(target);
    }
    ~Redirect() { restore(); }
    std::string restore()
    {
        if (saved_ >= 0) {
            dup2(saved_, fd_);
            close(saved_);
            saved_ = -1;
        }
        return read_file(file_);
    }

private:
    int fd_, saved_ = -1;
    std::string file_;
};

class StdinCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(tmp_);
        setenv("TMPDIR", tmp_.c_str(), 1);
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    // What Copy_StdinToTempFile makes of `input`.
    std::string copy_of(const std::string &input)
    {
        write_file(dir_.file("stdin"), input);
        Redirect in(0, dir_.file("stdin"));
        char path[kStdinCopyPathField] = {};
        EXPECT_EQ(Copy_StdinToTempFile(path), 1);
        EXPECT_EQ(std::string(path).rfind(tmp_, 0), 0u) << path;
        const std::string copy = read_file(path);
        unlink(path);
        return copy;
    }

    TempDir dir_;
    std::string tmp_ = dir_.file("tmp");
};

TEST_F(StdinCopy, JobWithoutUniversalExitGetsTheEndOfJobSequence)
{
    const std::string job = "%!PS\nshowpage\n%%EOF\n";
    EXPECT_EQ(copy_of(job), job + kEndOfJob);
    // Only the last block read counts: a UEL at the start of a long job does
    // not, while in a short job the same header is the whole last block.
    const std::string header = "\x1b%-12345X@PJL JOB NAME=\"x\"\n";
    const std::string long_job = header + job + std::string(20000, 'x') + "\n%%EOF\n";
    EXPECT_EQ(copy_of(long_job), long_job + kEndOfJob);
    EXPECT_EQ(copy_of(header + job), header + job);
}

TEST_F(StdinCopy, JobEndingWithTheUniversalExitIsCopiedUnchanged)
{
    const std::string job = "%!PS\nshowpage\n\x1b%-12345X@PJL EOJ\n\x1b%-12345X";
    EXPECT_EQ(copy_of(job), job);
    const std::string lower = "%!PS\nshowpage\n\x1b%-12345x";
    EXPECT_EQ(copy_of(lower), lower);
}

TEST_F(StdinCopy, ShortLastBlocksAndEmptyInputStayUnchanged)
{
    EXPECT_EQ(copy_of("123456789"), "123456789");
    EXPECT_EQ(copy_of("1234567890"), "1234567890" + kEndOfJob);
    EXPECT_EQ(copy_of(""), "");
    // A job of exactly one block plus nine bytes ends in a short block.
    const std::string job = std::string(8192, 'a') + "\n%%EOF\n\n";
    EXPECT_EQ(copy_of(job), job);
}

TEST(DeviceId, WithoutSideChannelTheQueryFailsWithItsMessage)
{
    NoSideChannel none;
    TempDir dir;
    char id[kDeviceIdField];
    std::memset(id, 'x', sizeof id);
    int length = static_cast<int>(kDeviceIdField) - 1;
    Redirect err(2, dir.file("err"));
    EXPECT_FALSE(query1284info(id, &length));
    EXPECT_EQ(err.restore(), "cups api can't find 1284 information.\n");
    EXPECT_STREQ(id, "");

    // With descriptor 4 closed (redirect first, so that nothing reopens it).
    Redirect closed_err(2, dir.file("err2"));
    close(4);
    ASSERT_EQ(fcntl(4, F_GETFD), -1);
    std::memset(id, 'x', sizeof id);
    length = static_cast<int>(kDeviceIdField) - 1;
    EXPECT_FALSE(query1284info(id, &length));
    EXPECT_EQ(closed_err.restore(), "cups api can't find 1284 information.\n");
    EXPECT_STREQ(id, "");
}

TEST(Collation, NoCollateInAnyLetterCaseWins)
{
    EXPECT_TRUE(varkon::wants_filter_collation("Collate=True"));
    EXPECT_TRUE(varkon::wants_filter_collation("media=A4 collate"));
    EXPECT_TRUE(varkon::wants_filter_collation("multiple-document-handling=separate-documents-collated-copies"));
    EXPECT_FALSE(varkon::wants_filter_collation("Collate=True nocollate"));
    EXPECT_FALSE(varkon::wants_filter_collation("NOCOLLATE"));
    EXPECT_FALSE(varkon::wants_filter_collation("media=A4"));
    EXPECT_FALSE(varkon::wants_filter_collation(nullptr));
}

TEST(CancelJob, RaisesTheFlagAndLogsOneLine)
{
    TempDir dir;
    job_canceled = 0;
    struct sigaction action {}, old {};
    action.sa_handler = cancel_job;
    sigaction(SIGTERM, &action, &old);
    Redirect err(2, dir.file("err"));
    raise(SIGTERM);
    const std::string logged = err.restore();
    sigaction(SIGTERM, &old, nullptr);
    EXPECT_EQ(job_canceled.load(), 1);
    EXPECT_EQ(logged, "cancel_job =1\n");
    job_canceled = 0;
}

TEST(FilterOwns, OnlyTheSeventhArgumentBelongsToCups)
{
    char input[] = "/spool/d0001-001";
    char *with_file[] = {input, input, input, input, input, input, input, nullptr};
    char *without_file[] = {input, input, input, input, input, input, nullptr};
    EXPECT_FALSE(varkon::filter_owns("/spool/d0001-001", with_file));
    EXPECT_TRUE(varkon::filter_owns("/tmp/0001abc", with_file));
    EXPECT_TRUE(varkon::filter_owns("/spool/d0001-001", without_file));
}

} // namespace
