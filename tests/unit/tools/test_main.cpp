// SPDX-License-Identifier: GPL-2.0-or-later
// The varkon-decode program: exit status, the violation line, the listing, the
// summary, page files in an output directory, and its command line.
#include "run_process.h"
#include "stream_builder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace varkon::test;

std::string decoder() { return built_program("tools/varkon-decode"); }

std::string text(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(DecodeProgram, ValidStreamFromStandardInput)
{
    ProcessOptions options;
    options.stdin_data = text(JobBuilder::one_page(Platform::Z, make_image(64, 300)));
    ProcessResult result = run_process({decoder()}, options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "varkon-decode: platform Z, job 300, 1 page: 1 64x300 1-bit; valid\n");
    EXPECT_EQ(result.err, "");
}

TEST(DecodeProgram, ViolationGivesOffsetReasonAndStatus1)
{
    TempDir dir;
    Bytes bytes = JobBuilder::one_page(Platform::C, make_image(64, 20));
    size_t at = item_offset(decode_bytes(bytes), "page specification");
    bytes[at + 17] ^= 0x01;
    write_file(dir.file("job.prn"), text(bytes));
    ProcessResult result = run_process({decoder(), "--quiet", dir.file("job.prn")});
    EXPECT_EQ(result.exit_code, 1);
    char expected[128];
    std::snprintf(expected, sizeof expected, "varkon-decode: offset %zu: short frame 0x12 checksum 0x%02x, expected 0x%02x\n",
                  at, bytes[at + 17], bytes[at + 17] ^ 0x01);
    EXPECT_EQ(result.err, expected);
    EXPECT_EQ(result.out, "");
}

TEST(DecodeProgram, ListShowsEveryItemWithItsOffset)
{
    ProcessOptions options;
    options.stdin_data = text(JobBuilder::one_page(Platform::M, make_image(64, 8)));
    ProcessResult result = run_process({decoder(), "--list", "--platform", "m"}, options);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("         0  UEL (9 bytes)\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("         9  JZJZ (4 bytes)\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("START_PAGE_CMD length=184 PAPER_SIZE_PARAM=9"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("JBIG_PARAM_CMD length=36 dl=0 d=0 planes=1 reserved=0 width=64 height=8"),
              std::string::npos) << result.out;
    EXPECT_NE(result.out.find("varkon-decode: platform M, no job id, 1 page"), std::string::npos);
}

TEST(DecodeProgram, WritesPagesIntoTheOutputDirectory)
{
    TempDir dir;
    JobBuilder job(Platform::M);
    job.job_start();
    TestImage one = make_image(64, 30, 1, 1), two = make_image(40, 30, 2, 2);
    job.page(one);
    job.page(two);
    job.job_end();
    write_file(dir.file("job.prn"), text(job.out));
    std::string out = dir.file("pages");
    ProcessResult result = run_process({decoder(), "-o", out, "--png", dir.file("job.prn")});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(exists(out + "/page-001.pbm"));
    EXPECT_TRUE(exists(out + "/page-001.png"));
    EXPECT_TRUE(exists(out + "/page-002.pgm"));
    EXPECT_TRUE(exists(out + "/page-002.png"));
    std::string pbm = read_file(out + "/page-001.pbm");
    EXPECT_EQ(pbm, "P4\n64 30\n" + text(one.rows));
    EXPECT_EQ(read_file(out + "/page-002.pgm").substr(0, 13), "P5\n40 30\n255\n");
}

TEST(DecodeProgram, PagesBeforeAViolationAreStillWritten)
{
    TempDir dir;
    JobBuilder job(Platform::Z);
    job.job_start();
    job.page(make_image(64, 8));
    write_file(dir.file("cut.prn"), text(job.out));
    ProcessResult result = run_process({decoder(), "-q", "-o", dir.file("pages"), dir.file("cut.prn")});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("stream ends without job end"), std::string::npos) << result.err;
    EXPECT_TRUE(exists(dir.file("pages/page-001.pbm")));
}

TEST(DecodeProgram, CommandLineErrorsGiveStatus2)
{
    EXPECT_EQ(run_process({decoder(), "--platform", "Q"}).exit_code, 2);
    EXPECT_EQ(run_process({decoder(), "--png"}).exit_code, 2);
    EXPECT_EQ(run_process({decoder(), "a", "b"}).exit_code, 2);
    ProcessResult missing = run_process({decoder(), "/nonexistent/job.prn"});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_NE(missing.err.find("cannot open /nonexistent/job.prn"), std::string::npos);

    ProcessResult help = run_process({decoder(), "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("--platform C|Z|M"), std::string::npos);
}

TEST(DecodeProgram, UndetectableStreamNeedsThePlatform)
{
    ProcessOptions options;
    options.stdin_data = "hello";
    ProcessResult result = run_process({decoder(), "-q"}, options);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, "varkon-decode: offset 0: the first bytes match no platform; name it with --platform\n");
}

} // namespace
