// SPDX-License-Identifier: GPL-2.0-or-later
// Custom-size admission and A5 recognition of Jurvex jobs.
#include "page_size_admission.h"

#include "ps_job_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace varkon::test;

namespace {

class Admission : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("PPD"); }

    // A job file holding `lines` after a short prolog.
    std::string job(const std::string &lines)
    {
        const std::string path = dir_.file("job" + std::to_string(++jobs_) + ".ps");
        write_file(path, "%!PS-Adobe-3.0\n/pdfSetupPaper { pop pop } def\n" + lines + "%%EOF\n");
        return path;
    }

    TempDir dir_;
    int jobs_ = 0;
};

TEST_F(Admission, NonCustomJobsAreAdmittedWithoutLookingAtTheFile)
{
    const std::string oversize = job("<</Type/Page/MediaBox [0 0 2000 3000]\n");
    EXPECT_EQ(isSupportCustomPageSize("PageSize=A4", oversize.c_str()), 1);
    EXPECT_EQ(isSupportCustomPageSize("media=Letter", oversize.c_str()), 1);
    EXPECT_EQ(isSupportCustomPageSize("Duplex=None", oversize.c_str()), 1);
    // PageSize is consulted before media.
    EXPECT_EQ(isSupportCustomPageSize("PageSize=A4 media=Custom.2000x3000", oversize.c_str()), 1);
    EXPECT_EQ(isSupportCustomPageSize("media=custom.2000x3000", oversize.c_str()), 0);
}

TEST_F(Admission, PageDictionaryLimitsIncludeTheBorders)
{
    const char *custom = "PageSize=Custom.612x1010";
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</Type/Page/MediaBox [0 0 612 1010]\n").c_str()), 1);
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</Type/Page/MediaBox [0 0 612 1011]\n").c_str()), 0);
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</Type/Page/MediaBox [0 0 210 500]\n").c_str()), 0);
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</Type/Page/MediaBox [0 0 211 418]\n").c_str()), 1);
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</Type/Page/MediaBox [0 0 613.5 500]\n").c_str()), 0);
    // Width and height are differences of the box corners; signs are dropped.
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</type/page/mediabox [100 100 400 600]\n").c_str()), 1);
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</Type/Page/MediaBox [-10 0 400 600]\n").c_str()), 1);
}

TEST_F(Admission, OnlyTheFirstPageDictionaryCounts)
{
    const std::string path =
        job("<</Type/Page/MediaBox [0 0 595 842]\n%%Page: 2 2\n<</Type/Page/MediaBox [0 0 2000 842]\n");
    EXPECT_EQ(isSupportCustomPageSize("PageSize=Custom.595x842", path.c_str()), 1);
}

TEST_F(Admission, DictionaryWithoutClosingBracketFallsToThePageSetupCall)
{
    const char *custom = "PageSize=Custom.1x1";
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</Type/Page/MediaBox [0 0 2000 3000\n").c_str()), 1);
    EXPECT_EQ(isSupportCustomPageSize(custom, job("<</Type/Page/MediaBox [0 0 2000 3000\n"
                                                  "2000 3000 pdfSetupPaper\n")
                                                  .c_str()),
              0);
    EXPECT_EQ(isSupportCustomPageSize(custom, job("x 600 900 pdfSetupPaper\n").c_str()), 1);
    EXPECT_EQ(isSupportCustomPageSize(custom, job("x 600 1020 pdfSetupPaper\n").c_str()), 0);
}

TEST_F(Admission, BothFormsMustFit)
{
    const std::string path = job("<</Type/Page/MediaBox [0 0 595 842]\nx 700 842 pdfSetupPaper\n");
    EXPECT_EQ(isSupportCustomPageSize("PageSize=Custom.595x842", path.c_str()), 0);
}

TEST_F(Admission, UnreadableFileIsAdmitted)
{
    EXPECT_EQ(isSupportCustomPageSize("PageSize=Custom.9000x9000", dir_.file("missing").c_str()), 1);
}

TEST_F(Admission, LongLinesAreSearchedWhole)
{
    const std::string filler(5000, 'x');
    EXPECT_EQ(isSupportCustomPageSize("PageSize=Custom.1x1",
                                      job(filler + " <</Type/Page/MediaBox [0 0 612 1011]\n").c_str()),
              0);
}

TEST_F(Admission, FirstLineContainingIgnoresCaseAndDropsTheLineEnd)
{
    const std::string path = dir_.file("lines");
    write_file(path, "a\r\nPDFSETUPPAPER one\r\npdfsetuppaper two\n");
    EXPECT_EQ(varkon::first_line_containing(path.c_str(), "PdfSetupPaper"), "PDFSETUPPAPER one");
    EXPECT_EQ(varkon::first_line_containing(path.c_str(), "absent"), std::nullopt);
    EXPECT_EQ(varkon::first_line_containing(dir_.file("none").c_str(), "a"), std::nullopt);
}

TEST_F(Admission, A5FromThePageSizeOptionFollowsTheFeedEdge)
{
    const std::string file = job("");
    EXPECT_TRUE(isA5PageSize("PageSize=A5", file.c_str()));
    EXPECT_FALSE(isA5PageSize("PageSize=a5", file.c_str()));
    EXPECT_FALSE(isA5PageSize("PageSize=A5 FeedEdge=ShortEdgeFirst", file.c_str()));
    EXPECT_TRUE(isA5PageSize("PageSize=A5 FeedEdge=longedge", file.c_str()));
    EXPECT_FALSE(isA5PageSize("PageSize=A4 FeedEdge=LongEdge", job("<</Type/Page/MediaBox [0 0 420 595]\n").c_str()));
}

TEST_F(Admission, A5FromThePpdFeedEdgeDefault)
{
    const std::string feed_edge = "*OpenUI *FeedEdge/Feed Edge: PickOne\n*DefaultFeedEdge: ShortEdge\n"
                                  "*FeedEdge ShortEdge/Short Edge: \"\"\n*FeedEdge LongEdge/Long Edge: \"\"\n"
                                  "*CloseUI: *FeedEdge\n";
    setenv("PPD", write_ppd(dir_, "short", "Jurvex 21 PS", feed_edge).c_str(), 1);
    EXPECT_FALSE(isA5PageSize("PageSize=A5", job("").c_str()));
    EXPECT_TRUE(isA5PageSize("PageSize=A5 FeedEdge=LongEdge", job("").c_str()));
    setenv("PPD", write_ppd(dir_, "plain", "Jurvex 21 PS").c_str(), 1);
    EXPECT_TRUE(isA5PageSize("PageSize=A5", job("").c_str()));
}

TEST_F(Admission, A5FromThePageDictionaryWithinTwoPoints)
{
    EXPECT_TRUE(isA5PageSize("", job("<</Type/Page/MediaBox [0 0 419 596]\n").c_str()));
    EXPECT_TRUE(isA5PageSize("", job("<</type/page/mediabox [0 0 422 593]/Rotate 0\n").c_str()));
    EXPECT_FALSE(isA5PageSize("", job("<</Type/Page/MediaBox [0 0 417 595]\n").c_str()));
    EXPECT_FALSE(isA5PageSize("", job("<</Type/Page/MediaBox [0 0 419.53 595.28]\n").c_str()));
}

TEST_F(Admission, A5FromThePageSetupCall)
{
    EXPECT_TRUE(isA5PageSize("", job("420 595 pdfSetupPaper\n").c_str()));
    EXPECT_FALSE(isA5PageSize("", job("419.53 595.28 pdfSetupPaper\n").c_str()));
    // The procedure's definition never counts; the call after it does.
    EXPECT_FALSE(isA5PageSize("", job("/pdfSetupPaper 420 595\n").c_str()));
    EXPECT_TRUE(isA5PageSize("", job("/pdfSetupPaper 420 595\n420 595 pdfSetupPaper\n").c_str()));
    // A call at the very start of a line has no size before it and does not count.
    EXPECT_TRUE(isA5PageSize("", job("pdfSetupPaper\n420 595 pdfSetupPaper\n").c_str()));
}

TEST_F(Admission, FirstStatedSizeDecides)
{
    EXPECT_FALSE(isA5PageSize("", job("595 842 pdfSetupPaper\n420 595 pdfSetupPaper\n").c_str()));
    EXPECT_FALSE(isA5PageSize("", dir_.file("missing").c_str()));
    EXPECT_FALSE(isA5PageSize("", job("nothing here\n").c_str()));
}

} // namespace
