// SPDX-License-Identifier: GPL-2.0-or-later
// Pages of a raster document read by our own reader and pushed into the job.
#include "raster_document.h"

#include "print_job.h"

#include <vector>

namespace varkon::app {

std::string feed_raster_pages(PrintJob &printing, RasterReader &reader)
{
    cups_page_header2_t header;
    std::vector<unsigned char> line;
    for (;;) {
        const RasterReader::Next next = reader.next_page(&header);
        if (next == RasterReader::Next::End)
            return {};
        if (next == RasterReader::Next::Error)
            return reader.error();
        // The page's size is the job's to accept before a line is read.
        if (!printing.start_page(header))
            return {};
        line.resize(header.cupsBytesPerLine);
        for (unsigned y = 0; y < header.cupsHeight; ++y) {
            if (!reader.read_line(line.data()))
                return reader.error();
            if (!printing.write_line(line.data()))
                return {};  // the job has ended
        }
        if (!printing.end_page())
            return {};
        papplJobSetImpressionsCompleted(printing.job(), 1);
    }
}

} // namespace varkon::app
