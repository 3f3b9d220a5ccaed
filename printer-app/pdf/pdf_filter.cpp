// SPDX-License-Identifier: GPL-2.0-or-later
// Ghostscript as the PDF filter: started per job, its log relayed to the
// job's log, stopped when the job is cancelled, its raster read into the job.
#include "pdf_filter.h"

#include "child_process.h"
#include "print_job.h"
#include "raster_document.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

namespace varkon::app {

namespace {

struct OptionsDeleter {
    void operator()(pappl_pr_options_t *options) const { papplJobDeletePrintOptions(options); }
};

constexpr size_t kLongestLogLine = 4096;

// Ghostscript's messages, line by line, into the job's log.
void relay_log(pappl_job_t *job, int fd)
{
    std::string pending;
    char buffer[1024];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        pending.append(buffer, got > 0 ? static_cast<size_t>(got) : 0);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            if (end > 0)
                papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Ghostscript: %s", pending.substr(0, end).c_str());
            pending.erase(0, end + 1);
        }
        // A document can make Ghostscript print without end: long lines go out in pieces.
        if (pending.size() > kLongestLogLine) {
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Ghostscript: %s", pending.c_str());
            pending.clear();
        }
    }
    if (!pending.empty())
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Ghostscript: %s", pending.c_str());
}

// Stops Ghostscript as soon as the job is cancelled, even while it renders.
class CancelWatch {
public:
    CancelWatch(pappl_job_t *job, ChildProcess &child) : thread_([this, job, &child] { run(job, child); }) {}
    ~CancelWatch()
    {
        done_ = true;
        thread_.join();
    }
    CancelWatch(const CancelWatch &) = delete;
    CancelWatch &operator=(const CancelWatch &) = delete;

private:
    void run(pappl_job_t *job, ChildProcess &child)
    {
        while (!done_) {
            if (papplJobIsCanceled(job)) {
                child.terminate();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// The page size the job's media has in the driver's paper table, in points.
void media_points(const AppDriver &driver, const pappl_media_col_t &media, unsigned *width, unsigned *height)
{
    if (const MediaSize *size = find_media(driver, media.size_name)) {
        *width = static_cast<unsigned>(size->row->cupsPaperW);
        *height = static_cast<unsigned>(size->row->cupsPaperH);
        return;
    }
    *width = static_cast<unsigned>(std::lround(media.size_width * 72.0 / 2540.0));
    *height = static_cast<unsigned>(std::lround(media.size_length * 72.0 / 2540.0));
}

} // namespace

std::vector<std::string> ghostscript_arguments(const std::string &pdfPath, unsigned dpi, unsigned widthPt,
                                               unsigned heightPt)
{
    const std::string r = std::to_string(dpi);
    return {"gs",
            "-q",
            "-dNOPAUSE",
            "-dBATCH",
            "-dSAFER",
            "-sDEVICE=pwgraster",
            "-dcupsColorSpace=18",
            "-dcupsBitsPerColor=8",
            "-r" + r + "x" + r,
            "-dDEVICEWIDTHPOINTS=" + std::to_string(widthPt),
            "-dDEVICEHEIGHTPOINTS=" + std::to_string(heightPt),
            "-dFIXEDMEDIA",
            "-dPDFFitPage",
            // PostScript's own output must not land in the raster.
            "-sstdout=%stderr",
            "-sOutputFile=-",
            "-f",
            pdfPath};
}

bool print_pdf(pappl_job_t *job, pappl_device_t *device, void *)
{
    const AppDriver *driver = job_driver(job);
    const char *path = papplJobGetFilename(job);
    if (driver == nullptr || path == nullptr) {
        papplJobSetMessage(job, "The job has no document or its printer no Varkon driver.");
        return false;
    }
    const std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(papplJobCreatePrintOptions(job, 0, false));
    if (!options) {
        papplJobSetMessage(job, "The job's print options could not be read.");
        return false;
    }
    const unsigned dpi = static_cast<unsigned>(options->printer_resolution[0]);
    unsigned width = 0, height = 0;
    media_points(*driver, options->media, &width, &height);
    PrintJob printing(job, *options, device, *driver);
    ChildProcess gs;
    std::string error;
    if (!gs.start(ghostscript_arguments(path, dpi, width, height), &error)) {
        printing.fail("Ghostscript could not be started: " + error);
        return printing.finish();
    }
    std::thread relay(relay_log, job, gs.error_fd());
    int status = 0;
    std::string problem;
    {
        const CancelWatch watch(job, gs);
        RasterReader raster(gs.output_fd());
        problem = feed_raster_pages(printing, raster);
        // Whatever is left unread ends Ghostscript with a broken pipe.
        gs.close_output();
        if (printing.check_canceled())
            gs.terminate();
        status = gs.wait();
    }
    relay.join();
    if (status != 0 && !printing.check_canceled())
        printing.fail("Ghostscript could not render the PDF document (" + exit_description(status) + ").");
    else if (!problem.empty() && !printing.check_canceled())
        printing.fail("Ghostscript's raster of the PDF document is broken: " + problem);
    return printing.finish();
}

} // namespace varkon::app
