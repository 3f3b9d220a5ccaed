// SPDX-License-Identifier: GPL-2.0-or-later
// The job feature table: header and option evaluation, and the platform-Z
// completion of the options text from the PPD defaults.
#include "job_options.h"

#include "cupsdll.h"
#include "run_process.h"
#include "test_ppd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using namespace varkon::test;

struct Table {
    PRINT_FUNC_INFO info[FUNC_COUNT];
    Table() { std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), info); }
    int operator[](FuncName name) const { return info[name].value; }
};

cups_page_header2_t header(bool duplex = false, bool tumble = false)
{
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
    h.Tumble = tumble ? CUPS_TRUE : CUPS_FALSE;
    return h;
}

// Evaluates `options` for one page on top of what `table` already holds.
void evaluate(Table &table, const char *options, const cups_page_header2_t &h = header())
{
    cups_option_t *parsed = nullptr;
    const int count = cupsParseOptions(options, 0, &parsed);
    testing::internal::CaptureStderr();
    GetFunctionValue(table.info, count, parsed, &h);
    testing::internal::GetCapturedStderr();
    cupsFreeOptions(count, parsed);
}

TEST(FeatureTable, DuplexComesFromTheHeaderUnlessAnOptionNamesIt)
{
    Table t;
    evaluate(t, "", header(true, false));
    EXPECT_EQ(t[AUTODUPLEX], 1);
    evaluate(t, "", header(true, true));
    EXPECT_EQ(t[AUTODUPLEX], 2);
    evaluate(t, "", header(false, true));
    EXPECT_EQ(t[AUTODUPLEX], 0);

    evaluate(t, "Duplex=DuplexTumble", header(false));
    EXPECT_EQ(t[AUTODUPLEX], 2);
    evaluate(t, "Duplex=two-sided-LONG-edge", header(false));
    EXPECT_EQ(t[AUTODUPLEX], 1);
    evaluate(t, "Duplex=None", header(true, false));
    EXPECT_EQ(t[AUTODUPLEX], 0);
    evaluate(t, "Sides=two-sided-short-edge");
    EXPECT_EQ(t[AUTODUPLONGEDGE], 2);
}

TEST(FeatureTable, InputSlotKnowsThreeNamesAndMapsEveryOtherTrayToAuto)
{
    Table t;
    evaluate(t, "InputSlot=ManualFeed");
    EXPECT_EQ(t[INPUTSLOT], 1);
    evaluate(t, "InputSlot=autofeed");
    EXPECT_EQ(t[INPUTSLOT], 2);
    evaluate(t, "InputSlot=Tray3");
    EXPECT_EQ(t[INPUTSLOT], 0);
}

TEST(FeatureTable, SwitchesAreSetOnlyByTrueAndKeepTheirValueBetweenPages)
{
    Table t;
    evaluate(t, "Collate=false outputorder=reverse");
    EXPECT_EQ(t[COLLATE], 0);
    EXPECT_EQ(t[REVERSE], 0);
    evaluate(t, "Collate=TRUE outputorder=true NegativePrint FineMode=yes");
    EXPECT_EQ(t[COLLATE], 1);
    EXPECT_EQ(t[REVERSE], 1);
    EXPECT_EQ(t[NEGATIVEPRINT], 1);
    EXPECT_EQ(t[FINEMODE], 0);
    // A later page that says false does not clear them; one without options keeps them.
    evaluate(t, "Collate=false");
    EXPECT_EQ(t[COLLATE], 1);
    evaluate(t, "");
    EXPECT_EQ(t[REVERSE], 1);
}

TEST(FeatureTable, DensityIsReadAsADecimalNumber)
{
    Table t;
    EXPECT_EQ(t[DENSITY], 2);
    evaluate(t, "Density=4");
    EXPECT_EQ(t[DENSITY], 4);
    evaluate(t, "Density=dark");
    EXPECT_EQ(t[DENSITY], 0);
}

class PlatformZCompletion : public ::testing::Test {
protected:
    TempDir dir;
    ppd_file_t *ppd = nullptr;
    char parameters[8192] = {};
    std::string log;

    void open(const TestPpd &spec) { ppd = ppdOpenFile(write_test_ppd(dir.file("z.ppd"), spec).c_str()); }
    void TearDown() override { ppdClose(ppd); }

    // checkOptionKey on `argv5`, then the value the parser gives `name` (nullptr when absent).
    std::string complete(const char *argv5, const char *name)
    {
        std::snprintf(parameters, sizeof parameters, "%s", argv5);
        testing::internal::CaptureStderr();
        checkOptionKey(parameters, argv5, ppd);
        log = testing::internal::GetCapturedStderr();
        cups_option_t *options = nullptr;
        const int count = cupsParseOptions(parameters, 0, &options);
        const char *value = cupsGetOption(name, count, options);
        std::string result = value != nullptr ? value : "<absent>";
        cupsFreeOptions(count, options);
        return result;
    }
};

TEST_F(PlatformZCompletion, ATrueDefaultBecomesTheOptionUnlessTheJobNamesIt)
{
    TestPpd spec;
    spec.booleans = {{"TonerMode", "True"}, {"FeedLongEdge", "False"}, {"ImageRotation", "true"},
                     {"NegativePrint", "False"}};
    spec.densityDefault = "2";
    open(spec);
    ASSERT_NE(ppd, nullptr);
    EXPECT_EQ(complete("Collate=true", "TonerMode"), "true");
    EXPECT_EQ(complete("Collate=true", "ImageRotation"), "true");
    EXPECT_EQ(complete("Collate=true", "FeedLongEdge"), "<absent>");
    EXPECT_EQ(complete("noTonerMode", "TonerMode"), "false");
    EXPECT_EQ(complete("TonerMode=false", "TonerMode"), "false");
    EXPECT_EQ(log, "");
}

TEST_F(PlatformZCompletion, DensityDefaultsZeroTwoAndFourAreAddedOthersAreNot)
{
    for (const auto &[def, expected] : {std::pair{"4", "4"}, {"0", "0"}, {"3", "<absent>"}}) {
        TestPpd spec;
        spec.densityDefault = def;
        open(spec);
        ASSERT_NE(ppd, nullptr);
        EXPECT_EQ(complete("", "Density"), expected) << "default " << def;
        EXPECT_EQ(complete("Density=1", "Density"), "1");
        ppdClose(ppd);
        ppd = nullptr;
    }
}

TEST_F(PlatformZCompletion, OptionsMissingFromThePpdAreLoggedAndSkipped)
{
    open(TestPpd{});
    ASSERT_NE(ppd, nullptr);
    EXPECT_EQ(complete("", "TonerMode"), "<absent>");
    EXPECT_EQ(log, "No find FeedLongEdge option\nNo find TonerMode option\nNo find ImageRotation option\n"
                   "No find NegativePrint option\nNo find Density option\n");
}

TEST_F(PlatformZCompletion, AnOptionsTextNearlyFillingTheBufferGetsOnlyWholeAdditions)
{
    TestPpd spec;
    spec.booleans = {{"TonerMode", "True"}};
    spec.densityDefault = "4";
    open(spec);
    // Room for " TonerMode" (10 bytes), the first addition, but not for " Density=4" after it.
    const std::string argv5 = "x=" + std::string(sizeof parameters - 1 - 2 - 12, 'a');
    std::snprintf(parameters, sizeof parameters, "%s", argv5.c_str());
    testing::internal::CaptureStderr();
    checkOptionKey(parameters, argv5.c_str(), ppd);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(parameters + argv5.size()), " TonerMode");
    EXPECT_EQ(std::strlen(parameters), sizeof parameters - 1 - 2);
}

TEST(PpdTexts, ReadsTheDriverTextsAndReportsAbsentOnes)
{
    TempDir dir;
    TestPpd spec;
    spec.supportManualDuplex = "TRUE";
    spec.manualDuplexMessage = "Turn the printed stack over and put it back into the tray";
    ppd_file_t *ppd = ppdOpenFile(write_test_ppd(dir.file("t.ppd"), spec).c_str());
    ASSERT_NE(ppd, nullptr);
    char text[1024];
    EXPECT_EQ(varkon::read_ppd_text(ppd, "MDuplex", text), 1);
    EXPECT_STREQ(text, "Turn the printed stack over and put it back into the tray");
    EXPECT_EQ(varkon::read_ppd_text(ppd, "SupportManualDuplex", text), 1);
    EXPECT_STREQ(text, "TRUE");
    EXPECT_EQ(varkon::read_ppd_text(ppd, "PlatForm", text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(varkon::read_ppd_text(nullptr, "PlatForm", text), 0);
    ppdClose(ppd);
}

} // namespace
