// SPDX-License-Identifier: GPL-2.0-or-later
// The driver inside a real, private CUPS scheduler: lpinfo -m offers every
// model, raster and PostScript, cupstestppd accepts every PPD with this
// build's filters in place, and lpadmin makes working queues from the PPDs.
#include "cupsd_harness.h"
#include "model_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>

namespace {

using varkon::test::CupsdHarness;
using varkon::test::ProcessResult;

class CupsQueues : public ::testing::Test {
protected:
    // One scheduler for all tests of a suite run together.
    static void SetUpTestSuite() { cupsd_ = new CupsdHarness(); }
    static void TearDownTestSuite()
    {
        delete cupsd_;
        cupsd_ = nullptr;
    }

    static CupsdHarness *cupsd_;
};

CupsdHarness *CupsQueues::cupsd_ = nullptr;

std::string lines_with(const std::string &text, const std::string &needle)
{
    std::istringstream in(text);
    std::string line, found;
    while (std::getline(in, line))
        if (line.find(needle) != std::string::npos)
            found += line + "\n";
    return found;
}

size_t count_lines(const std::string &text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Every generated model by its ModelName, from the generator's index: the
// raster models and the PostScript ones.
std::vector<std::string> indexed_models()
{
    std::istringstream index(varkon::test::read_file(std::string(VARKON_BINARY_DIR) + "/drv/varkon-ppds.tsv"));
    std::vector<std::string> models;
    std::string line;
    while (std::getline(index, line))
        models.push_back(line.substr(0, line.find('\t')));
    return models;
}

TEST_F(CupsQueues, LpinfoListsEveryModelOnce)
{
    const ProcessResult result = cupsd_->run({"lpinfo", "-m"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::vector<std::string> models = indexed_models();
    ASSERT_GT(models.size(), std::size(varkon::kVarkonModels));
    for (const auto &model : models) {
        // "varkon/varkon-oskel-301.ppd Varkon Oskel 301 Series, <version>"
        const std::string line = lines_with(result.out, " " + model + ", ");
        EXPECT_EQ(count_lines(line), 1u) << model << ":\n" << line;
        EXPECT_EQ(line.find(varkon::test::varkon_ppd_name(model) + " "), 0u) << line;
    }
    EXPECT_EQ(count_lines(lines_with(result.out, "varkon/")), models.size());
}

// cupstestppd also checks that the filter named by *cupsFilter is present and
// may be run by the scheduler: it finds it in this scheduler's ServerBin.
TEST_F(CupsQueues, CupstestppdPassesEveryPpd)
{
    std::vector<std::string> argv = {"cupstestppd"};
    int ppds = 0;
    for (const auto &entry : std::filesystem::directory_iterator(cupsd_->model_dir())) {
        argv.push_back(entry.path().string());
        ++ppds;
    }
    ASSERT_EQ(ppds, static_cast<int>(indexed_models().size()));
    const ProcessResult result = cupsd_->run(argv);
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(count_lines(lines_with(result.out, ".ppd: PASS")), indexed_models().size()) << result.out;
    EXPECT_EQ(lines_with(result.out, "FAIL"), "");
}

// One model of each platform, and of each kind of duplex.
struct QueueCase {
    const char *queue;
    const char *model;
};

class CupsQueuePerPlatform : public CupsQueues, public ::testing::WithParamInterface<QueueCase> {};

TEST_P(CupsQueuePerPlatform, LpadminMakesAQueueWithTheModelsOptions)
{
    const QueueCase &c = GetParam();
    const std::string ppd = varkon::test::varkon_ppd_name(c.model);
    ASSERT_FALSE(ppd.empty());
    const std::string uri = varkon::test::varkontest_uri("/tmp/" + std::string(c.queue) + "/", "MFG:Varkon;MDL:x;");
    const ProcessResult added = cupsd_->add_queue(c.queue, uri, ppd);
    ASSERT_EQ(added.exit_code, 0) << added.err;

    const ProcessResult status = cupsd_->run({"lpstat", "-l", "-p", c.queue, "-v", c.queue});
    EXPECT_NE(status.out.find("printer " + std::string(c.queue) + " is idle.  enabled"), std::string::npos)
        << status.out;
    EXPECT_NE(status.out.find(uri), std::string::npos) << status.out;
    EXPECT_EQ(status.out.find("not available"), std::string::npos) << "filter missing:\n" << status.out;

    // The scheduler serves the PPD's options and defaults.
    const ProcessResult options = cupsd_->run({"lpoptions", "-p", c.queue, "-l"});
    ASSERT_EQ(options.exit_code, 0) << options.err;
    EXPECT_NE(options.out.find("PageSize/Media Size:"), std::string::npos) << options.out;
    EXPECT_NE(lines_with(options.out, "PageSize/").find("*A4 "), std::string::npos) << options.out;
    EXPECT_NE(options.out.find("InputSlot/Media Source: *Auto ManualFeed AutoFeed"), std::string::npos)
        << options.out;
    EXPECT_NE(options.out.find("Density/Print Density: 0 1 *2 3 4"), std::string::npos) << options.out;

    EXPECT_EQ(cupsd_->run({"lpadmin", "-x", c.queue}).exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Platforms, CupsQueuePerPlatform,
                         ::testing::Values(QueueCase{"belvar210", "Varkon Belvar 210 Series"},
                                           QueueCase{"belvar230md", "Varkon Belvar 230md Series"},
                                           QueueCase{"oskel301", "Varkon Oskel 301 Series"},
                                           QueueCase{"drevan330d", "Varkon Drevan 330d Series"},
                                           QueueCase{"nimbrel41", "Varkon Nimbrel 41 Series"},
                                           QueueCase{"sarvel54mdw", "Varkon Sarvel 54mdw Series"}),
                         [](const ::testing::TestParamInfo<QueueCase> &info) { return std::string(info.param.queue); });

// The PostScript families' queues: pstoVarkon is in place, and the options
// the filter reads are offered with the defaults it expects.
class CupsPsQueue : public CupsQueues, public ::testing::WithParamInterface<QueueCase> {};

TEST_P(CupsPsQueue, LpadminMakesAQueueWithTheFiltersOptions)
{
    const QueueCase &c = GetParam();
    const ProcessResult added = cupsd_->add_queue(c.queue, "file:/dev/null", varkon::test::varkon_ppd_name(c.model));
    ASSERT_EQ(added.exit_code, 0) << added.err;
    const ProcessResult status = cupsd_->run({"lpstat", "-l", "-p", c.queue});
    EXPECT_NE(status.out.find("printer " + std::string(c.queue) + " is idle.  enabled"), std::string::npos)
        << status.out;
    EXPECT_EQ(status.out.find("not available"), std::string::npos) << "filter missing:\n" << status.out;

    const ProcessResult options = cupsd_->run({"lpoptions", "-p", c.queue, "-l"});
    ASSERT_EQ(options.exit_code, 0) << options.err;
    EXPECT_NE(lines_with(options.out, "PageSize/Media Size:").find(" *A4 "), std::string::npos) << options.out;
    EXPECT_NE(options.out.find("Resolution/Resolution: *600dpi 1200dpi"), std::string::npos) << options.out;
    EXPECT_NE(options.out.find("Collate/Collate Copies: *False True"), std::string::npos) << options.out;
    const bool jurvex = std::string(c.queue).find("jurvex") == 0;
    EXPECT_EQ(options.out.find("FeedEdge/A5 Feed Direction: *ShortEdge LongEdge") != std::string::npos, jurvex)
        << options.out;
    EXPECT_EQ(cupsd_->run({"lpadmin", "-x", c.queue}).exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Families, CupsPsQueue,
                         ::testing::Values(QueueCase{"jurvex21", "Varkon Jurvex 21 Series PS"},
                                           QueueCase{"jurvexm60", "Varkon JurvexM60 Series PS"},
                                           QueueCase{"halvex40", "Varkon Halvex 40 Series PS"},
                                           QueueCase{"halvexm80", "Varkon HalvexM80 Series PS"},
                                           QueueCase{"generic", "Varkon PostScript Printer"}),
                         [](const ::testing::TestParamInfo<QueueCase> &info) { return std::string(info.param.queue); });

// What a user does to check an installation: a queue onto a file device.
TEST_F(CupsQueues, FileDeviceQueue)
{
    const std::string ppd = varkon::test::varkon_ppd_name("Varkon Oskel 301d Series");
    const ProcessResult added = cupsd_->add_queue("test", "file:/dev/null", ppd);
    ASSERT_EQ(added.exit_code, 0) << added.err;
    const ProcessResult status = cupsd_->run({"lpstat", "-v", "test"});
    EXPECT_NE(status.out.find("device for test: /dev/null"), std::string::npos) << status.out;
    EXPECT_EQ(cupsd_->run({"lpadmin", "-x", "test"}).exit_code, 0);
}

// Test PPDs outside lpinfo -m are given by path (lpadmin -P).
TEST_F(CupsQueues, QueueFromAPpdFile)
{
    const ProcessResult added =
        cupsd_->add_queue("fromfile", "file:/dev/null", varkon::test::varkon_ppd_path("Varkon Sarvel 51 Series"));
    ASSERT_EQ(added.exit_code, 0) << added.err;
    const ProcessResult options = cupsd_->run({"lpoptions", "-p", "fromfile", "-l"});
    EXPECT_NE(options.out.find("DPI1200/1200 dpi Quality: *False True"), std::string::npos) << options.out;
}

// The harness itself: whatever a test did, the scheduler and its tree are
// gone once the harness is.
TEST(CupsdHarness, LeavesNothingRunning)
{
    std::string root;
    int port = 0;
    {
        CupsdHarness cupsd;
        root = cupsd.root();
        port = cupsd.port();
        const ProcessResult running = cupsd.run({"lpstat", "-r"});
        EXPECT_EQ(running.out, "scheduler is running\n");
    }
    EXPECT_FALSE(std::filesystem::exists(root));
    varkon::test::ProcessOptions options;
    options.env = {"CUPS_SERVER=127.0.0.1:" + std::to_string(port)};
    const ProcessResult stopped = varkon::test::run_process({"/usr/bin/lpstat", "-r"}, options);
    EXPECT_EQ(stopped.out, "scheduler is not running\n");
}

} // namespace
