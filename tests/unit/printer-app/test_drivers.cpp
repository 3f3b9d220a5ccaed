// SPDX-License-Identifier: GPL-2.0-or-later
// The drivers say what the PPDs say: for every model, the generated PPD's
// device ID, page sizes and printer options (names, choices, defaults) are
// the driver's; every device ID finds its own model's driver and no other.
#include "cupsd_harness.h"
#include "driver_list.h"
#include "media_list.h"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

using namespace varkon::app;

struct PpdCloser {
    void operator()(ppd_file_t *ppd) const { ppdClose(ppd); }
};
using Ppd = std::unique_ptr<ppd_file_t, PpdCloser>;

Ppd open_ppd(const AppDriver &driver)
{
    return Ppd(ppdOpenFile(varkon::test::varkon_ppd_path(driver.caps.model->modelName).c_str()));
}

std::set<std::string> ppd_choices(ppd_option_t *option)
{
    std::set<std::string> choices;
    for (int i = 0; i < option->num_choices; ++i)
        choices.insert(option->choices[i].choice);
    return choices;
}

std::set<std::string> vendor_choices(const VendorOption &option)
{
    if (option.kind == VendorKind::Boolean)
        return {"True", "False"};
    std::set<std::string> choices;
    for (const VendorChoice &choice : option.choices)
        choices.insert(choice.ppd);
    return choices;
}

// The PPD choice of the option's default.
std::string vendor_default(const VendorOption &option)
{
    if (option.kind == VendorKind::Boolean)
        return std::string(option.defaultValue) == "true" ? "True" : "False";
    for (const VendorChoice &choice : option.choices)
        if (std::string(choice.ipp) == option.defaultValue)
            return choice.ppd;
    return {};
}

TEST(PrinterAppDrivers, OneDriverPerModelWithUniqueNames)
{
    std::set<std::string> names;
    for (const AppDriver &driver : app_drivers())
        EXPECT_TRUE(names.insert(driver.name).second) << driver.name;
    EXPECT_EQ(app_drivers().size(), std::size(varkon::kVarkonModels));
}

TEST(PrinterAppDrivers, DeviceIdAndPageSizesAreThePpds)
{
    for (const AppDriver &driver : app_drivers()) {
        SCOPED_TRACE(driver.name);
        const Ppd ppd = open_ppd(driver);
        ASSERT_TRUE(ppd);
        ppd_attr_t *id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(driver.deviceId, id->value);
        ASSERT_EQ(driver.media.size(), static_cast<size_t>(ppd->num_sizes));
        std::set<std::string> pwgNames;
        for (const MediaSize &size : driver.media) {
            ppd_size_t *ppdSize = ppdPageSize(ppd.get(), size.row->strPageSize);
            ASSERT_NE(ppdSize, nullptr) << size.row->strPageSize;
            EXPECT_EQ(ppdSize->width, size.row->cupsPaperW);
            EXPECT_EQ(ppdSize->length, size.row->cupsPaperH);
            EXPECT_TRUE(pwgNames.insert(size.pwgName).second) << size.pwgName;
            // The PWG size a client sends comes back to this row.
            pwg_media_t *pwg = pwgMediaForPWG(size.pwgName.c_str());
            ASSERT_NE(pwg, nullptr) << size.pwgName;
            cups_page_header2_t header{};
            header.PageSize[0] = static_cast<unsigned>(72 * pwg->width / 2540);
            header.PageSize[1] = static_cast<unsigned>(72 * pwg->length / 2540);
            snap_page_size(&header, driver.caps.paper->rows);
            EXPECT_EQ(header.PageSize[0], static_cast<unsigned>(size.row->cupsPaperW)) << size.pwgName;
            EXPECT_EQ(header.PageSize[1], static_cast<unsigned>(size.row->cupsPaperH)) << size.pwgName;
        }
    }
}

// Options the IPP job carries in its own attributes rather than as vendor options.
bool carried_by_ipp(const AppDriver &driver, const std::string &name)
{
    return name == "PageSize" || name == "PageRegion" || name == "InputSlot" || name == "Collate" ||
           name == "ColorModel" || name == "Resolution" || (name == "Duplex" && driver.caps.duplexer) ||
           (name == "DPI1200" && driver.caps.resolution1200);
}

TEST(PrinterAppDrivers, VendorOptionsAreThePpdsOptions)
{
    for (const AppDriver &driver : app_drivers()) {
        SCOPED_TRACE(driver.name);
        const Ppd ppd = open_ppd(driver);
        ASSERT_TRUE(ppd);
        std::set<std::string> vendorNames;
        for (const VendorOption &option : driver.vendor) {
            vendorNames.insert(option.ppd);
            ppd_option_t *ppdOption = ppdFindOption(ppd.get(), option.ppd);
            ASSERT_NE(ppdOption, nullptr) << option.ppd;
            EXPECT_EQ(vendor_choices(option), ppd_choices(ppdOption)) << option.ppd;
            EXPECT_EQ(vendor_default(option), ppdOption->defchoice) << option.ppd;
        }
        for (int g = 0; g < ppd->num_groups; ++g)
            for (int o = 0; o < ppd->groups[g].num_options; ++o) {
                const std::string name = ppd->groups[g].options[o].keyword;
                EXPECT_TRUE(vendorNames.count(name) == 1 || carried_by_ipp(driver, name)) << name;
            }
    }
}

TEST(PrinterAppDrivers, DeviceIdsFindTheirModelOnly)
{
    for (const AppDriver &driver : app_drivers()) {
        const char *found = driver_for_device_id(driver.deviceId.c_str());
        ASSERT_NE(found, nullptr) << driver.deviceId;
        EXPECT_EQ(found, driver.name);
    }
    EXPECT_STREQ(driver_for_device_id("MANUFACTURER:VARKON;MODEL:Oskel 301;COMMAND SET:PJL;"), "varkon_oskel_301");
    EXPECT_EQ(driver_for_device_id("MFG:Other;MDL:Oskel 301;CMD:PJL;"), nullptr);
    EXPECT_EQ(driver_for_device_id("MFG:Varkon;MDL:Oskel 399;CMD:PJL;"), nullptr);
    EXPECT_EQ(driver_for_device_id("MFG:Varkon;MDL:oskel 301;"), nullptr);
    EXPECT_EQ(driver_for_device_id(""), nullptr);
    EXPECT_EQ(driver_for_device_id(nullptr), nullptr);
}

TEST(PrinterAppDrivers, PageSizesSnapOnlyToANearRowOfTheTable)
{
    const PAPER_SIZE_INFO *rows = gPaperSizeArray_Nimbrel_Sarvel;
    struct Case {
        unsigned w, h, wantW, wantH;
    };
    const Case cases[] = {
        {595, 841, 595, 842},   // PWG A4
        {515, 728, 516, 729},   // PWG JIS B5
        {612, 792, 612, 792},   // exact Letter
        {421, 595, 421, 595},   // A5 fed long edge: the core's own rule
        {593, 842, 593, 842},   // two points off: not A4
        {1000, 1000, 1000, 1000},
    };
    for (const Case &c : cases) {
        cups_page_header2_t header{};
        header.PageSize[0] = c.w;
        header.PageSize[1] = c.h;
        snap_page_size(&header, rows);
        EXPECT_EQ(header.PageSize[0], c.wantW) << c.w << "x" << c.h;
        EXPECT_EQ(header.PageSize[1], c.wantH) << c.w << "x" << c.h;
    }
}

} // namespace
