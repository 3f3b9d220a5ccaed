// SPDX-License-Identifier: GPL-2.0-or-later
// What an IPP job becomes for the raster core: the options text from vendor
// values, printer defaults and media source; copies and collation; the page
// header with the job's sides, refused at resolutions the printer lacks; and
// Ghostscript's command line, run without a shell.
#include "child_process.h"
#include "page_request.h"
#include "pdf_filter.h"
#include "raster_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

using namespace varkon::app;

const AppDriver &driver(const char *name)
{
    const AppDriver *found = find_driver(name);
    EXPECT_NE(found, nullptr) << name;
    return *found;
}

pappl_pr_options_t options_with(cups_option_t *vendor, int count, const char *source = "auto", int copies = 1)
{
    pappl_pr_options_t options{};
    options.vendor = vendor;
    options.num_vendor = count;
    options.copies = copies;
    papplCopyString(options.media.source, source, sizeof options.media.source);
    return options;
}

TEST(PrinterAppJobRequest, OptionsTextTakesJobThenPrinterThenOwnDefaults)
{
    const AppDriver &z = driver("varkon_oskel_301");
    cups_option_t *values = nullptr;
    int count = cupsAddOption("density", "4", 0, &values);
    count = cupsAddOption("toner-mode", "true", count, &values);
    count = cupsAddOption("negative-print", "maybe", count, &values); // not a choice
    count = cupsAddOption("manual-duplex", "short-edge", count, &values);
    ipp_t *defaults = ippNew();
    ippAddBoolean(defaults, IPP_TAG_PRINTER, "negative-print-default", 1);
    ippAddBoolean(defaults, IPP_TAG_PRINTER, "fine-mode-default", 1);
    const std::string text = vendor_options_text(z.vendor, count, values, defaults);
    EXPECT_EQ(text, "Density=4 TonerMode=True NegativePrint=True DPI1200=False FineMode=True Duplex=DuplexTumble "
                    "FeedLongEdge=False ImageRotation=False");
    EXPECT_EQ(vendor_options_text(z.vendor, 0, nullptr, nullptr),
              "Density=2 TonerMode=False NegativePrint=False DPI1200=False FineMode=False Duplex=None "
              "FeedLongEdge=False ImageRotation=False");
    ippDelete(defaults);
    cupsFreeOptions(count, values);
}

TEST(PrinterAppJobRequest, OptionsDependOnTheModel)
{
    // Platform C: 1200 dpi is a resolution, manual duplex an option of models without a duplexer.
    EXPECT_EQ(vendor_options_text(driver("varkon_belvar_210").vendor, 0, nullptr, nullptr),
              "Density=2 TonerMode=False NegativePrint=False ManualDuplex=False FeedLongEdge=False "
              "ImageRotation=False");
    EXPECT_EQ(vendor_options_text(driver("varkon_nimbrel_41d").vendor, 0, nullptr, nullptr),
              "Density=2 TonerMode=False NegativePrint=False DPI1200=False FeedLongEdge=False ImageRotation=False");
    EXPECT_EQ(resolution_options(driver("varkon_belvar_210"), 1200), " DPI1200=True");
    EXPECT_EQ(resolution_options(driver("varkon_belvar_210"), 600), " DPI1200=False");
    EXPECT_EQ(resolution_options(driver("varkon_oskel_301"), 1200), "");
}

TEST(PrinterAppJobRequest, SourceCopiesAndCollation)
{
    const AppDriver &m = driver("varkon_nimbrel_41d");
    struct Case {
        const char *source, *format, *handling;
        int copies;
        const char *slot;
        unsigned wantCopies;
        bool collate;
    };
    const Case cases[] = {
        {"auto", "image/pwg-raster", nullptr, 3, "InputSlot=Auto", 3, true},
        {"manual", "image/urf", "separate-documents-uncollated-copies", 2, "InputSlot=ManualFeed", 2, false},
        {"tray-1", "application/pdf", "separate-documents-collated-copies", 2, "InputSlot=AutoFeed", 2, true},
        // PAPPL repeats its own images for every copy.
        {"auto", "image/jpeg", nullptr, 4, "InputSlot=Auto", 1, true},
        {"auto", "image/png", nullptr, 4, "InputSlot=Auto", 1, true},
        {"envelope", "image/pwg-raster", nullptr, 0, "InputSlot=Auto", 1, true},
    };
    for (const Case &c : cases) {
        const pappl_pr_options_t options = options_with(nullptr, 0, c.source, c.copies);
        const JobRequest request = job_request(m, options, nullptr, c.format, c.handling);
        EXPECT_NE(request.options.find(c.slot), std::string::npos) << request.options;
        EXPECT_EQ(request.copies, c.wantCopies) << c.format;
        ASSERT_TRUE(request.collate.has_value());
        EXPECT_EQ(*request.collate, c.collate) << c.format;
    }
}

TEST(PrinterAppJobRequest, PageHeaderTakesTheJobsSidesAndRefusesOtherResolutions)
{
    const AppDriver &duplexer = driver("varkon_oskel_301d"), &simplex = driver("varkon_oskel_301");
    std::string why;
    cups_page_header2_t h = varkon::test::gray_header(595, 841);
    h.Duplex = CUPS_TRUE; // PAPPL's header is not the job's word
    ASSERT_TRUE(prepare_page_header(duplexer, PAPPL_SIDES_ONE_SIDED, &h, &why));
    EXPECT_FALSE(h.Duplex);
    EXPECT_EQ(h.PageSize[1], 842u);
    ASSERT_TRUE(prepare_page_header(duplexer, PAPPL_SIDES_TWO_SIDED_SHORT_EDGE, &h, &why));
    EXPECT_TRUE(h.Duplex);
    EXPECT_TRUE(h.Tumble);
    ASSERT_TRUE(prepare_page_header(duplexer, PAPPL_SIDES_TWO_SIDED_LONG_EDGE, &h, &why));
    EXPECT_TRUE(h.Duplex);
    EXPECT_FALSE(h.Tumble);
    ASSERT_TRUE(prepare_page_header(simplex, PAPPL_SIDES_TWO_SIDED_LONG_EDGE, &h, &why));
    EXPECT_FALSE(h.Duplex);

    cups_page_header2_t at1200 = varkon::test::gray_header(595, 842, 1200);
    EXPECT_TRUE(prepare_page_header(driver("varkon_belvar_210d"), PAPPL_SIDES_ONE_SIDED, &at1200, &why));
    EXPECT_FALSE(prepare_page_header(duplexer, PAPPL_SIDES_ONE_SIDED, &at1200, &why));
    EXPECT_NE(why.find("1200x1200 dpi"), std::string::npos) << why;
    cups_page_header2_t uneven = varkon::test::gray_header(595, 842);
    uneven.HWResolution[1] = 300;
    EXPECT_FALSE(prepare_page_header(driver("varkon_belvar_210d"), PAPPL_SIDES_ONE_SIDED, &uneven, &why));
}

TEST(PrinterAppGhostscript, ArgumentsKeepTheDocumentPathWhole)
{
    const std::string path = "/tmp/a b;$(touch x)'.pdf";
    const std::vector<std::string> args = ghostscript_arguments(path, 1200, 595, 842);
    EXPECT_EQ(args.front(), "gs");
    EXPECT_EQ(args.back(), path);
    EXPECT_EQ(args[args.size() - 2], "-f");
    for (const char *expected : {"-sDEVICE=pwgraster", "-dcupsColorSpace=18", "-dcupsBitsPerColor=8", "-r1200x1200",
                                 "-dDEVICEWIDTHPOINTS=595", "-dDEVICEHEIGHTPOINTS=842", "-dSAFER"})
        EXPECT_NE(std::find(args.begin(), args.end(), expected), args.end()) << expected;
}

std::string read_all(int fd)
{
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    return text;
}

TEST(PrinterAppGhostscript, ChildGetsItsArgumentsLiterallyAndCanBeStopped)
{
    ChildProcess echo;
    std::string error;
    ASSERT_TRUE(echo.start({"printf", "%s|%s", "a b", "$(id);`id`"}, &error)) << error;
    EXPECT_EQ(read_all(echo.output_fd()), "a b|$(id);`id`");
    EXPECT_EQ(echo.wait(), 0);

    ChildProcess missing;
    EXPECT_FALSE(missing.start({"varkon-no-such-program"}, &error));
    EXPECT_NE(error.find("varkon-no-such-program"), std::string::npos);

    ChildProcess sleeper;
    ASSERT_TRUE(sleeper.start({"sleep", "30"}, &error)) << error;
    const auto start = std::chrono::steady_clock::now();
    sleeper.terminate();
    EXPECT_EQ(exit_description(sleeper.wait()), "signal 15");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

} // namespace
