// SPDX-License-Identifier: GPL-2.0-or-later
// Line rewriting, page-boundary cuts and the plain copy of the PostScript writer.
#include "stream_rewriting.h"

#include "job_state.h"
#include "line_reader.h"
#include "ps_job_fixtures.h"
#include "stderr_capture.h"
#include "stdout_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace varkon::test;

namespace {

struct Rewrite {
    std::string line;
    int width, height;
    bool collate;
    bool state_before;
    std::string expected;
    int result;
    bool state_after;
};

TEST(FixPrnPageSize, RewritesPageSizeCopyCountAndMediaSelectionLines)
{
    const Rewrite cases[] = {
        {"<</Type/Page/MediaBox [0 0 595 842]\n", 420, 595, false, false,
         "<</Type/Page/MediaBox [0 0 420 595]\n", 1, false},
        {"<</type/page/mediabox [0 0 595 842]/Parent 3 0 R\r\n", 612, 792, false, false,
         "<</Type/Page/MediaBox [0 0 612 792]\n", 1, false},
        {"<</Type/Page/MediaBox [0 0 595 842]\n", 0, 595, false, false, "<</Type/Page/MediaBox [0 0 595 842]\n", 0,
         false},
        {"/pdfSetupPaper {\n", 420, 595, false, false, "/pdfSetupPaper {\n", 0, false},
        {"595 842 pdfSetupPaper\n", 420, 595, false, false, "420 595 pdfSetupPaper\n", 1, false},
        {"595 842 PDFSETUPPAPER\n", 420, 0, false, false, "595 842 PDFSETUPPAPER\n", 0, false},
        {"%RBIBeginNonPPDFeature: *NumCopies 3\n", 0, 0, true, false, "", 1, true},
        {"3 /NumCopies exch def\n", 0, 0, true, true, "", 1, true},
        {"%RBIEndNonPPDFeature\n", 0, 0, true, true, "", 1, false},
        {"%RBIBeginNonPPDFeature: *NumCopies 3\n", 0, 0, false, false, "%RBIBeginNonPPDFeature: *NumCopies 3\n", 0,
         false},
        {"3 /NumCopies exch def\n", 0, 0, false, true, "3 /NumCopies exch def\n", 0, true},
        {"<<DeferredMediaSelection true /PageSize [595 842]>>setpagedevice\n", 0, 0, false, false,
         "<</DeferredMediaSelection true /PageSize [595 842]>>setpagedevice\n", 1, false},
        {"x <<deferredmediaselection true>> <<DeferredMediaSelection false>>SetPageDevice\n", 0, 0, false, false,
         "x <</deferredmediaselection true>> <<DeferredMediaSelection false>>SetPageDevice\n", 1, false},
        {"<<DeferredMediaSelection true>> setpagedevice\n", 0, 0, false, false,
         "<<DeferredMediaSelection true>> setpagedevice\n", 0, false},
        {"showpage\n", 420, 595, true, false, "showpage\n", 0, false},
    };
    for (const auto &c : cases) {
        iscollate = c.collate ? 1 : 0;
        std::string line = c.line;
        bool state = c.state_before;
        EXPECT_EQ(FixPrnPageSize(line, c.width, c.height, state), c.result) << c.line;
        EXPECT_EQ(line, c.expected) << c.line;
        EXPECT_EQ(state, c.state_after) << c.line;
    }
    iscollate = 0;
}

// find_pageend on `text`, with what it wrote to standard output.
struct Cut {
    int result;
    int cut_length;
    std::string out;
    std::string block;
};

Cut cut(const std::string &text, int cancelled)
{
    std::vector<char> block(text.size() + kJobTrailerSize + 1, '\0');
    std::memcpy(block.data(), text.data(), text.size());
    Cut c{};
    StdoutCapture capture;
    c.result = find_pageend(block.data(), static_cast<int>(text.size()), &c.cut_length, cancelled);
    c.out = capture.finish();
    c.block = block.data();
    return c;
}

TEST(FindPageEnd, CutsBeforeThePageStartAndClosesWithTheTrailer)
{
    const Cut c = cut("page one\nshowpage\n%%Page: 2 2\npage two\n", 1);
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.cut_length, 69);
    EXPECT_EQ(c.out, std::string("page one\nshowpage\n") + kJobTrailer);
    EXPECT_EQ(c.block, kJobTrailer);
}

TEST(FindPageEnd, ReportsButWritesNothingWhenNotCancelled)
{
    const Cut c = cut("a\n%%Page: 2 2\n", 0);
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.cut_length, 0);
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.block, "a\n%%Page: 2 2\n");
}

TEST(FindPageEnd, PassesBlocksWithoutACutPoint)
{
    for (const std::string &text : {std::string("no page here\n"), std::string("%%EndSetup\n%%Page: 1 1\n%%Page: 2 2\n"),
                                    std::string("binary\0%%Page: 2 2\n", 20), std::string("%%Page")}) {
        const Cut c = cut(text, 1);
        EXPECT_EQ(c.result, 0);
        EXPECT_EQ(c.cut_length, 0);
        EXPECT_EQ(c.out, "");
    }
}

TEST(FindPageEnd, NeverLooksPastTheBlockLength)
{
    std::vector<char> block(100, '\0');
    std::memcpy(block.data(), "abc%%Page: 2 2\n", 15);
    int cut_length = -1;
    StdoutCapture capture;
    EXPECT_EQ(find_pageend(block.data(), 5, &cut_length, 1), 0);
    EXPECT_EQ(capture.finish(), "");
    EXPECT_EQ(cut_length, 0);
}

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        isjurvex = 0;
        iscollate = 0;
        job_canceled = 0;
    }
    void TearDown() override
    {
        job_canceled = 0;
        unsetenv("PPD");
    }
    TempDir dir_;
};

TEST_F(WriterTest, PlainCopyIsByteExact)
{
    std::string data = "%!PS\n" + std::string(20000, 'L') + "\n";
    for (int i = 0; i < 256; ++i)
        data += static_cast<char>(i);
    data += "%%Page: 1 1\nno line end";
    const std::string path = dir_.file("job.ps");
    write_file(path, data);
    char *argv[] = {const_cast<char *>("q"), nullptr};
    StdoutCapture capture;
    WritePSdataToStdout(argv, path.c_str());
    EXPECT_EQ(capture.finish(), data);
}

TEST_F(WriterTest, CancelledPlainCopyEndsWithTheTrailerAtTheNextPageStart)
{
    const std::string path = dir_.file("job.ps");
    write_file(path, "%!PS\nprolog\n%%Page: 1 1\npage\n");
    job_canceled = 1;
    char *argv[] = {const_cast<char *>("q"), nullptr};
    StdoutCapture capture;
    WritePSdataToStdout(argv, path.c_str());
    EXPECT_EQ(capture.finish(), std::string("%!PS\nprolog\n") + kJobTrailer);
}

TEST_F(WriterTest, MissingWorkingFileWritesNothing)
{
    char *argv[] = {const_cast<char *>("q"), nullptr};
    StdoutCapture capture;
    WritePSdataToStdout(argv, dir_.file("missing").c_str());
    WritePSdataToStdout(argv, "");
    EXPECT_EQ(capture.finish(), "");
}

// A block that cannot be written ends the copy: nothing after a hole in the
// printer stream, one error line, and the job knows its stream is incomplete.
TEST_F(WriterTest, AFailedWriteStopsTheCopyAndMarksTheStreamIncomplete)
{
    const std::string path = dir_.file("job.ps");
    write_file(path, "%!PS\n" + std::string(3 * kCopyBlockSize, 'x') + "\n");
    char *argv[] = {const_cast<char *>("q"), nullptr};
    for (StdoutCapture::Target target : {StdoutCapture::Target::Full, StdoutCapture::Target::Closed}) {
        varkon::begin_printer_stream();
        StderrCapture log;
        StdoutCapture capture(target);
        WritePSdataToStdout(argv, path.c_str());
        capture.finish();
        const std::string text = log.finish();
        EXPECT_FALSE(varkon::printer_stream_complete());
        EXPECT_EQ(count_of(text, "write file error! \n"), 1) << text;
        EXPECT_EQ(count_of(text, "ERROR: Unable to write print data: "), 1) << text;
    }
    varkon::begin_printer_stream();
    StdoutCapture capture;
    WritePSdataToStdout(argv, path.c_str());
    EXPECT_EQ(capture.finish(), read_file(path));
    EXPECT_TRUE(varkon::printer_stream_complete());
}

TEST_F(WriterTest, AJobFileThatCannotBeOpenedLeavesTheStreamIncomplete)
{
    varkon::begin_printer_stream();
    char *argv[] = {const_cast<char *>("q"), nullptr};
    StderrCapture log;
    WritePSdataToStdout(argv, dir_.file("missing").c_str());
    EXPECT_NE(log.finish().find("ERROR: Unable to open the print file.\n"), std::string::npos);
    EXPECT_FALSE(varkon::printer_stream_complete());
    varkon::begin_printer_stream();
}

// Lines come whole, NUL bytes and all; a run longer than the limit comes in
// pieces that put the same bytes back together.
TEST(LineReader, KeepsEveryByteAndBoundsWhatItHolds)
{
    TempDir dir;
    const std::string data = std::string("a\0b\n", 4) + std::string(20, 'x') + "\nlast";
    write_file(dir.file("f"), data);
    const varkon::File file(std::fopen(dir.file("f").c_str(), "rb"));
    varkon::LineReader reader(file.get(), 8);
    std::vector<std::string> lines;
    for (std::string line; reader.next(line);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{std::string("a\0b\n", 4), std::string(8, 'x'), std::string(8, 'x'),
                                               "xxxx\n", "last"}));
}

TEST(JobNameInsertion, FollowsOnlyAJobNameLineInExactCase)
{
    const std::string pjl = "@PJL SET JOBOWNER=\"h\"\r\n";
    std::string line = "\x1b%-12345X@PJL JOB NAME=\"a\"\r\n";
    EXPECT_TRUE(varkon::insert_after_job_name(line, pjl));
    EXPECT_EQ(line, "\x1b%-12345X@PJL JOB NAME=\"a\"\r\n" + pjl);
    std::string lower = "@pjl job name=\"a\"\r\n";
    EXPECT_FALSE(varkon::insert_after_job_name(lower, pjl));
    std::string replay = "@PJL JOB NAME=\"a\"\r\n";
    EXPECT_FALSE(varkon::insert_after_job_name(replay, ""));
    EXPECT_EQ(replay, "@PJL JOB NAME=\"a\"\r\n");
}

TEST_F(WriterTest, CheckMediaSizeTakesThePpdSizeOfThePageSizeOption)
{
    setenv("PPD", write_ppd(dir_, "q", "Jurvex 21 PS").c_str(), 1);
    char options[] = "Collate=True PageSize=A5";
    char *argv[] = {nullptr, nullptr, nullptr, nullptr, nullptr, options, nullptr};
    int w = 0, h = 0;
    EXPECT_EQ(checkmediasize(argv, 0, &w, &h), 1);
    EXPECT_EQ(w, 420);
    EXPECT_EQ(h, 595);

    char unknown[] = "PageSize=Tabloid";
    argv[5] = unknown;
    w = h = 0;
    EXPECT_EQ(checkmediasize(argv, 0, &w, &h), 1);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);

    char none[] = "media=A5";
    argv[5] = none;
    EXPECT_EQ(checkmediasize(argv, 0, &w, &h), 0);
    EXPECT_EQ(checkmediasize(argv, 0, &w, nullptr), 0);

    setenv("PPD", dir_.file("missing.ppd").c_str(), 1);
    argv[5] = options;
    EXPECT_EQ(checkmediasize(argv, 0, &w, &h), 1);
    EXPECT_EQ(w, 0);
}

} // namespace
