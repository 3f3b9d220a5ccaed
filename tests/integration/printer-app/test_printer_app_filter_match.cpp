// SPDX-License-Identifier: GPL-2.0-or-later
// The server and the CUPS filter send the same printer stream for the same
// pages and options: the pages go to rastertoVarkon as CUPS raster with the
// model's generated PPD and to the server as PWG raster with the IPP job's
// attributes, and the two streams are equal byte for byte once the wall-clock
// time of platform Z's job start is blanked (job id, title and user are the same).
#include "cupsd_harness.h"
#include "filter_job.h"
#include "hex_bytes.h"
#include "printer_app_documents.h"
#include "printer_app_server.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace varkon::test;

struct Model {
    const char *driver;
    const char *modelName;
};

const Model kModels[] = {
    {"varkon_belvar_210d", "Varkon Belvar 210d Series"},
    {"varkon_oskel_301d", "Varkon Oskel 301d Series"},
    {"varkon_nimbrel_41d", "Varkon Nimbrel 41d Series"},
};

// One job as the filter is given it and as an IPP client asks for it.
struct Job {
    const char *name;
    std::string filterOptions; // argument 5
    bool duplex;               // the raster header's Duplex, for the filter
    unsigned copies;           // the raster header's NumCopies, for the filter
    std::vector<std::pair<std::string, std::string>> attributes;
};

const Job kJobs[] = {
    {"defaults", "", false, 1, {}},
    {"options",
     "Density=4 TonerMode=True NegativePrint=True",
     true,
     1,
     {{"density", "4"}, {"toner-mode", "true"}, {"negative-print", "true"}, {"sides", "two-sided-long-edge"}}},
    {"copies",
     "Collate=True",
     false,
     2,
     {{"copies", "2"}, {"multiple-document-handling", "separate-documents-collated-copies"}}},
};

// Three A4 pages with boxes; the header as both inputs carry it.
std::vector<RasterPage> pages(const Job &job)
{
    std::vector<RasterPage> raster;
    const std::vector<PageBoxes> boxes = {{{0.2, 0.2, 0.5, 0.6}}, {{0.5, 0.1, 0.9, 0.3}}, {{0.1, 0.7, 0.9, 0.8}}};
    for (const PageBoxes &b : boxes) {
        cups_page_header2_t header = gray_header(595, 842);
        header.Duplex = job.duplex ? CUPS_TRUE : CUPS_FALSE;
        header.NumCopies = job.copies;
        raster.emplace_back(header, box_fill(b, header.cupsWidth, header.cupsHeight));
    }
    return raster;
}

// The first difference, for the failure message.
std::string first_difference(const std::string &a, const std::string &b)
{
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at " +
           std::to_string(at) + ": " + hex(a.substr(at, 16)) + " / " + hex(b.substr(at, 16));
}

TEST(PrinterAppFilterMatch, ServerSendsWhatTheFilterSends)
{
    TempDir files;
    PrinterAppServer server;
    server.start();
    for (const Model &model : kModels) {
        const std::string out = files.file(model.driver);
        ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
        server.add_printer(model.driver, model.driver, "file://" + out);
        for (const Job &job : kJobs) {
            SCOPED_TRACE(std::string(model.driver) + " " + job.name);
            const std::vector<RasterPage> raster = pages(job);
            const std::string pwg = files.file(std::string(job.name) + ".pwg");
            write_file(pwg, make_raster(raster, CUPS_RASTER_WRITE_PWG));
            std::vector<std::pair<std::string, std::string>> attributes = job.attributes;
            attributes.emplace_back("job-name", job.name);
            std::string error;
            const int id = server.submit(model.driver, pwg, "image/pwg-raster", attributes, &error);
            ASSERT_GT(id, 0) << error;
            const JobStatus status = server.wait_for_job(model.driver, id);
            ASSERT_TRUE(status.completed()) << status.message << "\n" << server.log();

            ProcessOptions run;
            run.env.push_back("PPD=" + varkon_ppd_path(model.modelName));
            run.env.push_back("TMPDIR=" + files.path());
            run.stdin_data = make_raster(raster);
            const ProcessResult filter = run_process(
                {built_program("rastertoVarkon/rastertoVarkon"), std::to_string(id), "tester", job.name, "1",
                 job.filterOptions},
                run);
            ASSERT_EQ(filter.exit_code, 0) << filter.err;
            const std::string fromServer = without_job_time(read_file(device_file(out, job.name)));
            const std::string fromFilter = without_job_time(filter.out);
            EXPECT_TRUE(fromServer == fromFilter) << first_difference(fromServer, fromFilter);
        }
    }
}

} // namespace
