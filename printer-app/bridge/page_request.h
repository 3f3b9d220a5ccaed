// SPDX-License-Identifier: GPL-2.0-or-later
// What the IPP job asks of each page and of the job as a whole, put into the
// terms of the raster core: the page header with the job's duplex and the
// printer's page size, refused at a resolution the printer does not print;
// the CUPS options text; copies and collation.
#pragma once

#include "driver_list.h"

#include <pappl/pappl.h>

#include <optional>
#include <string>

namespace varkon::app {

// Whether the printer prints at x by y dpi.
bool resolution_supported(const AppDriver &driver, unsigned x, unsigned y);

// Readies a page header from PAPPL or Ghostscript for the core. False, with
// the reason, when the page cannot be printed.
bool prepare_page_header(const AppDriver &driver, pappl_sides_t sides, cups_page_header2_t *header,
                                std::string *reason);

struct JobRequest {
    std::string options; // "Density=2 ... InputSlot=Auto"
    unsigned copies = 1;
    std::optional<bool> collate;
};

// The job's request: the vendor values (the printer's defaults where the job
// has none), the media source, copies (a document PAPPL repeats itself gets 1)
// and the multiple-document-handling.
JobRequest job_request(const AppDriver &driver, const pappl_pr_options_t &options, ipp_t *printerDefaults,
                       const char *format, const char *documentHandling);

// What the resolution of the job's first page adds to its options text.
std::string resolution_options(const AppDriver &driver, unsigned dpi);

} // namespace varkon::app
