// SPDX-License-Identifier: GPL-2.0-or-later
// The raster job: its interface, its start on the first page (platform, options,
// spool files, keep-alive, job start), and its end with the blank back side, the
// replays, the job end and the exit status. The pages in between: page_flow.cpp.
#include "raster_job_state.h"

#include "cupsdll.h"
#include "job_commands.h"
#include "manual_duplex_end.h"
#include "page_transforms.h"
#include "signal_handler.h"
#include "spool.h"

#include <signal.h>
#include <strings.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace varkon {

namespace {

void set_keep_alive_timer(int seconds)
{
    itimerval timer{};
    timer.it_value.tv_sec = seconds;
    timer.it_interval.tv_sec = seconds;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

void arm_keep_alive(RasterJobState &job)
{
    if (job.platform != PLATFORM_C && job.platform != PLATFORM_Z)
        return;
    if (job.params.keepAlive == KeepAlive::Signal) {
        install_signal_handler(SIGALRM, SendDummyCommand, SA_RESTART);
        set_keep_alive_timer(kKeepAliveSeconds);
    } else if (job.params.keepAlive == KeepAlive::Thread) {
        job.keepAlive = std::make_unique<KeepAliveThread>(job.context, job.params.keepAlivePeriod);
    }
}

void stop_keep_alive(RasterJobState &job)
{
    if (job.params.keepAlive == KeepAlive::Signal)
        set_keep_alive_timer(0);
    job.keepAlive.reset();
}

void choose_platform(RasterJobState &job)
{
    job.paperSizeArray = GetPaperSizeArray(job.context.gPPDFile, &job.platform);
    if (job.platform == PLATFORM_NONE && !job.params.platformText.empty())
        job.paperSizeArray = platform_paper_table(job.params.platformText.c_str(), &job.platform);
}

void parse_job_options(RasterJobState &job)
{
    const char *argv5 = job.params.options.c_str();
    if (job.platform == PLATFORM_Z) {
        // The completions are parsed after the job's own text rather than behind a
        // copy of it: a text longer than the buffer would lose its last options,
        // or have one cut into another. They only name options the text does not.
        job.parameters[0] = '\0';
        if (job.params.completeOptions)
            job.params.completeOptions(argv5, job.parameters);
        job.options.parse(argv5);
        job.options.add(job.parameters);
    } else {
        job.options.parse(argv5);
    }
    GetFunctionValue(job.prntFuncInfo, job.options.num_option, job.options.options, &job.header);
    if (job.params.collate)
        job.prntFuncInfo[COLLATE].value = *job.params.collate ? 1 : 0;
    job_logf("DEBUG: ##platform = %d, ##autoduplex = %d\n", job.platform, feature(job, AUTODUPLEX));
}

// Platform Z models without a duplexer print a duplex request as manual duplex.
void apply_duplex_fallback(RasterJobState &job)
{
    PRINT_FUNC_INFO *f = job.prntFuncInfo;
    if (f[AUTODUPLEX].value == 0 || job.platform != PLATFORM_Z || job.iSupportManDuplex != 1)
        return;
    if (f[AUTODUPLEX].value == 2)
        job.mDuplexType = 1;
    f[MANUALDUPLEX].value = 1;
    f[AUTODUPLEX].value = 0;
    job_logf("DEBUG: ##ManualDuplex = %d, type is %d\n", 1, job.mDuplexType);
}

void replay_spools(RasterJobState &job)
{
    JobContext &context = job.context;
    const bool manual = feature(job, MANUALDUPLEX) == 1;
    if (spool_write_failed()) {
        job_log("ERROR: A spool file could not be written; copies and back sides are not sent.\n");
        job.failed = true;
        // The last page may have gone to the spool only; the job end is the printer's.
        context.gSendDataToDevice = 1;
        return;
    }
    if (feature(job, COLLATE) == 1 && job.iCopies > 1 && !manual && context.gCollateFile != 0)
        replay_collation(job.iCopies);
    if (manual) {
        ManualDuplexEnd end;
        end.collate = feature(job, COLLATE) == 1;
        end.copies = job.iCopies;
        end.reverse = feature(job, REVERSE) == 1;
        end.message = job.DuplexMsg;
        end.header = job.header;
        end.startPageParam = &job.startPageParam;
        end.platform = job.platform;
        finish_manual_duplex(end);
    }
}

void end_job(RasterJobState &job)
{
    JobContext &context = job.context;
    if (feature(job, AUTODUPLEX) != 0 && context.g_page % 2 == 1)
        InsertBlankPage(job.header, &job.startPageParam, job.platform);
    context.g_ismiddlepage = 1;
    if (context.Canceled == 0 && !printer_stream_failed())
        replay_spools(job);
    context.g_ismiddlepage = 1;
    fill_end_doc_param(&job.endDocParam, job.prntFuncInfo, context.g_page);
    if (Prnt_EndDoc(&job.endDocParam, job.platform) == 0)
        report("main() :: End doc Fail ! \n");
}

// The manual-duplex wait, cut short by a cancellation.
void wait_for_manual_duplex(const JobContext &context, int seconds)
{
    timespec remaining{seconds, 0};
    while (context.Canceled == 0 && nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

int clean_up(RasterJobState &job)
{
    JobContext &context = job.context;
    stop_keep_alive(job);
    close_spool_files();
    if (feature(job, MANUALDUPLEX) == 1)
        wait_for_manual_duplex(context, job.params.manualDuplexWaitSeconds);
    context.g_ismiddlepage = 0;
    if (printer_stream_failed()) {
        job_logf("ERROR: The printer data could not be sent: %s\n", std::strerror(printer_stream_errno()));
        return 1;
    }
    if (job.failed)
        return 1;
    if (context.g_page > 0) {
        job_log("INFO: Ready to print.\n");
        return 0;
    }
    job_log("ERROR: No pages found!\n");
    return 1;
}

// Where the job goes once it takes no further page.
Next end_of_pages(const RasterJobState &job) { return job.context.g_page > 0 ? Next::EndJob : Next::CleanUp; }

} // namespace

ParsedOptions::~ParsedOptions() { cupsFreeOptions(num_option, options); }

void ParsedOptions::parse(const char *text)
{
    cupsFreeOptions(num_option, options);
    options = nullptr;
    num_option = pfcupsParseOptions(text, 0, &options);
}

void ParsedOptions::add(const char *text) { num_option = pfcupsParseOptions(text, num_option, &options); }

int feature(const RasterJobState &job, FuncName name) { return job.prntFuncInfo[name].value; }

void report(const char *text)
{
    prepend_last_error(text);
    const char *last = job_context().prntLastError;
    job_log(last);
    // The text is cut at its buffer's end after many failures; the next log
    // line must still start a line of its own, or CUPS would not read it.
    const size_t length = std::strlen(last);
    if (length > 0 && last[length - 1] != '\n')
        job_log("\n");
}

// Platform, printer settings and options of the page just read.
void evaluate_page(RasterJobState &job)
{
    choose_platform(job);
    if (job.params.supportsManualDuplex)
        job.iSupportManDuplex = 1;
    job_logf("-------SupportManualDuplex is %d\n", job.iSupportManDuplex);
    parse_job_options(job);
    apply_duplex_fallback(job);
    // Manual duplex is a way of running the whole job: its spool files are made
    // with the first page, and its odd and even passes need every page. A later
    // page's header may not turn it on (its even pages would go nowhere) or off
    // (the back sides already spooled would never be sent).
    if (job.context.g_page == 1)
        job.manualDuplex = feature(job, MANUALDUPLEX);
    else
        job.prntFuncInfo[MANUALDUPLEX].value = job.manualDuplex;
    if (feature(job, MANUALDUPLEX) == 1)
        std::snprintf(job.DuplexMsg, sizeof job.DuplexMsg, "%s", job.params.manualDuplexMessage.c_str());
    if (feature(job, DPI1200) == 1 && job.platform == PLATFORM_M)
        job.b2Bit = 1;
}

// Job start on the first page. False when a spool file could not be made.
bool start_job(RasterJobState &job)
{
    JobContext &context = job.context;
    job.iCopies = job.header.NumCopies;
    // The spool files come first: a job that could not keep its copies or back
    // sides sends nothing rather than a job start that no job end follows.
    const bool collate = feature(job, COLLATE) == 1 && job.header.NumCopies > 1;
    const bool manual = feature(job, MANUALDUPLEX) == 1;
    JobSpoolFiles spools;
    if (create_job_spool_files(collate, manual, job.collateTmpFile, job.manualOddTmpFile, job.manualEvenTmpFile,
                               &spools) == 0) {
        job.failed = true;
        return false;
    }
    arm_keep_alive(job);
    fill_start_doc_param(&job.startDocParam, job.params.jobId.c_str(), job.params.title.c_str(), job.prntFuncInfo,
                         job.platform, job.iSupportManDuplex);
    context.g_ismiddlepage = 1;
    if (Prnt_StartDoc(&job.startDocParam, job.platform) == 0)
        report("main() :: Start doc Fail ! \n");
    context.g_ismiddlepage = 0;
    // The job start is not replayed with the copies.
    use_job_spool_files(spools);
    return true;
}

RasterJobState::RasterJobState(const RasterJobParams &p, PrinterSink *printer)
    : params(p), pool(p.encoderThreads != 0 ? p.encoderThreads : encoder_thread_count())
{
    std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), prntFuncInfo);
    std::snprintf(context.gPPDFile, sizeof context.gPPDFile, "%s", params.modelName.c_str());
    // Host names are cut to the 32 bytes the job start has room for.
    std::snprintf(context.hostName, sizeof context.hostName, "%s", params.hostName.c_str());
    context.printer = printer;
    context.log = params.log;
}

RasterJob::RasterJob(const RasterJobParams &params, PrinterSink *printer)
    : impl_(std::make_unique<RasterJobState>(params, printer))
{
}

RasterJob::~RasterJob()
{
    if (!impl_->finished)
        finish();
}

bool RasterJob::start_page(const cups_page_header2_t &header)
{
    RasterJobState &job = *impl_;
    const JobBinding bound(job.context);
    if (job.next != Next::Page || job.finished)
        return false;
    if (job.page.open && !end_page())
        return false;
    cups_page_header2_t accepted = header;
    if (job.params.copies != 0)
        accepted.NumCopies = job.params.copies;
    normalise_copies(&accepted);
    job.header = accepted;
    log_page_header2(&job.header);
    if (job.context.Canceled != 0) {
        job.next = end_of_pages(job);
        return false;
    }
    if (const char *problem = raster_header_problem(job.header, job.params.limits)) {
        job_log(problem);
        job.failed = true;
        job.next = end_of_pages(job);
        return false;
    }
    job.next = begin_page(job);
    return job.next == Next::Page;
}

bool RasterJob::wants_line() const
{
    const RasterJobState &job = *impl_;
    return job.page.open && job.page.rowsRead < job.header.cupsHeight && job.context.Canceled == 0;
}

unsigned char *RasterJob::line_buffer()
{
    return impl_->page.open ? impl_->buffers.pGrayImgLineBuf.data() : nullptr;
}

bool RasterJob::write_line(const unsigned char *line)
{
    RasterJobState &job = *impl_;
    const JobBinding bound(job.context);
    OpenPage &page = job.page;
    if (!page.open || page.rowsRead >= job.header.cupsHeight)
        return false;
    const uint32_t y = page.rowsRead;
    if (y % 128 == 0)
        job_logf("INFO: Printing page %d, %d%% complete...\n", job.context.g_page,
                 static_cast<int>(uint64_t(y) * 100 / job.header.cupsHeight));
    unsigned char *buffer = job.buffers.pGrayImgLineBuf.data();
    if (line == nullptr) // the line of a job cancelled during the read is white, all of it
        std::memset(buffer, 255, std::max(page.shape.bytesPerLine, page.shape.W));
    else if (line != buffer)
        std::memcpy(buffer, line, page.shape.bytesPerLine);
    ++page.rowsRead;
    take_line(job);
    return wants_line();
}

bool RasterJob::end_page()
{
    RasterJobState &job = *impl_;
    const JobBinding bound(job.context);
    OpenPage &page = job.page;
    if (!page.open)
        return job.next == Next::Page && !job.finished;
    const uint32_t rows = page.rowsRead, height = job.header.cupsHeight;
    if (rows < height && job.context.Canceled == 0) {
        // The page still goes out whole, white below; the job must not pass as printed.
        if (rows % 128 == 0)
            job_logf("INFO: Printing page %d, %d%% complete...\n", job.context.g_page,
                     static_cast<int>(uint64_t(rows) * 100 / height));
        job_logf("ERROR: The raster data of page %d end after %u of its %u lines; the rest of the page "
                 "is left blank.\n",
                 job.context.g_page, rows, height);
        job.failed = true;
    }
    job.next = complete_page(job);
    if (job.next != Next::Page)
        return false;
    // A backend that stopped reading cannot take more pages.
    if (printer_stream_failed()) {
        job.next = end_of_pages(job);
        return false;
    }
    return true;
}

void RasterJob::fail() { impl_->failed = true; }

int RasterJob::finish()
{
    RasterJobState &job = *impl_;
    const JobBinding bound(job.context);
    if (job.finished)
        return 1;
    if (job.page.open)
        end_page();
    job.finished = true;
    if (job.next == Next::Page)
        job.next = end_of_pages(job);
    // A page still being compressed goes out before anything that ends the job.
    send_parked_page(job);
    if (job.next == Next::EndJob)
        end_job(job);
    return clean_up(job);
}

void RasterJob::cancel() { impl_->context.Canceled = 1; }

bool RasterJob::canceled() const { return impl_->context.Canceled != 0; }

int RasterJob::page() const { return impl_->context.g_page; }

JobContext &RasterJob::context() { return impl_->context; }

} // namespace varkon
