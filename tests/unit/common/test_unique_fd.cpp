// SPDX-License-Identifier: GPL-2.0-or-later
// The shared owners of descriptors and temporary files: each descriptor is
// closed exactly once, whichever way its owner goes, and a temporary file is
// removed unless it was handed on.
#include "temp_file.h"
#include "unique_fd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace {

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

int open_null() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(UniqueFd, ClosesOnceWhenItGoesAndNeverWhatItGaveUp)
{
    int fd = -1;
    {
        const varkon::UniqueFd owner(open_null());
        fd = owner.get();
        ASSERT_TRUE(owner.valid());
    }
    EXPECT_FALSE(is_open(fd));

    int released = -1;
    {
        varkon::UniqueFd owner(open_null());
        released = owner.release();
        EXPECT_FALSE(owner.valid());
    }
    EXPECT_TRUE(is_open(released));
    close(released);
}

TEST(UniqueFd, AMoveHandsTheDescriptorOnAndClosesTheOneItReplaces)
{
    varkon::UniqueFd first(open_null());
    varkon::UniqueFd second(open_null());
    const int kept = first.get(), replaced = second.get();

    varkon::UniqueFd moved(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(moved.get(), kept);

    second = std::move(moved);
    EXPECT_FALSE(moved.valid());
    EXPECT_EQ(second.get(), kept);
    EXPECT_TRUE(is_open(kept));
    EXPECT_FALSE(is_open(replaced));
}

TEST(UniqueFd, ResetReportsTheCloseOfTheOldDescriptor)
{
    varkon::UniqueFd owner;
    EXPECT_EQ(owner.reset(), 0) << "nothing held, nothing closed";
    const int fd = open_null();
    owner.reset(fd);
    EXPECT_EQ(owner.reset(fd), 0);
    EXPECT_TRUE(is_open(fd)) << "holding the same descriptor again keeps it";
    EXPECT_EQ(owner.reset(), 0);
    EXPECT_FALSE(is_open(fd));

    // A descriptor that some other code closed behind the owner's back.
    const int stolen = open_null();
    owner.reset(stolen);
    close(stolen);
    EXPECT_EQ(owner.reset(), -1);
    EXPECT_EQ(errno, EBADF);
}

class TempFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/varkon-temp-file-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        const char *old = std::getenv("TMPDIR");
        had_tmpdir_ = old != nullptr;
        old_tmpdir_ = old != nullptr ? old : "";
        setenv("TMPDIR", dir_.c_str(), 1);
    }
    void TearDown() override
    {
        if (had_tmpdir_)
            setenv("TMPDIR", old_tmpdir_.c_str(), 1);
        else
            unsetenv("TMPDIR");
        std::filesystem::remove_all(dir_);
    }

    std::string dir_;
    std::string old_tmpdir_;
    bool had_tmpdir_ = false;
};

TEST_F(TempFileTest, IsMadeInTheTemporaryFolderClosedOnExecAndRemovedWithItsOwner)
{
    std::string path;
    int fd = -1;
    {
        const varkon::TempFile file(1024);
        ASSERT_TRUE(file.valid());
        path = file.path();
        fd = file.fd();
        EXPECT_EQ(path.rfind(dir_ + "/", 0), 0u) << path;
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "the tools the filter starts must not inherit it";
        EXPECT_FALSE(file.has_data());
        ASSERT_EQ(write(fd, "x", 1), 1);
        EXPECT_TRUE(file.has_data());
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(is_open(fd));
}

TEST_F(TempFileTest, AFileHandedOnStaysClosedAndIsNotRemoved)
{
    varkon::TempFile file(1024);
    ASSERT_TRUE(file.valid());
    const int fd = file.fd();
    const std::string path = file.release();
    EXPECT_FALSE(is_open(fd));
    EXPECT_FALSE(file.valid());
    EXPECT_TRUE(file.path().empty());
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(TempFileTest, AFolderThatCannotTakeFilesGivesNoFileAndTheReason)
{
    setenv("TMPDIR", (dir_ + "/missing").c_str(), 1);
    const varkon::TempFile file(1024);
    EXPECT_FALSE(file.valid());
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(file.path().empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

} // namespace
