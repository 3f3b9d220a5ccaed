// SPDX-License-Identifier: GPL-2.0-or-later
// The filter's job loop: the command line and the queue's PPD become the job's
// parameters, the raster stream is read page by page and line by line into the
// job, and the process's part of the job stays here: its signals, the CUPS
// libraries it binds, the input file.
#include "job_loop.h"

#include "cupsdll.h"
#include "job_options.h"
#include "output_sink.h"
#include "raster_input.h"
#include "raster_job.h"
#include "signal_handler.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

void CancelJob(int)
{
    if (varkon::JobContext *job = varkon::signal_job())
        job->Canceled = 1;
}

namespace varkon {

namespace {

struct PpdCloser {
    void operator()(ppd_file_t *ppd) const { pfppdClose(ppd); }
};
struct RasterCloser {
    void operator()(cups_raster_t *ras) const { pfcupsRasterClose(ras); }
};
using PpdHandle = std::unique_ptr<ppd_file_t, PpdCloser>;
using RasterHandle = std::unique_ptr<cups_raster_t, RasterCloser>;

// The job's parameters: the command line, and what the queue's PPD says of the printer.
RasterJobParams job_params(char *argv[], ppd_file_t *ppd, const JobRun &run)
{
    RasterJobParams params;
    params.jobId = argv[1];
    params.user = argv[2];
    params.title = argv[3];
    params.options = argv[5];
    if (ppd != nullptr && ppd->modelname != nullptr)
        params.modelName = ppd->modelname;
    char text[1024];
    if (read_ppd_text(ppd, "PlatForm", text))
        params.platformText = text;
    params.supportsManualDuplex = read_ppd_text(ppd, "SupportManualDuplex", text) && strcasecmp(text, "TRUE") == 0;
    if (read_ppd_text(ppd, "MDuplex", text))
        params.manualDuplexMessage = text;
    params.completeOptions = [ppd](const char *options, char *parameters) {
        checkOptionKey(parameters, options, ppd);
    };
    params.encoderThreads = run.encoderThreads;
    params.manualDuplexWaitSeconds = run.manualDuplexWaitSeconds;
    params.keepAlive = run.ownSignals ? KeepAlive::Signal : KeepAlive::None;
    params.limits = run.limits;
    return params;
}

// A header read that gave no page: the end of the job, or a failure of it.
void header_read_failed(RasterJob &job, const RasterInput &input)
{
    job_log("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n");
    if (const cups_page_header2_t *refused = input.refused_header()) {
        // Held back from libcups; refused in the words of any page beyond the caps.
        log_page_header2(refused);
        const char *problem = raster_header_problem(*refused, input.limits());
        job_log(problem != nullptr ? problem : "ERROR: The raster page is too large to be printed.\n");
        job.fail();
    } else if (job.page() > 0 && !input.ended_between_pages()) {
        job_log("ERROR: The raster data end inside a page header or with data that are no page; "
                "a page may be missing.\n");
        job.fail();
    }
}

// The rows of one page, straight into the job's line buffer.
void read_rows(RasterJob &job, cups_raster_t *ras, unsigned bytesPerLine)
{
    unsigned char *line = job.line_buffer();
    while (job.wants_line()) {
        if (pfcupsRasterReadPixels(ras, line, bytesPerLine) == 0) {
            // A read cut by the cancellation gives a white line; any other cut
            // ends the page, which the job completes white and reports.
            if (job.canceled())
                job.write_line(nullptr);
            return;
        }
        job.write_line(line);
    }
}

void page_loop(RasterJob &job, RasterInput &input, cups_raster_t *ras)
{
    for (;;) {
        cups_page_header2_t header;
        input.header_read_starts();
        if (pfcupsRasterReadHeader2(ras, &header) == 0) {
            header_read_failed(job, input);
            return;
        }
        job_log("DEBUG: cupsRasterReadHeader2 return OK.\n");
        if (!job.start_page(header))
            return;
        read_rows(job, ras, header.cupsBytesPerLine);
        if (!job.end_page())
            return;
    }
}

// The job from its raster: opened through the filter's own reader, read to its end.
int print_raster(RasterJob &job, int fd, const JobRun &run)
{
    const std::atomic<int> &canceled = job.context().Canceled;
    const auto input = run.rasterInMemory
                           ? std::make_unique<RasterInput>(run.raster, run.rasterSize, canceled, run.limits)
                           : std::make_unique<RasterInput>(fd, canceled, run.limits);
    const RasterHandle ras(input->open());
    page_loop(job, *input, ras.get());
    return job.finish();
}

} // namespace

int run_job(int argc, char *argv[], const JobRun &run)
{
    InitCUPSIMAGEDLL();
    InitCUPSDLL();
    std::setbuf(stderr, nullptr);
    if (argc != 6 && argc != 7) {
        std::fputs("ERROR: job-id user title copies options [file]\n", stderr);
        release_cups_libraries();
        return 1;
    }
    int fd = 0;
    if (argc == 7 && !run.rasterInMemory) {
        fd = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            perror("ERROR: Unable to open raster file - ");
            sleep(1);
            release_cups_libraries();
            return 1;
        }
    }
    const char *ppdPath = std::getenv("PPD");
    PpdHandle ppd(ppdPath != nullptr ? pfppdOpenFile(ppdPath) : nullptr);
    int status = 1;
    {
        RasterJob job(job_params(argv, ppd.get(), run), run.printer);
        const JobBinding bound(job.context());
        // Before the raster is opened: opening reads its first bytes, and a job
        // cancelled while they are awaited must end through the job loop.
        if (run.ownSignals) {
            set_signal_job(&job.context());
            install_signal_handler(SIGTERM, CancelJob, SA_RESTART);
            // A backend that has gone away must show up as a failed write, not kill us silently.
            install_signal_handler(SIGPIPE, SIG_IGN, SA_RESTART);
        }
        status = print_raster(job, fd, run);
        if (run.ownSignals)
            set_signal_job(nullptr);
    }
    ppd.reset();
    if (fd > 0)
        close(fd);
    release_cups_libraries();
    return status;
}

} // namespace varkon
