// SPDX-License-Identifier: GPL-2.0-or-later
// The install rules as a packager uses them: a staged install (DESTDIR) puts
// both filters, every PPD (raster and PostScript) and the manual pages where
// CUPS and man look, a scheduler running on the staged files offers every
// model, and the uninstall target takes everything away again.
#include "cupsd_harness.h"
#include "model_table.h"
#include "run_process.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using varkon::test::ProcessOptions;
using varkon::test::ProcessResult;

const std::string kBuild = VARKON_BINARY_DIR;

// A path the build was configured with, from its CMake cache.
std::string cached_path(const std::string &name)
{
    std::ifstream cache(kBuild + "/CMakeCache.txt");
    std::string line;
    const std::string key = name + ":PATH=";
    while (std::getline(cache, line))
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size());
    return "";
}

unsigned mode_of(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

ProcessResult cmake(const std::vector<std::string> &args, const std::string &destdir)
{
    ProcessOptions options;
    options.env = {"DESTDIR=" + destdir};
    options.timeout_ms = 120000;
    std::vector<std::string> argv = {"/usr/bin/cmake"};
    argv.insert(argv.end(), args.begin(), args.end());
    return varkon::test::run_process(argv, options);
}

// The install writes its manifest into the build tree; a real install's
// manifest must survive the test so that its uninstall still works.
class KeepManifest {
public:
    KeepManifest() : existed_(fs::exists(path_)), saved_(existed_ ? varkon::test::read_file(path_) : "") {}
    ~KeepManifest()
    {
        std::error_code ec;
        if (existed_)
            varkon::test::write_file(path_, saved_);
        else
            fs::remove(path_, ec);
    }

private:
    const std::string path_ = kBuild + "/install_manifest.txt";
    const bool existed_;
    const std::string saved_;
};

// Every generated model by its ModelName, raster and PostScript.
std::vector<std::string> indexed_models()
{
    std::istringstream index(varkon::test::read_file(kBuild + "/drv/varkon-ppds.tsv"));
    std::vector<std::string> models;
    std::string line;
    while (std::getline(index, line))
        models.push_back(line.substr(0, line.find('\t')));
    return models;
}

int files_below(const std::string &dir)
{
    int count = 0;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        count += entry.is_directory() ? 0 : 1;
    return count;
}

TEST(CupsInstall, StagedInstallServesEveryModelAndUninstallRemovesIt)
{
    KeepManifest manifest;
    varkon::test::TempDir stage;
    const std::string ppd_dir = cached_path("VARKON_PPD_DIR");
    const std::string filter_dir = cached_path("VARKON_FILTER_DIR");
    ASSERT_FALSE(ppd_dir.empty());
    // Directories cups-driverd reads, so that lpinfo -m finds the installed PPDs.
    EXPECT_TRUE(ppd_dir.rfind("/usr/share/ppd/", 0) == 0 || ppd_dir.rfind("/usr/local/share/ppd/", 0) == 0 ||
                ppd_dir.rfind("/opt/share/ppd/", 0) == 0)
        << ppd_dir;

    const ProcessResult installed = cmake({"--install", kBuild}, stage.path());
    ASSERT_EQ(installed.exit_code, 0) << installed.out << installed.err;

    const std::vector<std::string> models = indexed_models();
    ASSERT_GT(models.size(), std::size(varkon::kVarkonModels));
    for (const auto &model : models) {
        const std::string ppd = varkon::test::varkon_ppd_path(model);
        const std::string staged = stage.path() + ppd_dir + "/" + fs::path(ppd).filename().string();
        EXPECT_EQ(varkon::test::read_file(staged), varkon::test::read_file(ppd)) << staged;
        EXPECT_EQ(mode_of(staged), 0644u) << staged;
    }
    const std::vector<std::string> filters = {stage.path() + filter_dir + "/rastertoVarkon",
                                              stage.path() + filter_dir + "/pstoVarkon"};
    for (const auto &filter : filters)
        EXPECT_EQ(mode_of(filter), 0755u) << filter;
    int man_pages = 0;
    for (const auto &entry : fs::recursive_directory_iterator(stage.path()))
        man_pages += entry.path().filename() == "rastertoVarkon.8" || entry.path().filename() == "pstoVarkon.8";
    EXPECT_EQ(man_pages, 2);

    // A scheduler that has only the staged filters and PPDs.
    {
        varkon::test::CupsdConfig config;
        config.filters = filters;
        config.ppd_dirs.push_back(stage.path() + ppd_dir);
        varkon::test::CupsdHarness cupsd(config);
        const ProcessResult offered = cupsd.run({"lpinfo", "-m"});
        for (const auto &model : models)
            EXPECT_NE(offered.out.find(" " + model + ", "), std::string::npos) << model;
        for (const char *model : {"Varkon Nimbrel 41 Series", "Varkon Jurvex 21 Series PS", "Varkon Halvex 50 Series PS"}) {
            const ProcessResult added = cupsd.add_queue("test", "file:/dev/null", varkon::test::varkon_ppd_name(model));
            EXPECT_EQ(added.exit_code, 0) << added.err;
            const ProcessResult status = cupsd.run({"lpstat", "-l", "-p", "test"});
            EXPECT_NE(status.out.find("printer test is idle"), std::string::npos) << model << "\n" << status.out;
            EXPECT_EQ(status.out.find("not available"), std::string::npos) << model << "\n" << status.out;
            EXPECT_EQ(cupsd.run({"lpadmin", "-x", "test"}).exit_code, 0);
        }
    }

    const ProcessResult removed = cmake(
        {"-DMANIFEST=" + kBuild + "/install_manifest.txt", "-P", std::string(VARKON_SOURCE_DIR) + "/cmake/VarkonUninstall.cmake"},
        stage.path());
    EXPECT_EQ(removed.exit_code, 0) << removed.out << removed.err;
    EXPECT_EQ(files_below(stage.path()), 0);
    EXPECT_FALSE(fs::exists(stage.path() + ppd_dir));
}

} // namespace
