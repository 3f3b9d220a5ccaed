// SPDX-License-Identifier: GPL-2.0-or-later
// PDF documents: Ghostscript renders them as 8-bit gray PWG raster at the
// printer's resolution and media size, and its pages go into the job like
// those PAPPL reads itself.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace varkon::app {

struct AppDriver;

// Ghostscript's command line for one document: no shell ever sees it.
std::vector<std::string> ghostscript_arguments(const std::string &pdfPath, unsigned dpi, unsigned widthPt,
                                               unsigned heightPt);

// The MIME filter PAPPL calls for application/pdf.
bool print_pdf(pappl_job_t *job, pappl_device_t *device, void *data);

} // namespace varkon::app
