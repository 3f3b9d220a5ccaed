// SPDX-License-Identifier: GPL-2.0-or-later
// The IPP job's page and job values as the raster core takes them.
#include "page_request.h"

#include "platform.h"

#include <cstdio>
#include <cstring>

namespace varkon::app {

namespace {

// The media-source keywords the drivers offer, and the InputSlot choices they are.
struct SourceSlot {
    const char *source;
    const char *slot;
};

constexpr SourceSlot kSourceSlots[] = {
    {"auto", "Auto"},
    {"manual", "ManualFeed"},
    {"tray-1", "AutoFeed"},
};

const char *input_slot(const char *source)
{
    for (const SourceSlot &s : kSourceSlots)
        if (std::strcmp(s.source, source) == 0)
            return s.slot;
    return "Auto";
}

} // namespace

bool resolution_supported(const AppDriver &driver, unsigned x, unsigned y)
{
    if (x != y)
        return false;
    return x == 600 || (x == 1200 && driver.caps.resolution1200);
}

bool prepare_page_header(const AppDriver &driver, pappl_sides_t sides, cups_page_header2_t *header,
                         std::string *reason)
{
    if (!resolution_supported(driver, header->HWResolution[0], header->HWResolution[1])) {
        char text[160];
        std::snprintf(text, sizeof text, "The page is at %ux%u dpi; this printer prints at %s.", header->HWResolution[0],
                      header->HWResolution[1], driver.caps.resolution1200 ? "600 or 1200 dpi" : "600 dpi");
        *reason = text;
        return false;
    }
    // The job's sides, not the raster's: PAPPL streams every page as simplex.
    const bool duplex = driver.caps.duplexer && sides != PAPPL_SIDES_ONE_SIDED;
    header->Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
    header->Tumble = duplex && sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? CUPS_TRUE : CUPS_FALSE;
    snap_page_size(header, driver.caps.paper->rows);
    return true;
}

JobRequest job_request(const AppDriver &driver, const pappl_pr_options_t &options, ipp_t *printerDefaults,
                       const char *format, const char *documentHandling)
{
    JobRequest request;
    request.options = vendor_options_text(driver.vendor, options.num_vendor, options.vendor, printerDefaults);
    request.options += std::string(" InputSlot=") + input_slot(options.media.source);
    // PAPPL repeats the pages of the images it decodes itself for each copy.
    const bool repeated = format != nullptr && (std::strcmp(format, "image/jpeg") == 0 || std::strcmp(format, "image/png") == 0);
    request.copies = repeated || options.copies < 1 ? 1 : static_cast<unsigned>(options.copies);
    // Collated unless asked otherwise, as multiple-document-handling-default says.
    request.collate = documentHandling == nullptr ||
                      std::strcmp(documentHandling, "separate-documents-uncollated-copies") != 0;
    return request;
}

// Platform C halftones a 1200 dpi page with its own screen, as the PPD's
// DPI1200 choice asks for both.
std::string resolution_options(const AppDriver &driver, unsigned dpi)
{
    if (!driver.caps.resolution1200)
        return {};
    return dpi == 1200 ? " DPI1200=True" : " DPI1200=False";
}

} // namespace varkon::app
