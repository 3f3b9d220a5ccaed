// SPDX-License-Identifier: GPL-2.0-or-later
// Printer family classification by device ID and by the PPD's nickname.
#include "printer_families.h"

#include "job_state.h"
#include "ps_job_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace varkon::test;

namespace {

class Families : public ::testing::Test {
protected:
    void SetUp() override { isjurvex = 0; }
    void TearDown() override { unsetenv("PPD"); }

    void use_ppd(const std::string &nickname) { setenv("PPD", write_ppd(dir_, "q", nickname).c_str(), 1); }

    bool jurvex(const char *id, bool have_id)
    {
        isjurvex = 0;
        isJurvexPrinter(id, have_id);
        return isjurvex == 1;
    }

    TempDir dir_;
};

TEST_F(Families, JurvexDeviceIdMatchesADesignationInAnyLetterCase)
{
    EXPECT_TRUE(jurvex("MFG:Varkon;MDL:JURVEX 7X Series;CLS:PRINTER;", true));
    EXPECT_TRUE(jurvex("mfg:varkon;mdl:jurvexp40;", true));
    EXPECT_FALSE(jurvex("MFG:Varkon;MDL:Jurvex 4;CLS:PRINTER;", true));
    // With a device ID the nickname is not consulted.
    use_ppd("Jurvex 21 PS");
    EXPECT_FALSE(jurvex("MFG:Other;MDL:Model 1;", true));
}

TEST_F(Families, JurvexWithoutDeviceIdUsesTheNickname)
{
    use_ppd("Varkon jurvex 21 PS");
    EXPECT_TRUE(jurvex("", false));
    use_ppd("Varkon Jurvex 4 PS");
    EXPECT_FALSE(jurvex("", false));
    setenv("PPD", dir_.file("missing.ppd").c_str(), 1);
    EXPECT_FALSE(jurvex("", false));
}

TEST_F(Families, JurvexClassificationNeverClearsTheFlag)
{
    isjurvex = 1;
    isJurvexPrinter("MFG:Other;", true);
    EXPECT_EQ(isjurvex, 1);
}

TEST_F(Families, HalvexDeviceIdNeedsAllThreeFieldsInExactCase)
{
    EXPECT_TRUE(isHalvexPrinter("MFG:Varkon;CMD:PS;MDL:Halvex 40 series;CLS:PRINTER;DES:x;", true));
    EXPECT_TRUE(isHalvexPrinter("CLS:PRINTER;MDL:HalvexM80 series;MFG:Varkon;", true));
    EXPECT_FALSE(isHalvexPrinter("MFG:Varkon;MDL:HALVEX 40 series;CLS:PRINTER;", true));
    EXPECT_FALSE(isHalvexPrinter("MFG:Varkon;MDL:Halvex 40 series;", true));
    EXPECT_FALSE(isHalvexPrinter("MFG:Varkon;MDL:Halvex 40 Series;CLS:PRINTER;", true));
}

TEST_F(Families, HalvexWithDeviceIdIgnoresTheNickname)
{
    use_ppd("Halvex 40 Series PS");
    EXPECT_FALSE(isHalvexPrinter("MFG:Other;MDL:X;CLS:PRINTER;", true));
    EXPECT_TRUE(isHalvexPrinter("", false));
}

TEST_F(Families, HalvexNicknameMustBeEqualInAnyLetterCase)
{
    use_ppd("HALVEX 9 series ps");
    EXPECT_TRUE(isHalvexPrinter("", false));
    use_ppd("Halvex 9 Series PS2");
    EXPECT_FALSE(isHalvexPrinter("", false));
    use_ppd("Varkon Halvex 9 Series PS");
    EXPECT_FALSE(isHalvexPrinter("", false));
    unsetenv("PPD");
    EXPECT_FALSE(isHalvexPrinter("", false));
}

TEST_F(Families, EveryListedModelIsRecognised)
{
    for (const auto &designation : jurvex_printerinfo)
        EXPECT_TRUE(jurvex((std::string("MDL:") + designation + ";").c_str(), true)) << designation;
    for (const auto &id : Halvex_1284info) {
        const std::string device_id = std::string(id.mfg) + id.mdl + id.cls;
        EXPECT_TRUE(isHalvexPrinter(device_id.c_str(), true)) << device_id;
    }
    for (std::size_t i = 0; Halvex_printerinfo[i] != nullptr; ++i) {
        use_ppd(Halvex_printerinfo[i]);
        EXPECT_TRUE(isHalvexPrinter("", false)) << Halvex_printerinfo[i];
        EXPECT_FALSE(jurvex("", false)) << Halvex_printerinfo[i];
    }
}

} // namespace
