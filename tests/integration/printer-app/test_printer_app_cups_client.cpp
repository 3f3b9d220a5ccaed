// SPDX-License-Identifier: GPL-2.0-or-later
// A CUPS client prints through the server as through any driverless printer:
// a private cupsd gets a queue made with lpadmin -m everywhere that points at
// the server's printer, lp prints a two-sided PDF to it, and the printer
// receives the pages, both sides, from the raster core.
#include "cupsd_harness.h"
#include "printer_app_documents.h"
#include "printer_app_server.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

// The one job file of the directory, once its job is complete.
std::string only_job_file(const std::string &directory)
{
    DIR *dir = opendir(directory.c_str());
    std::string found;
    while (dirent *entry = dir != nullptr ? readdir(dir) : nullptr)
        if (std::string(entry->d_name).find(".prn") != std::string::npos)
            found = directory + "/" + entry->d_name;
    if (dir != nullptr)
        closedir(dir);
    return found;
}

TEST(PrinterAppCupsClient, DriverlessQueuePrintsThroughTheServer)
{
    TempDir files;
    const std::string out = files.file("out");
    ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
    PrinterAppServer server;
    server.start();
    server.add_printer("p", "varkon_nimbrel_41d", "file://" + out);

    CupsdConfig config = varkon_cupsd_config();
    config.system_backends.push_back("ipp");
    CupsdHarness cupsd(config);
    const ProcessResult added = cupsd.add_queue("office", server.printer_uri("p"), "everywhere");
    ASSERT_EQ(added.exit_code, 0) << added.out << added.err;

    const PageBoxes first = {{0.3, 0.3, 0.7, 0.7}}, second = {{0.1, 0.1, 0.45, 0.4}};
    const std::string pdf = files.file("report.pdf");
    write_file(pdf, pdf_document({first, second}));
    std::string error;
    const int id = cupsd.submit("office", pdf, {"sides=two-sided-long-edge"}, &error);
    ASSERT_GT(id, 0) << error;
    const JobOutcome outcome = cupsd.wait_for_job(id);
    ASSERT_TRUE(outcome.completed()) << outcome.state << " " << outcome.message << "\n" << cupsd.job_log(id);

    const std::string file = only_job_file(out);
    ASSERT_FALSE(file.empty()) << server.log();
    const std::string stream = read_file(file);
    const decode::DecodedStream s =
        decode::decode_stream(reinterpret_cast<const unsigned char *>(stream.data()), stream.size());
    ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation);
    ASSERT_EQ(s.pages.size(), 2u) << decode::format_summary(s);
    EXPECT_EQ(boxes_found(s.pages[0], first, {0.02, 0.02, 0.2, 0.2}), "");
    // The back side is turned for the duplexer: its boxes sit half a turn away.
    const PageBoxes turned = {{0.55, 0.6, 0.9, 0.9}};
    EXPECT_EQ(boxes_found(s.pages[1], turned, {0.05, 0.05, 0.45, 0.45}), "");
}

} // namespace
