// SPDX-License-Identifier: GPL-2.0-or-later
// The PostScript models' PPDs against pstoVarkon's own family lists and the
// filter itself: every Jurvex designation and Halvex nickname has its PPD,
// names and device IDs classify as the filter's rules say (checked by running
// the filter on each PPD), and each PPD hands the filter what it reads: the
// input type, copies, the FeedEdge and Duplex choices, sizes it admits.
#include "../../../pstoVarkon/printer_families.h"
#include "model_table.h"
#include "ppd_closer.h"
#include "ps_job_fixtures.h"
#include "run_process.h"
#include "text_search.h"

#include <cups/ppd.h>

#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace varkon::test;

const std::string kBuild = VARKON_BINARY_DIR;

enum class Family { Jurvex, Halvex, Neither };

struct PsPpd {
    std::string path;
    varkon::PpdFile ppd;
    std::string nickname, device_id;
};

std::string attribute(ppd_file_t *ppd, const char *name)
{
    ppd_attr_t *attr = ppdFindAttr(ppd, name, nullptr);
    return attr != nullptr && attr->value != nullptr ? attr->value : "";
}

// Every generated PPD that is not one of the raster models'.
std::vector<PsPpd> ps_ppds()
{
    std::vector<PsPpd> found;
    std::istringstream index(read_file(kBuild + "/drv/varkon-ppds.tsv"));
    std::string line;
    while (std::getline(index, line)) {
        const std::string model = line.substr(0, line.find('\t'));
        const bool raster = std::any_of(std::begin(varkon::kVarkonModels), std::end(varkon::kVarkonModels),
                                        [&](const varkon::VarkonModel &m) { return model == m.modelName; });
        if (raster)
            continue;
        PsPpd ps;
        ps.path = kBuild + "/drv/ppd/" + line.substr(line.find('\t') + 1);
        ps.ppd.reset(ppdOpenFile(ps.path.c_str()));
        if (ps.ppd) {
            ps.nickname = attribute(ps.ppd.get(), "ShortNickName");
            ps.device_id = attribute(ps.ppd.get(), "1284DeviceID");
        }
        found.push_back(std::move(ps));
    }
    return found;
}

bool holds_jurvex_designation(const std::string &subject)
{
    return std::any_of(std::begin(jurvex_printerinfo), std::end(jurvex_printerinfo),
                       [&](const char *designation) { return varkon::contains_nocase(subject, designation); });
}

// The family by the filter's rules, from the nickname and from the device ID;
// both must agree for a PPD.
Family family_of(const PsPpd &ps)
{
    if (holds_jurvex_designation(ps.nickname) && holds_jurvex_designation(ps.device_id))
        return Family::Jurvex;
    for (std::size_t i = 0; i < kHalvexModelCount; ++i) {
        const HalvexDeviceId &id = Halvex_1284info[i];
        if (strcasecmp(ps.nickname.c_str(), Halvex_printerinfo[i]) == 0 &&
            ps.device_id.find(id.mfg) != std::string::npos && ps.device_id.find(id.mdl) != std::string::npos &&
            ps.device_id.find(id.cls) != std::string::npos)
            return Family::Halvex;
    }
    return Family::Neither;
}

class PsPpds : public ::testing::Test {
protected:
    void SetUp() override
    {
        ppds_ = ps_ppds();
        for (const auto &ps : ppds_)
            ASSERT_TRUE(ps.ppd) << ps.path;
    }

    std::vector<const PsPpd *> of_family(Family family) const
    {
        std::vector<const PsPpd *> found;
        for (const auto &ps : ppds_)
            if (family_of(ps) == family)
                found.push_back(&ps);
        return found;
    }

    std::vector<PsPpd> ppds_;
};

TEST_F(PsPpds, OnePpdPerFamilyModelAndOneGeneric)
{
    EXPECT_EQ(ppds_.size(), kJurvexModelCount + kHalvexModelCount + 1);
    for (const char *designation : jurvex_printerinfo) {
        int matches = 0;
        for (const PsPpd *ps : of_family(Family::Jurvex))
            matches += varkon::contains_nocase(ps->nickname, designation) &&
                               ps->device_id.find(std::string("MDL:") + designation) != std::string::npos
                           ? 1
                           : 0;
        EXPECT_EQ(matches, 1) << designation;
    }
    for (std::size_t i = 0; i < kHalvexModelCount; ++i) {
        const auto halvex = of_family(Family::Halvex);
        EXPECT_EQ(std::count_if(halvex.begin(), halvex.end(),
                                [&](const PsPpd *ps) { return ps->nickname == Halvex_printerinfo[i]; }),
                  1)
            << Halvex_printerinfo[i];
    }
    EXPECT_EQ(of_family(Family::Jurvex).size(), kJurvexModelCount);
    EXPECT_EQ(of_family(Family::Halvex).size(), kHalvexModelCount);
    ASSERT_EQ(of_family(Family::Neither).size(), 1u);
    const PsPpd &generic = *of_family(Family::Neither)[0];
    EXPECT_FALSE(holds_jurvex_designation(generic.nickname) || holds_jurvex_designation(generic.device_id))
        << generic.nickname << " / " << generic.device_id;
}

// What every PostScript PPD shares: a real PostScript printer's description,
// and a PJL header out of which the CUPS filters write "@PJL JOB NAME".
TEST_F(PsPpds, DescribeVarkonPostScriptPrinters)
{
    for (const auto &ps : ppds_) {
        ppd_file_t *ppd = ps.ppd.get();
        SCOPED_TRACE(ps.path);
        EXPECT_STREQ(ppd->manufacturer, "Varkon");
        EXPECT_EQ(std::string(ppd->nickname).rfind(std::string(ppd->modelname) + ", ", 0), 0u) << ppd->nickname;
        EXPECT_EQ(ppd->language_level, 3);
        EXPECT_EQ(attribute(ppd, "PSVersion"), "(3010.000) 0");
        EXPECT_EQ(attribute(ppd, "DefaultResolution"), "600dpi");
        EXPECT_EQ(ppd->color_device, 0);
        EXPECT_EQ(std::string(ppd->jcl_begin), "\x1b%-12345X@PJL JOB\n");
        EXPECT_EQ(std::string(ppd->jcl_ps), "@PJL ENTER LANGUAGE = POSTSCRIPT\n");
        EXPECT_EQ(ps.device_id.find("MFG:Varkon;"), 0u) << ps.device_id;
        EXPECT_NE(ps.device_id.find("CMD:PJL,POSTSCRIPT;"), std::string::npos) << ps.device_id;
        for (const char *size : {"A4", "Letter", "Legal", "Executive", "A5", "B5", "Env10", "EnvDL", "EnvC5"})
            EXPECT_NE(ppdPageSize(ppd, size), nullptr) << size;
        EXPECT_STREQ(ppdFindOption(ppd, "PageSize")->defchoice, "A4");
        ASSERT_NE(ppdFindOption(ppd, "Collate"), nullptr);
        // pdftopdf would take an option of this name for the page order.
        EXPECT_EQ(ppdFindOption(ppd, "OutputOrder"), nullptr);
        // The Halvex filter turns pages whenever the queue's default is long
        // edge and the job names no other choice: one-sided is the default.
        if (ppd_option_t *duplex = ppdFindOption(ppd, "Duplex")) {
            EXPECT_STREQ(duplex->defchoice, "None");
            EXPECT_NE(ppdFindChoice(duplex, "DuplexNoTumble"), nullptr);
        }
    }
}

// Jurvex: PostScript in; the printer repeats pages and the filter collates;
// FeedEdge for A5; custom sizes exactly those the filter admits, and every
// fixed size among them.
TEST_F(PsPpds, JurvexPpdsGiveTheFilterWhatItReads)
{
    for (const PsPpd *ps : of_family(Family::Jurvex)) {
        ppd_file_t *ppd = ps->ppd.get();
        SCOPED_TRACE(ps->path);
        ASSERT_EQ(ppd->num_filters, 1);
        EXPECT_STREQ(ppd->filters[0], "application/vnd.cups-postscript 0 pstoVarkon");
        EXPECT_EQ(ppd->manual_copies, 0);
        EXPECT_STRCASEEQ(attribute(ppd, "cupsCollate").c_str(), "true");
        ppd_option_t *feed = ppdFindOption(ppd, "FeedEdge");
        ASSERT_NE(feed, nullptr);
        EXPECT_NE(ppdFindChoice(feed, "LongEdge"), nullptr);
        EXPECT_EQ(std::string(feed->defchoice).find("LongEdge"), std::string::npos);
        ASSERT_EQ(ppd->variable_sizes, 1);
        EXPECT_EQ(ppd->custom_min[0], 211.0f);
        EXPECT_EQ(ppd->custom_max[0], 613.0f);
        EXPECT_EQ(ppd->custom_min[1], 418.0f);
        EXPECT_EQ(ppd->custom_max[1], 1010.0f);
        for (int i = 0; i < ppd->num_sizes; ++i) {
            const ppd_size_t &size = ppd->sizes[i];
            if (std::string(size.name) == "Custom")
                continue;
            EXPECT_TRUE(size.width >= 211 && size.width <= 613 && size.length >= 418 && size.length <= 1010)
                << size.name;
        }
    }
}

// Halvex: PDF after pdftopdf, which makes the copies, since the filter
// converts a single one.
TEST_F(PsPpds, HalvexPpdsTakePdfWithCopiesMadeBefore)
{
    for (const PsPpd *ps : of_family(Family::Halvex)) {
        ppd_file_t *ppd = ps->ppd.get();
        SCOPED_TRACE(ps->path);
        ASSERT_EQ(ppd->num_filters, 1);
        EXPECT_STREQ(ppd->filters[0], "application/vnd.cups-pdf 0 pstoVarkon");
        EXPECT_EQ(ppd->manual_copies, 1);
    }
    const PsPpd &generic = *of_family(Family::Neither).at(0);
    ASSERT_EQ(generic.ppd->num_filters, 1);
    EXPECT_STREQ(generic.ppd->filters[0], "application/vnd.cups-postscript 0 pstoVarkon");
}

// The filter itself on each PPD, without a device ID: Jurvex PPDs get the
// job owner after the job name, Halvex PPDs a PDF converted to PostScript,
// and the generic one passes the job on unchanged.
TEST_F(PsPpds, FilterClassifiesEachPpdByItsNickname)
{
    TempDir dir;
    NoSideChannel no_side_channel;
    const std::string job = "\x1b%-12345X@PJL JOB NAME = \"t\"\n@PJL ENTER LANGUAGE = POSTSCRIPT\n%!PS-Adobe-3.0\n"
                            "%%Pages: 1\n%%EndComments\n%%Page: 1 1\nshowpage\n%%EOF\n\x1b%-12345X";
    const std::string postscript = dir.file("job.ps");
    write_file(postscript, job);
    const std::string pdf = make_pdf(dir, "job", 1);
    for (const auto &ps : ppds_) {
        const Family family = family_of(ps);
        ProcessOptions options;
        options.env = {"PPD=" + ps.path, "TMPDIR=" + dir.path(), "CUPS_SERVER=" + dir.file("no-cupsd"),
                       "HOME=" + dir.path()};
        options.unset = {"DEVICE_URI"};
        const std::string input = family == Family::Halvex ? pdf : postscript;
        const ProcessResult r =
            run_process({built_program("pstoVarkon/pstoVarkon"), "7", "alice", "t", "1", "", input}, options);
        SCOPED_TRACE(ps.path + "\n" + r.err);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_NE(r.err.find("attr->value :" + ps.nickname + ".\n"), std::string::npos);
        switch (family) {
        case Family::Jurvex:
            EXPECT_EQ(count_of(r.out, "@PJL JOB NAME = \"t\"\n@PJL SET JOBOWNER="), 1);
            break;
        case Family::Halvex:
            EXPECT_NE(r.out.find("%!PS-Adobe-3.0\n"), std::string::npos);
            EXPECT_EQ(ps_page_count(r.out), 1);
            break;
        case Family::Neither:
            EXPECT_EQ(r.out, job);
            break;
        }
    }
}

} // namespace
