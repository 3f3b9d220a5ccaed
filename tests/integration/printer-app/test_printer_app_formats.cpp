// SPDX-License-Identifier: GPL-2.0-or-later
// Every document format the Printer Application takes (PWG raster, Apple
// raster, JPEG, PNG, PDF), printed by a running server on one model of each
// platform: each printer stream is valid, of that platform, with the pages that
// went in, each the size of the paper table's A4 image, its boxes where they were.
#include "model_capabilities.h"
#include "printer_app_documents.h"
#include "printer_app_server.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <map>

namespace {

using namespace varkon::test;
namespace decode = varkon::decode;

struct Model {
    const char *driver;
    const char *modelName;
    decode::Platform platform;
};

const Model kModels[] = {
    {"varkon_belvar_210d", "Varkon Belvar 210d Series", decode::Platform::C},
    {"varkon_oskel_301d", "Varkon Oskel 301d Series", decode::Platform::Z},
    {"varkon_nimbrel_41d", "Varkon Nimbrel 41d Series", decode::Platform::M},
};

struct PageCheck {
    PageBoxes boxes;
    Box clear;
};

const PageCheck kFirst{{{0.3, 0.3, 0.7, 0.7}}, {0.02, 0.02, 0.2, 0.2}};
const PageCheck kSecond{{{0.1, 0.1, 0.45, 0.4}, {0.6, 0.7, 0.9, 0.9}}, {0.6, 0.1, 0.95, 0.5}};

struct Format {
    const char *name; // job name and file name
    const char *mime;
    bool twoPages;
};

const Format kFormats[] = {
    {"pwg", "image/pwg-raster", true}, {"urf", "image/urf", true}, {"jpeg", "image/jpeg", false},
    {"png", "image/png", false},       {"pdf", "application/pdf", true},
};

// The device image of A4 in the model's paper table.
const PAPER_SIZE_INFO &a4_row(const char *modelName)
{
    varkon::ModelCapabilities caps;
    EXPECT_TRUE(varkon::model_capabilities(*varkon::find_model(modelName), &caps));
    const PAPER_SIZE_INFO *row = caps.paper->rows;
    while (std::strcmp(row->strPageSize, "A4") != 0)
        ++row;
    return *row;
}

class PrinterAppFormats : public ::testing::Test {
protected:
    TempDir files;

    std::string document(const Format &format)
    {
        const std::string path = files.file(std::string("doc.") + format.name);
        const std::vector<PageBoxes> pages = {kFirst.boxes, kSecond.boxes};
        if (std::strcmp(format.name, "pwg") == 0)
            write_file(path, raster_document(pages, CUPS_RASTER_WRITE_PWG));
        else if (std::strcmp(format.name, "urf") == 0)
            write_file(path, raster_document(pages, CUPS_RASTER_WRITE_APPLE));
        else if (std::strcmp(format.name, "pdf") == 0)
            write_file(path, pdf_document(pages));
        else
            image_document(kFirst.boxes, std::strcmp(format.name, "jpeg") == 0 ? "jpeggray" : "pnggray", path);
        return path;
    }
};

TEST_F(PrinterAppFormats, EveryFormatPrintsItsPagesOnEveryPlatform)
{
    PrinterAppServer server;
    server.start();
    std::map<std::string, std::string> documents;
    for (const Format &format : kFormats)
        documents[format.name] = document(format);
    std::map<std::string, int> jobs; // "driver/format" -> job id
    for (const Model &model : kModels) {
        const std::string out = files.file(model.driver);
        ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
        server.add_printer(model.driver, model.driver, "file://" + out);
        for (const Format &format : kFormats) {
            std::string error;
            const int id = server.submit(model.driver, documents[format.name], format.mime,
                                         {{"job-name", format.name}}, &error);
            ASSERT_GT(id, 0) << model.driver << " " << format.name << ": " << error;
            jobs[std::string(model.driver) + "/" + format.name] = id;
            // One job at a time: PAPPL 1.3.1 answers a PWG or Apple raster job
            // for a printer that prints another one server-error-busy.
            ASSERT_NE(server.wait_for_job(model.driver, id).state, 0) << server.log();
        }
    }
    for (const Model &model : kModels) {
        const PAPER_SIZE_INFO &a4 = a4_row(model.modelName);
        for (const Format &format : kFormats) {
            SCOPED_TRACE(std::string(model.driver) + " " + format.name);
            const JobStatus status = server.wait_for_job(model.driver, jobs[std::string(model.driver) + "/" + format.name]);
            ASSERT_TRUE(status.completed()) << status.state << " " << status.message << "\n" << server.log();
            const std::string stream = read_file(device_file(files.file(model.driver), format.name));
            const decode::DecodedStream s =
                decode::decode_stream(reinterpret_cast<const unsigned char *>(stream.data()), stream.size());
            ASSERT_TRUE(s.valid()) << decode::format_violation(*s.violation) << ", " << stream.size()
                                   << " bytes starting " << stream.substr(0, 40);
            EXPECT_EQ(s.platform, model.platform);
            EXPECT_TRUE(s.job_ended);
            ASSERT_EQ(s.pages.size(), format.twoPages ? 2u : 1u) << decode::format_summary(s);
            for (size_t i = 0; i < s.pages.size(); ++i) {
                const decode::Page &page = s.pages[i];
                // Platform C prints PAPPL's images at 1200 dpi, on a page twice the size.
                const uint32_t scale = page.resolution_x == 120 ? 2 : 1;
                EXPECT_EQ(page.width, scale * static_cast<uint32_t>(a4.fwPaperW)) << "page " << i + 1;
                EXPECT_EQ(page.height, scale * static_cast<uint32_t>(a4.fwPaperH)) << "page " << i + 1;
                const PageCheck &check = i == 0 ? kFirst : kSecond;
                EXPECT_EQ(boxes_found(page, check.boxes, check.clear), "") << "page " << i + 1;
            }
        }
    }
}

} // namespace
