// SPDX-License-Identifier: GPL-2.0-or-later
// One IPP job printing through the raster core: pages and lines from PAPPL's
// raster callbacks or from Ghostscript go into a RasterJob whose printer bytes
// go to the job's device, its log lines to the job's log, and its failure to
// the job's message.
#pragma once

#include "device_sink.h"
#include "driver_list.h"
#include "page_request.h"
#include "printer_turn.h"
#include "raster_job.h"

#include <pappl/pappl.h>

#include <memory>
#include <mutex>
#include <string>

namespace varkon::app {

// Hands the free pages of the malloc heap back to the system once a job is
// done: glibc keeps the pages its page buffers freed, tens of MB beyond what
// the jobs still under way use.
struct ReturnFreedPages {
    ~ReturnFreedPages();
};

class PrintJob {
public:
    PrintJob(pappl_job_t *job, const pappl_pr_options_t &options, pappl_device_t *device, const AppDriver &driver);
    ~PrintJob();
    PrintJob(const PrintJob &) = delete;
    PrintJob &operator=(const PrintJob &) = delete;

    // False when the page is refused or the job takes no more pages.
    bool start_page(cups_page_header2_t header);
    // False once the job has ended (cancelled, the device went away).
    bool write_line(const unsigned char *line);
    bool end_page();
    // The caller's input failed: the job ends as it is and does not pass.
    void fail(const std::string &reason);
    // Ends the job at the device. True when every page was printed.
    bool finish();
    // Follows an IPP cancellation: the job ends after the page under way.
    bool check_canceled();

    pappl_job_t *job() const { return job_; }

private:
    void log_line(const char *line);

    ReturnFreedPages trim_;   // destroyed last, once the job's buffers are freed
    PrinterTurn turn_;        // the job waits for it before anything else
    pappl_job_t *job_;
    JobRequest request_;
    // A file: printer's job writes to a device of its own (print_job.cpp says why).
    std::unique_ptr<pappl_device_t, void (*)(pappl_device_t *)> ownDevice_;
    pappl_device_t *device_;
    const AppDriver &driver_;
    DeviceSink sink_;
    pappl_sides_t sides_;
    std::unique_ptr<RasterJob> raster_;
    unsigned dpi_ = 0;        // of the first page
    bool refused_ = false;    // a page was refused before the core saw it
    bool finished_ = false;
    std::mutex reasonLock_;   // log lines come from the core's threads too
    std::string reason_;      // the first failure, for the job message
};

// The raster callbacks of every driver.
bool raster_start_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool raster_start_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool raster_write_line(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned y,
                       const unsigned char *line);
bool raster_end_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool raster_end_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// The driver of the job's printer, or nullptr.
const AppDriver *job_driver(pappl_job_t *job);

} // namespace varkon::app
