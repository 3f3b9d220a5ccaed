// SPDX-License-Identifier: GPL-2.0-or-later
// An IPP job through the raster core, and the raster callbacks PAPPL calls
// for the documents it reads itself (PWG raster, Apple raster, JPEG, PNG).
#include "print_job.h"

#include "raster_calls.h"

#include <malloc.h>

#include <cstring>

namespace varkon::app {

namespace {

struct LogPrefix {
    const char *prefix;
    pappl_loglevel_t level;
};

constexpr LogPrefix kLogPrefixes[] = {
    {"ERROR: ", PAPPL_LOGLEVEL_ERROR},
    {"WARNING: ", PAPPL_LOGLEVEL_WARN},
    {"INFO: ", PAPPL_LOGLEVEL_INFO},
    {"DEBUG: ", PAPPL_LOGLEVEL_DEBUG},
};

const char *job_format(pappl_job_t *job) { return papplJobGetFormat(job); }

const char *document_handling(pappl_job_t *job)
{
    ipp_attribute_t *attr = papplJobGetAttribute(job, "multiple-document-handling");
    return attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
}

RasterJobParams raster_params(pappl_job_t *job, const AppDriver &driver, const JobRequest &request)
{
    RasterJobParams params;
    params.modelName = driver.caps.model->modelName;
    params.supportsManualDuplex = driver.caps.manualDuplex != ManualDuplex::None;
    params.manualDuplexMessage = kManualDuplexMessage;
    params.jobId = std::to_string(papplJobGetID(job));
    const char *user = papplJobGetUsername(job), *title = papplJobGetName(job);
    params.user = user != nullptr ? user : "";
    params.title = title != nullptr ? title : "";
    params.options = request.options;
    params.copies = request.copies;
    params.collate = request.collate;
    params.keepAlive = KeepAlive::Thread;
    return params;
}

JobRequest job_request_of(pappl_job_t *job, const AppDriver &driver, const pappl_pr_options_t &options)
{
    ipp_t *defaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
    JobRequest request = job_request(driver, options, defaults, job_format(job), document_handling(job));
    ippDelete(defaults);
    return request;
}

PrintJob *print_job(pappl_job_t *job) { return static_cast<PrintJob *>(papplJobGetData(job)); }

void close_device(pappl_device_t *device)
{
    if (device != nullptr)
        papplDeviceClose(device);
}

void log_device_error(const char *message, void *job)
{
    papplLogJob(static_cast<pappl_job_t *>(job), PAPPL_LOGLEVEL_ERROR, "%s", message);
}

// PAPPL 1.3.1 closes a file: printer's device when a job ends, even while a
// second job it started at once holds the same device (printer_turn.cpp), which
// then wrote into freed memory. Such a job opens the printer's URI for itself,
// as PAPPL opens it for a job (a folder gets the file "<job name>.prn"), and
// leaves PAPPL's device unused. Other schemes keep PAPPL's device, which PAPPL
// keeps open while the printer has jobs.
pappl_device_t *own_file_device(pappl_job_t *job)
{
    const char *uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job));
    if (uri == nullptr || std::strncmp(uri, "file:", 5) != 0)
        return nullptr;
    return papplDeviceOpen(uri, papplJobGetName(job), log_device_error, job);
}

} // namespace

ReturnFreedPages::~ReturnFreedPages() { malloc_trim(0); }

PrintJob::PrintJob(pappl_job_t *job, const pappl_pr_options_t &options, pappl_device_t *device,
                   const AppDriver &driver)
    : turn_(job), job_(job), request_(job_request_of(job, driver, options)),
      ownDevice_(own_file_device(job), close_device), device_(ownDevice_ ? ownDevice_.get() : device),
      driver_(driver), sink_(device_), sides_(options.sides)
{
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Options for the raster core: \"%s\", %u copies, collate %s",
                request_.options.c_str(), request_.copies,
                request_.collate ? (*request_.collate ? "on" : "off") : "as the options say");
}

PrintJob::~PrintJob()
{
    if (!finished_)
        finish();
}

void PrintJob::log_line(const char *line)
{
    pappl_loglevel_t level = PAPPL_LOGLEVEL_DEBUG;
    const char *text = line;
    for (const LogPrefix &p : kLogPrefixes) {
        if (std::strncmp(line, p.prefix, std::strlen(p.prefix)) == 0) {
            level = p.level;
            text = line + std::strlen(p.prefix);
            break;
        }
    }
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    if (message.empty())
        return;
    // The filter's progress lines would flood the job log.
    if (message.compare(0, 14, "Printing page ") == 0)
        level = PAPPL_LOGLEVEL_DEBUG;
    if (level == PAPPL_LOGLEVEL_ERROR) {
        const std::lock_guard<std::mutex> hold(reasonLock_);
        if (reason_.empty())
            reason_ = message;
    }
    papplLogJob(job_, level, "%s", message.c_str());
}

bool PrintJob::start_page(cups_page_header2_t header)
{
    if (refused_ || check_canceled())
        return false;
    std::string why;
    if (!prepare_page_header(driver_, sides_, &header, &why) ||
        (dpi_ != 0 && header.HWResolution[0] != dpi_ && (why = "The pages of the job differ in resolution.", true))) {
        fail(why);
        refused_ = true;
        return false;
    }
    if (!raster_) {
        dpi_ = header.HWResolution[0];
        RasterJobParams params = raster_params(job_, driver_, request_);
        params.options += resolution_options(driver_, dpi_);
        params.log = [this](const char *line) { log_line(line); };
        raster_ = std::make_unique<RasterJob>(params, &sink_);
    }
    return raster_->start_page(header);
}

bool PrintJob::write_line(const unsigned char *line)
{
    if (!raster_ || check_canceled())
        return false;
    raster_->write_line(line);
    return !raster_->context().printerStreamFailed;
}

bool PrintJob::end_page()
{
    if (!raster_)
        return false;
    check_canceled();
    return raster_->end_page();
}

void PrintJob::fail(const std::string &reason)
{
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", reason.c_str());
    {
        const std::lock_guard<std::mutex> hold(reasonLock_);
        if (reason_.empty())
            reason_ = reason;
    }
    if (raster_)
        raster_->fail();
}

bool PrintJob::finish()
{
    if (finished_)
        return false;
    finished_ = true;
    bool printed = false;
    if (raster_) {
        printed = raster_->finish() == 0 && !refused_;
        papplDeviceFlush(device_);
    }
    if (!printed && !papplJobIsCanceled(job_)) {
        const std::lock_guard<std::mutex> hold(reasonLock_);
        papplJobSetMessage(job_, "%s", reason_.empty() ? "No page was printed." : reason_.c_str());
    }
    return printed || papplJobIsCanceled(job_);
}

bool PrintJob::check_canceled()
{
    if (!papplJobIsCanceled(job_))
        return false;
    if (raster_ && !raster_->canceled()) {
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "Cancelled: the job ends after the page under way.");
        raster_->cancel();
    }
    return true;
}

const AppDriver *job_driver(pappl_job_t *job)
{
    pappl_printer_t *printer = papplJobGetPrinter(job);
    return printer != nullptr ? find_driver(papplPrinterGetDriverName(printer)) : nullptr;
}

bool raster_start_job(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device)
{
    const AppDriver *driver = job_driver(job);
    if (driver == nullptr) {
        papplJobSetMessage(job, "The printer's driver is not one of this application's.");
        return false;
    }
    take_raster_problem();  // left over from an earlier stream on this thread
    papplJobSetData(job, new PrintJob(job, *options, device, *driver));
    return true;
}

// The page callbacks go on answering true when the job has ended early
// (a page refused, the device gone, cancelled): PAPPL would otherwise put its
// own "Job aborted." over our reason. The job's end reports the outcome.
bool raster_start_page(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned)
{
    if (PrintJob *printing = print_job(job))
        printing->start_page(options->header);
    return true;
}

bool raster_write_line(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned, const unsigned char *line)
{
    if (PrintJob *printing = print_job(job))
        printing->write_line(line);
    return true;
}

bool raster_end_page(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned)
{
    if (PrintJob *printing = print_job(job))
        printing->end_page();
    return true;
}

bool raster_end_job(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *)
{
    std::unique_ptr<PrintJob> printing(print_job(job));
    papplJobSetData(job, nullptr);
    // A document cut inside a page header, or one with a page refused before
    // PAPPL saw it, fails the job with the reason.
    const std::string problem = take_raster_problem();
    if (printing != nullptr && !problem.empty() && !printing->check_canceled())
        printing->fail(problem);
    return printing != nullptr && printing->finish();
}

} // namespace varkon::app
