// SPDX-License-Identifier: GPL-2.0-or-later
// Platform and paper-table choice, and the lookups in a table.
#include "paper_tables.h"

#include "model_table.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(PlatformChoice, EveryModelNameSelectsItsGroupsPlatformAndTable)
{
    const PAPER_SIZE_INFO *expected[] = {nullptr, gPaperSizeArray_Belvar, gPaperSizeArray_BelvarMFP,
                                         gPaperSizeArray_Oskel_Drevan, gPaperSizeArray_Nimbrel_Sarvel};
    const int platforms[] = {0, PLATFORM_C, PLATFORM_C, PLATFORM_Z, PLATFORM_M};
    for (const auto &model : varkon::kVarkonModels) {
        int platform = -1;
        EXPECT_EQ(GetPaperSizeArray(model.modelName, &platform), expected[model.group]) << model.modelName;
        EXPECT_EQ(platform, platforms[model.group]) << model.modelName;
    }
}

TEST(PlatformChoice, ModelNamesMatchOnlyExactly)
{
    for (const char *name : {"varkon oskel 301 Series", "Varkon Oskel 301 Series ", "Varkon Oskel 301", ""}) {
        int platform = -1;
        EXPECT_EQ(GetPaperSizeArray(name, &platform), nullptr) << name;
        EXPECT_EQ(platform, PLATFORM_NONE) << name;
    }
}

TEST(PlatformChoice, PlatformTextIgnoresCaseAndKnowsThreeNames)
{
    int platform = -1;
    EXPECT_EQ(varkon::platform_paper_table("platform_z", &platform), gPaperSizeArray_Oskel_Drevan);
    EXPECT_EQ(platform, PLATFORM_Z);
    EXPECT_EQ(varkon::platform_paper_table("PLATFORM_C", &platform), gPaperSizeArray_Belvar);
    EXPECT_EQ(platform, PLATFORM_C);
    EXPECT_EQ(varkon::platform_paper_table("Platform_M", &platform), gPaperSizeArray_Nimbrel_Sarvel);
    EXPECT_EQ(platform, PLATFORM_M);
    EXPECT_EQ(varkon::platform_paper_table("PLATFORM_X", &platform), nullptr);
    EXPECT_EQ(platform, PLATFORM_NONE);
    EXPECT_EQ(varkon::platform_paper_table("", &platform), nullptr);
}

TEST(PaperLookup, SizesMustMatchExactly)
{
    int32_t feed = 0;
    const unsigned a4[2] = {595, 842}, almostA4[2] = {595, 841}, turnedA4[2] = {842, 595};
    EXPECT_EQ(gPaperSizeArray_Belvar[GetPaperArrayIndex(a4, gPaperSizeArray_Belvar, &feed)].fwPaperNum, 1);
    EXPECT_EQ(gPaperSizeArray_Nimbrel_Sarvel[GetPaperArrayIndex(a4, gPaperSizeArray_Nimbrel_Sarvel, &feed)].fwPaperNum,
              9);
    EXPECT_EQ(GetPaperArrayIndex(almostA4, gPaperSizeArray_Belvar, &feed), -1);
    EXPECT_EQ(GetPaperArrayIndex(turnedA4, gPaperSizeArray_Oskel_Drevan, &feed), -1);
    EXPECT_EQ(feed, 0);
}

TEST(PaperLookup, A5OnePointWiderIsA5FedLongEdge)
{
    int32_t feed = 0;
    const unsigned a5[2] = {420, 595}, wideA5[2] = {421, 595};
    for (const PAPER_SIZE_INFO *table : {gPaperSizeArray_Belvar, gPaperSizeArray_Oskel_Drevan}) {
        feed = 0;
        EXPECT_EQ(GetPaperArrayIndex(a5, table, &feed), 0);
        EXPECT_EQ(feed, 0);
        EXPECT_EQ(GetPaperArrayIndex(wideA5, table, &feed), 0);
        EXPECT_EQ(feed, 1);
        EXPECT_STREQ(table[0].strPageSize, "A5");
    }
}

TEST(PaperLookup, TheSecondB6RowOfTheFirstTableIsNeverFound)
{
    int32_t feed = 0;
    const unsigned b6[2] = {354, 499};
    const int row = GetPaperArrayIndex(b6, gPaperSizeArray_Belvar, &feed);
    ASSERT_GE(row, 0);
    EXPECT_EQ(gPaperSizeArray_Belvar[row].fwPaperNum, 31);
    int b6Rows = 0;
    for (int i = 0; gPaperSizeArray_Belvar[i].cupsPaperW != -1; ++i)
        b6Rows += std::strcmp(gPaperSizeArray_Belvar[i].strPageSize, "B6") == 0;
    EXPECT_EQ(b6Rows, 2);
}

// Every table offers the same 23 page sizes, each name with one CUPS size.
TEST(PaperLookup, TheTablesAgreeOnNamesAndSizes)
{
    std::set<std::string> reference;
    for (int i = 0; gPaperSizeArray_Oskel_Drevan[i].cupsPaperW != -1; ++i) {
        const PAPER_SIZE_INFO &row = gPaperSizeArray_Oskel_Drevan[i];
        reference.insert(std::string(row.strPageSize) + "=" + std::to_string(row.cupsPaperW) + "x" +
                         std::to_string(row.cupsPaperH));
    }
    EXPECT_EQ(reference.size(), 23u);
    for (const PAPER_SIZE_INFO *table :
         {gPaperSizeArray_Belvar, gPaperSizeArray_BelvarMFP, gPaperSizeArray_Nimbrel_Sarvel}) {
        std::set<std::string> names;
        for (int i = 0; table[i].cupsPaperW != -1; ++i)
            names.insert(std::string(table[i].strPageSize) + "=" + std::to_string(table[i].cupsPaperW) + "x" +
                         std::to_string(table[i].cupsPaperH));
        EXPECT_EQ(names, reference);
    }
}

class CutThePaper : public ::testing::Test {
protected:
    cups_page_header2_t header{};
    // PageSize after isCutThePaper on a page of w x h with the given options.
    std::pair<unsigned, unsigned> cut(unsigned w, unsigned h, const char *optionText)
    {
        header.PageSize[0] = w;
        header.PageSize[1] = h;
        cups_option_t *options = nullptr;
        const int count = cupsParseOptions(optionText, 0, &options);
        isCutThePaper(&header, gPaperSizeArray_Oskel_Drevan, count, options);
        cupsFreeOptions(count, options);
        return {header.PageSize[0], header.PageSize[1]};
    }
};

TEST_F(CutThePaper, AnOversizePageTakesTheSizeThePageSizeOptionNames)
{
    EXPECT_EQ(cut(842, 1191, "PageSize=A4"), std::pair(595u, 842u));
    EXPECT_EQ(cut(842, 1191, "PageSize=Legal"), std::pair(612u, 1008u));
}

TEST_F(CutThePaper, OtherPagesAndUnknownNamesKeepTheirSize)
{
    EXPECT_EQ(cut(842, 1191, "PageSize=A3"), std::pair(842u, 1191u));
    EXPECT_EQ(cut(842, 1191, "PageSize=a4"), std::pair(842u, 1191u));
    EXPECT_EQ(cut(842, 1191, ""), std::pair(842u, 1191u));
    EXPECT_EQ(cut(612, 1191, "PageSize=A4"), std::pair(612u, 1191u));
    EXPECT_EQ(cut(842, 1008, "PageSize=A4"), std::pair(842u, 1008u));
}

} // namespace
