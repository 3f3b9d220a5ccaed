// SPDX-License-Identifier: GPL-2.0-or-later
// A raster document into an IPP job: the one Ghostscript renders from a PDF
// document.
#pragma once

#include "raster_reader.h"

#include <string>

namespace varkon::app {

class PrintJob;

// Every page of `reader` into the job, until the document ends or the job
// takes no more pages. The document's fault, or "" when it had none.
std::string feed_raster_pages(PrintJob &printing, RasterReader &reader);

} // namespace varkon::app
