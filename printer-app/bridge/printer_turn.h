// SPDX-License-Identifier: GPL-2.0-or-later
// One job at a time through the raster core for each printer. PAPPL 1.3.1 can
// start two jobs of one printer at once, and both then write to the one device
// PAPPL opened for the printer (printer_turn.cpp says when): the later job
// waits here until the earlier one has sent its last byte.
#pragma once

#include <pappl/pappl.h>

namespace varkon::app {

class PrinterTurn {
public:
    // Waits until no other job of the job's printer holds the turn.
    explicit PrinterTurn(pappl_job_t *job);
    // Gives the turn to the next job.
    ~PrinterTurn();
    PrinterTurn(const PrinterTurn &) = delete;
    PrinterTurn &operator=(const PrinterTurn &) = delete;

private:
    pappl_printer_t *printer_;
    int jobId_;
};

} // namespace varkon::app
