// SPDX-License-Identifier: GPL-2.0-or-later
// The generated PPDs against the filter that reads them: every model has one,
// the filter maps its ModelName to the model's platform and paper table, the
// driver texts the filter reads are there, and the raster header CUPS builds
// from each page size is what the filter's geometry expects.
#include "model_table.h"
#include "ppd_closer.h"
#include "paper_tables.h"
#include "platform.h"
#include "run_process.h"

#include <cups/ppd.h>
#include <cups/raster.h>

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

using varkon::VarkonModel;

const std::string kPpdDir = std::string(VARKON_BINARY_DIR) + "/drv/ppd";

using PpdPtr = varkon::PpdFile;

const PAPER_SIZE_INFO *group_table(int group)
{
    switch (group) {
    case 1: return gPaperSizeArray_Belvar;
    case 2: return gPaperSizeArray_BelvarMFP;
    case 3: return gPaperSizeArray_Oskel_Drevan;
    default: return gPaperSizeArray_Nimbrel_Sarvel;
    }
}

// The PPD of a model, found through the index the generator writes.
std::string ppd_path(const VarkonModel &model)
{
    const std::string index = varkon::test::read_file(std::string(VARKON_BINARY_DIR) + "/drv/varkon-ppds.tsv");
    const std::string key = std::string(model.modelName) + "\t";
    const size_t at = index.find(key);
    if (at == std::string::npos || (at > 0 && index[at - 1] != '\n'))
        return "";
    const size_t start = at + key.size();
    return kPpdDir + "/" + index.substr(start, index.find('\n', start) - start);
}

std::string reason_text(ppd_file_t *ppd, const char *name)
{
    char text[1024] = "";
    return ppdLocalizeIPPReason(ppd, name, nullptr, text, sizeof text) != nullptr ? text : "";
}

class PpdModels : public ::testing::TestWithParam<VarkonModel> {
protected:
    void SetUp() override
    {
        path_ = ppd_path(GetParam());
        ASSERT_FALSE(path_.empty()) << "no PPD listed for " << GetParam().modelName;
        ppd_.reset(ppdOpenFile(path_.c_str()));
        ASSERT_NE(ppd_, nullptr) << path_ << ": " << ppdErrorString(ppdLastError(nullptr));
        ppdMarkDefaults(ppd_.get());
    }

    // The header CUPS's imaging filters would use for these options.
    cups_page_header2_t header_for(const char *options)
    {
        cups_option_t *parsed = nullptr;
        const int count = cupsParseOptions(options, 0, &parsed);
        ppdMarkDefaults(ppd_.get());
        cupsMarkOptions(ppd_.get(), count, parsed);
        cups_page_header2_t header{};
        EXPECT_EQ(cupsRasterInterpretPPD(&header, ppd_.get(), 0, nullptr, nullptr), 0) << options;
        cupsFreeOptions(count, parsed);
        return header;
    }

    std::string path_;
    PpdPtr ppd_;
};

TEST_P(PpdModels, FilterFindsPlatformAndPaperTableByModelName)
{
    const VarkonModel &model = GetParam();
    ASSERT_NE(ppd_->modelname, nullptr);
    EXPECT_STREQ(ppd_->modelname, model.modelName);
    EXPECT_STREQ(ppd_->manufacturer, "Varkon");

    int platform = -1;
    EXPECT_EQ(GetPaperSizeArray(ppd_->modelname, &platform), group_table(model.group));
    EXPECT_EQ(platform, varkon::kModelGroupPlatform[model.group]);

    // The PlatForm text leads to the same platform where the model name would not.
    int from_text = -1;
    varkon::platform_paper_table(reason_text(ppd_.get(), "PlatForm").c_str(), &from_text);
    EXPECT_EQ(from_text, platform);
}

TEST_P(PpdModels, CarriesTheDriverTextsAndIdentity)
{
    const VarkonModel &model = GetParam();
    EXPECT_EQ(reason_text(ppd_.get(), "SupportManualDuplex"), model.manualDuplex ? "TRUE" : "");
    EXPECT_FALSE(reason_text(ppd_.get(), "MDuplex").empty());

    ppd_attr_t *id = ppdFindAttr(ppd_.get(), "1284DeviceID", nullptr);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(std::string(id->value).find("MFG:Varkon;MDL:" + std::string(model.designation) + ";CMD:"), 0u)
        << id->value;

    ASSERT_EQ(ppd_->num_filters, 1);
    EXPECT_STREQ(ppd_->filters[0], "application/vnd.cups-raster 0 rastertoVarkon");
    // Copies and collation reach the filter only with these two.
    EXPECT_EQ(ppd_->manual_copies, 0);
    ppd_attr_t *collate = ppdFindAttr(ppd_.get(), "cupsCollate", nullptr);
    ASSERT_NE(collate, nullptr);
    EXPECT_STRCASEEQ(collate->value, "true");
    EXPECT_NE(ppdFindOption(ppd_.get(), "Collate"), nullptr);
}

// Every page size of the model's table, at the table's point size, with a raster
// at least the printer's W x H and so little more that centring loses nothing.
TEST_P(PpdModels, PageSizesGiveTheRasterTheFilterExpects)
{
    const PAPER_SIZE_INFO *table = group_table(GetParam().group);
    std::set<std::string> names;
    for (const PAPER_SIZE_INFO *row = table; row->cupsPaperW != -1; ++row) {
        ASSERT_NE(ppdPageSize(ppd_.get(), row->strPageSize), nullptr) << row->strPageSize;
        // A name's later rows are never found by the filter's lookup.
        if (!names.insert(row->strPageSize).second)
            continue;
        const std::string options = std::string("PageSize=") + row->strPageSize;
        const cups_page_header2_t header = header_for(options.c_str());
        SCOPED_TRACE(options);
        EXPECT_EQ(header.PageSize[0], static_cast<unsigned>(row->cupsPaperW));
        EXPECT_EQ(header.PageSize[1], static_cast<unsigned>(row->cupsPaperH));
        EXPECT_EQ(header.HWResolution[0], 600u);
        EXPECT_EQ(header.HWResolution[1], 600u);
        EXPECT_EQ(header.cupsBitsPerColor, 8u);
        EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_SW);
        EXPECT_GE(header.cupsWidth, static_cast<unsigned>(row->fwPaperW));
        EXPECT_LE(header.cupsWidth, static_cast<unsigned>(row->fwPaperW) + 8);
        EXPECT_GE(header.cupsHeight, static_cast<unsigned>(row->fwPaperH));
        EXPECT_LE(header.cupsHeight, static_cast<unsigned>(row->fwPaperH) + 8);
        unsigned found[2] = {header.PageSize[0], header.PageSize[1]};
        int32_t feed = 0;
        EXPECT_EQ(&table[GetPaperArrayIndex(found, table, &feed)], row);
    }
    EXPECT_EQ(static_cast<int>(names.size()), ppd_->num_sizes);
    EXPECT_STREQ(ppdFindOption(ppd_.get(), "PageSize")->defchoice, "A4");
}

// Defaults print a plain page: nothing the filter evaluates is switched on.
TEST_P(PpdModels, DefaultsPrintAPlainPage)
{
    for (const char *name : {"TonerMode", "NegativePrint", "FeedLongEdge", "ImageRotation", "DPI1200", "Collate",
                             "ManualDuplex", "FineMode"}) {
        ppd_option_t *option = ppdFindOption(ppd_.get(), name);
        if (option != nullptr) {
            EXPECT_STREQ(option->defchoice, "False") << name;
        }
    }
    EXPECT_STREQ(ppdFindOption(ppd_.get(), "Density")->defchoice, "2");
    EXPECT_STREQ(ppdFindOption(ppd_.get(), "InputSlot")->defchoice, "Auto");
    for (const char *slot : {"Auto", "ManualFeed", "AutoFeed"})
        EXPECT_NE(ppdFindChoice(ppdFindOption(ppd_.get(), "InputSlot"), slot), nullptr) << slot;
    ppd_option_t *duplex = ppdFindOption(ppd_.get(), "Duplex");
    if (duplex != nullptr) {
        EXPECT_STREQ(duplex->defchoice, "None");
    }
    const cups_page_header2_t header = header_for("");
    EXPECT_EQ(header.Duplex, CUPS_FALSE);
}

// Two-sided printing is offered exactly where the filter can do it: a duplexer,
// a platform-Z model that turns Duplex into manual duplex, or ManualDuplex.
TEST_P(PpdModels, DuplexOptionsMatchTheModel)
{
    const VarkonModel &model = GetParam();
    const int platform = varkon::kModelGroupPlatform[model.group];
    const bool duplex_option = model.duplexer || (platform == PLATFORM_Z && model.manualDuplex);
    EXPECT_EQ(ppdFindOption(ppd_.get(), "Duplex") != nullptr, duplex_option);
    EXPECT_EQ(ppdFindOption(ppd_.get(), "ManualDuplex") != nullptr, model.manualDuplex && platform != PLATFORM_Z);
    // pdftopdf takes an option of this name (in any case) for the page order
    // and reports every value but Normal and Reverse as an error.
    EXPECT_EQ(ppdFindOption(ppd_.get(), "OutputOrder"), nullptr);
    if (duplex_option) {
        const cups_page_header2_t tumble = header_for("Duplex=DuplexTumble");
        EXPECT_EQ(tumble.Duplex, CUPS_TRUE);
        EXPECT_EQ(tumble.Tumble, CUPS_TRUE);
    }
}

// What each platform's filter reads: platform Z completes the options from
// these PPD defaults, and only platform C's 1200 dpi mode changes the raster.
TEST_P(PpdModels, PlatformOptions)
{
    const int platform = varkon::kModelGroupPlatform[GetParam().group];
    for (const char *name : {"FeedLongEdge", "TonerMode", "ImageRotation", "NegativePrint", "Density", "DPI1200"})
        EXPECT_NE(ppdFindOption(ppd_.get(), name), nullptr) << name;
    EXPECT_EQ(ppdFindOption(ppd_.get(), "FineMode") != nullptr, platform == PLATFORM_Z);

    const cups_page_header2_t fine = header_for("DPI1200=True PageSize=Letter");
    const unsigned dpi = platform == PLATFORM_C ? 1200 : 600;
    EXPECT_EQ(fine.HWResolution[0], dpi);
    EXPECT_EQ(fine.HWResolution[1], dpi);
    const cups_page_header2_t plain = header_for("PageSize=Letter");
    EXPECT_NEAR(fine.cupsWidth, plain.cupsWidth * dpi / 600, 1.0);
    EXPECT_EQ(fine.cupsBitsPerColor, 8u);
}

std::string test_name(const ::testing::TestParamInfo<VarkonModel> &info)
{
    std::string name;
    for (const char *c = info.param.designation; *c != '\0'; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c)))
            name += *c;
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryModel, PpdModels, ::testing::ValuesIn(varkon::kVarkonModels), test_name);

// No PPD without a model in the index, raster or PostScript: a model taken out
// of its table leaves none behind, and no two models share a file.
TEST(PpdDirectory, HoldsOnePpdPerIndexedModel)
{
    std::set<std::string> ppds, indexed;
    for (const auto &entry : std::filesystem::directory_iterator(kPpdDir))
        if (entry.path().extension() == ".ppd")
            ppds.insert(entry.path().filename().string());
    std::istringstream index(varkon::test::read_file(std::string(VARKON_BINARY_DIR) + "/drv/varkon-ppds.tsv"));
    std::string line;
    size_t lines = 0;
    while (std::getline(index, line)) {
        ++lines;
        indexed.insert(line.substr(line.find('\t') + 1));
    }
    EXPECT_EQ(ppds, indexed);
    EXPECT_EQ(lines, indexed.size());
    EXPECT_GT(lines, std::size(varkon::kVarkonModels));
}

} // namespace
