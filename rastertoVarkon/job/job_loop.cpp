// SPDX-License-Identifier: GPL-2.0-or-later
// The job loop: start-up, the pages (raster rows halftoned as they are read,
// or through a whole gray page where a quarter turn needs one, and compressed
// alongside; with helper threads the next page is read while the one before is
// still being compressed), the end of the job with its replays, and the clean-up
// that every path goes through.
#include "job_loop.h"

#include "cupsdll.h"
#include "dither.h"
#include "job_options.h"
#include "job_state.h"
#include "manual_duplex_end.h"
#include "output_sink.h"
#include "image_transfer.h"
#include "page_encoder.h"
#include "page_geometry.h"
#include "page_pipeline.h"
#include "page_transforms.h"
#include "paper_tables.h"
#include "platform.h"
#include "prnt.h"
#include "raster_input.h"
#include "spool.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

void CancelJob(int) { Canceled = 1; }

namespace varkon {

namespace {

constexpr int kKeepAliveSeconds = 10;

struct PpdCloser {
    void operator()(ppd_file_t *ppd) const { pfppdClose(ppd); }
};
struct RasterCloser {
    void operator()(cups_raster_t *ras) const { pfcupsRasterClose(ras); }
};

// The job options parsed for the current page, freed when replaced.
struct ParsedOptions {
    int num_option = 0;
    cups_option_t *options = nullptr;
    ~ParsedOptions() { cupsFreeOptions(num_option, options); }
    void parse(const char *text)
    {
        cupsFreeOptions(num_option, options);
        options = nullptr;
        num_option = pfcupsParseOptions(text, 0, &options);
    }
    // Adds the options of `text` to those already parsed.
    void add(const char *text) { num_option = pfcupsParseOptions(text, num_option, &options); }
};

enum class Next { Page, EndJob, CleanUp };

// One page's halftoned image and its encoder. With helper threads there are two,
// so that a page can be read while the one before it is still being compressed.
struct PageSlot {
    explicit PageSlot(EncoderPool &pool) : encoder(pool) {}
    PageMemory pMonoImgBuf;
    PageEncoder encoder;
};

// A started page whose image is being compressed. Its data and end follow once it
// is, sent with the page number and sink state it was read with.
struct ParkedPage {
    bool waiting = false;
    int slot = 0;
    int page = 0;
    int sendToDevice = 1;
    GDI_SEND_PAGE_PARAM sendPageParam;
    GDI_END_PAGE_PARAM endPageParam;
};

// The start of the page being read. On one thread it is sent before the rows, as
// always; with helpers it waits until the page before has been sent.
struct PageStart {
    GDI_START_PAGE_PARAM param;
    bool sent = false;
    bool dropped = false; // the printer stream broke on the page before: never started
};

struct Job {
    Job(int count, char **args, const JobRun &how)
        : argc(count), argv(args), run(how), pool(how.encoderThreads != 0 ? how.encoderThreads : encoder_thread_count())
    {
    }
    int argc = 0;
    char **argv = nullptr;
    const JobRun &run;
    int fd = 0;
    std::unique_ptr<RasterInput> input;
    std::unique_ptr<cups_raster_t, RasterCloser> ras;
    std::unique_ptr<ppd_file_t, PpdCloser> ppd;
    cups_page_header2_t header{};
    ParsedOptions options;
    PRINT_FUNC_INFO prntFuncInfo[FUNC_COUNT];
    int platform = PLATFORM_NONE;
    const PAPER_SIZE_INFO *paperSizeArray = nullptr;
    unsigned iCopies = 1;
    int b2Bit = 0;
    int mDuplexType = 0;
    int iSupportManDuplex = 0;
    int manualDuplex = 0; // as the first page decided it, for the whole job
    char DuplexMsg[1024] = {};
    char PlatformMsg[1024] = {};
    char SupportManualDuplex[1024] = {};
    char parameters[8192] = {};
    char collateTmpFile[255] = {};
    char manualOddTmpFile[255] = {};
    char manualEvenTmpFile[255] = {};
    GDI_START_DOC_PARAM startDocParam;
    GDI_START_PAGE_PARAM startPageParam;
    GDI_SEND_PAGE_PARAM sendPageParam;
    GDI_END_PAGE_PARAM endPageParam;
    GDI_END_DOC_PARAM endDocParam;
    PageGeometry geometry;
    bool failed = false; // a page was refused or cut short, or the job could not be set up
    // Kept from page to page: pages of one size reuse memory and threads.
    PageBuffers buffers;
    EncoderPool pool;
    PageSlot slots[2]{PageSlot(pool), PageSlot(pool)};
    ParkedPage parked;
    std::vector<unsigned char> compressed;
};

int feature(const Job &job, FuncName name) { return job.prntFuncInfo[name].value; }

// The loop's failure report: its own text in front of what the failing operation left.
void report(const char *text)
{
    prepend_last_error(text);
    std::fputs(prntLastError, stderr);
    // The text is cut at its buffer's end after many failures; the next log
    // line must still start a line of its own, or CUPS would not read it.
    const size_t length = std::strlen(prntLastError);
    if (length > 0 && prntLastError[length - 1] != '\n')
        std::fputc('\n', stderr);
}

void install_handler(int sig, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

void set_keep_alive_timer(int seconds)
{
    itimerval timer{};
    timer.it_value.tv_sec = seconds;
    timer.it_interval.tv_sec = seconds;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

// Start-up up to the first header. Returns false (with the exit status set) when the job cannot run.
bool start_up(Job &job, int *status)
{
    std::copy(std::begin(kDefaultPrintFuncInfo), std::end(kDefaultPrintFuncInfo), job.prntFuncInfo);
    g_ismiddlepage = 1;
    if (job.argc != 6 && job.argc != 7) {
        std::fputs("ERROR: job-id user title copies options [file]\n", stderr);
        *status = 1;
        return false;
    }
    if (job.argc == 7 && !job.run.rasterInMemory) {
        job.fd = open(job.argv[6], O_RDONLY | O_CLOEXEC);
        if (job.fd < 0) {
            perror("ERROR: Unable to open raster file - ");
            sleep(1);
            *status = 1;
            return false;
        }
    }
    if (job.run.rasterInMemory)
        job.input = std::make_unique<RasterInput>(job.run.raster, job.run.rasterSize);
    else
        job.input = std::make_unique<RasterInput>(job.fd);
    Canceled = 0;
    // Before the raster is opened: opening reads its first bytes, and a job
    // cancelled while they are awaited must end through the job loop.
    if (job.run.ownSignals) {
        install_handler(SIGTERM, CancelJob);
        // A backend that has gone away must show up as a failed write, not kill us silently.
        install_handler(SIGPIPE, SIG_IGN);
    }
    job.ras.reset(job.input->open());
    const char *ppdPath = std::getenv("PPD");
    if (ppdPath != nullptr)
        job.ppd.reset(pfppdOpenFile(ppdPath));
    if (job.ppd && job.ppd->modelname != nullptr)
        std::snprintf(gPPDFile, sizeof gPPDFile, "%s", job.ppd->modelname);
    g_page = 0;
    return true;
}

void choose_platform(Job &job)
{
    job.paperSizeArray = GetPaperSizeArray(gPPDFile, &job.platform);
    if (job.platform == PLATFORM_NONE && read_ppd_text(job.ppd.get(), "PlatForm", job.PlatformMsg))
        job.paperSizeArray = platform_paper_table(job.PlatformMsg, &job.platform);
}

void parse_job_options(Job &job)
{
    const char *argv5 = job.argv[5];
    if (job.platform == PLATFORM_Z) {
        // The completions are parsed after the job's own text rather than behind a
        // copy of it: a text longer than the buffer would lose its last options,
        // or have one cut into another. They only name options the text does not.
        job.parameters[0] = '\0';
        checkOptionKey(job.parameters, argv5, job.ppd.get());
        job.options.parse(argv5);
        job.options.add(job.parameters);
    } else {
        job.options.parse(argv5);
    }
    GetFunctionValue(job.prntFuncInfo, job.options.num_option, job.options.options, &job.header);
    std::fprintf(stderr, "DEBUG: ##platform = %d, ##autoduplex = %d\n", job.platform, feature(job, AUTODUPLEX));
}

// Platform Z models without a duplexer print a duplex request as manual duplex.
void apply_duplex_fallback(Job &job)
{
    PRINT_FUNC_INFO *f = job.prntFuncInfo;
    if (f[AUTODUPLEX].value == 0 || job.platform != PLATFORM_Z || job.iSupportManDuplex != 1)
        return;
    if (f[AUTODUPLEX].value == 2)
        job.mDuplexType = 1;
    f[MANUALDUPLEX].value = 1;
    f[AUTODUPLEX].value = 0;
    std::fprintf(stderr, "DEBUG: ##ManualDuplex = %d, type is %d\n", 1, job.mDuplexType);
}

// Platform, PPD settings and options of the page just read.
void evaluate_page(Job &job)
{
    choose_platform(job);
    if (read_ppd_text(job.ppd.get(), "SupportManualDuplex", job.SupportManualDuplex) &&
        strcasecmp(job.SupportManualDuplex, "TRUE") == 0)
        job.iSupportManDuplex = 1;
    std::fprintf(stderr, "-------SupportManualDuplex is %d\n", job.iSupportManDuplex);
    parse_job_options(job);
    apply_duplex_fallback(job);
    // Manual duplex is a way of running the whole job: its spool files are made
    // with the first page, and its odd and even passes need every page. A later
    // page's header may not turn it on (its even pages would go nowhere) or off
    // (the back sides already spooled would never be sent).
    if (g_page == 1)
        job.manualDuplex = feature(job, MANUALDUPLEX);
    else
        job.prntFuncInfo[MANUALDUPLEX].value = job.manualDuplex;
    if (feature(job, MANUALDUPLEX) == 1)
        read_ppd_text(job.ppd.get(), "MDuplex", job.DuplexMsg);
    if (feature(job, DPI1200) == 1 && job.platform == PLATFORM_M)
        job.b2Bit = 1;
}

// A page that cannot be printed ends the job before any of its bytes is sent.
Next refuse_page(Job &job, const char *problem)
{
    std::fputs(problem, stderr);
    --g_page;
    job.failed = true;
    return g_page > 0 ? Next::EndJob : Next::CleanUp;
}

// Job start on the first page. False when a spool file could not be made.
bool start_job(Job &job)
{
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
    if (job.run.ownSignals && (job.platform == PLATFORM_C || job.platform == PLATFORM_Z)) {
        install_handler(SIGALRM, SendDummyCommand);
        set_keep_alive_timer(kKeepAliveSeconds);
    }
    fill_start_doc_param(&job.startDocParam, job.argv[1], job.argv[3], job.prntFuncInfo, job.platform,
                         job.iSupportManDuplex);
    g_ismiddlepage = 1;
    if (Prnt_StartDoc(&job.startDocParam, job.platform) == 0)
        report("main() :: Start doc Fail ! \n");
    g_ismiddlepage = 0;
    // The job start is not replayed with the copies.
    use_job_spool_files(spools);
    return true;
}

// The page's buffers, and whether it needs the whole gray page: a quarter turn
// does, and lines that do not start on a byte cannot be dithered one by one.
PageShape page_shape(const Job &job)
{
    PageShape shape;
    shape.W = job.geometry.W;
    shape.H = job.geometry.H;
    shape.bytesPerLine = job.header.cupsBytesPerLine;
    shape.b2Bit = job.b2Bit;
    const LineDither setup =
        line_dither_for(shape.W, shape.W, feature(job, NEGATIVEPRINT), feature(job, DPI1200), job.platform);
    shape.wholeGrayPage = long_edge_a5(job.geometry, job.prntFuncInfo, job.platform) || !lines_start_on_bytes(setup);
    return shape;
}

bool allocate_page_buffers(Job &job, PageSlot &slot, const PageShape &shape)
{
    if (prepare_page_buffers(job.buffers, slot.pMonoImgBuf, shape))
        return true;
    std::snprintf(prntLastError, sizeof prntLastError, "%s",
                  "main() :: Malloc pGrayImgLineBuf or pMonoImgLineBuf or pMonoImgBuf Fail ! \n");
    std::fputs(prntLastError, stderr);
    return false;
}

// Reads the page's raster rows and hands each row of the device image, in order,
// to `take`; lines wider than the device image are centred, rows beyond it are
// read and dropped. Returns the number of rows handed over.
template <typename TakeRow>
uint32_t read_rows(Job &job, const PageShape &shape, TakeRow take)
{
    const cups_page_header2_t &h = job.header;
    const uint32_t bpl = h.cupsBytesPerLine;
    unsigned char *line = job.buffers.pGrayImgLineBuf.data();
    uint32_t taken = 0;
    for (uint32_t y = 0; y < h.cupsHeight; ++y) {
        if (Canceled != 0)
            break;
        if (y % 128 == 0)
            std::fprintf(stderr, "INFO: Printing page %d, %d%% complete...\n", g_page,
                         static_cast<int>(uint64_t(y) * 100 / h.cupsHeight));
        if (pfcupsRasterReadPixels(job.ras.get(), line, bpl) == 0) {
            if (Canceled == 0) {
                // The page still goes out whole, white below; the job must not pass as printed.
                std::fprintf(stderr,
                             "ERROR: The raster data of page %d end after %u of its %u lines; the rest of the page "
                             "is left blank.\n",
                             g_page, y, h.cupsHeight);
                job.failed = true;
                break;
            }
            // The line of a job cancelled during the read is white, all of it.
            std::memset(line, 255, std::max(bpl, shape.W));
        }
        if (y >= shape.H)
            continue;
        take(y, device_row(job.buffers, shape));
        taken = y + 1;
    }
    return taken;
}

int half_turn(const Job &job, unsigned feedEdge)
{
    const int rotate180 = half_turn_needed(job.prntFuncInfo, g_page, job.platform, job.mDuplexType, feedEdge);
    std::fprintf(stderr, "DEBUG: ##page is %d, rotate180 is %d\n", g_page, rotate180);
    return rotate180;
}

void send_start_page(Job &job, PageStart &start)
{
    job.startPageParam = start.param; // the blank page of the job end reuses the last one
    g_ismiddlepage = 1;
    if (Prnt_StartPage(&job.startPageParam, job.platform) == 0)
        report("main() :: Start page Fail ! \n");
    g_ismiddlepage = 0;
    start.sent = true;
}

// Data and end of the parked page, once it is compressed.
void send_parked_page(Job &job)
{
    ParkedPage &parked = job.parked;
    if (!parked.waiting)
        return;
    parked.waiting = false;
    JBIG_BIH bih;
    const int encoded = job.slots[parked.slot].encoder.finish(bih, job.compressed);
    const int page = g_page, sendToDevice = gSendDataToDevice;
    g_page = parked.page;
    gSendDataToDevice = parked.sendToDevice;
    job.sendPageParam = parked.sendPageParam;
    job.endPageParam = parked.endPageParam;
    g_ismiddlepage = 1;
    if (send_encoded_page(&job.sendPageParam, bih, encoded, job.compressed, job.platform) == 0)
        report("main() :: Send page Fail!\n");
    if (Prnt_EndPage(&job.endPageParam, job.platform) == 0)
        report("main() :: End page Fail ! \n");
    mark_spool_page_end();
    g_ismiddlepage = 0;
    g_page = page;
    gSendDataToDevice = sendToDevice;
}

// Sends the page start once the page before is out: with `wait`, after waiting
// for it; without, only if it is compressed already. False while not sent.
bool start_when_ready(Job &job, PageStart &start, bool wait)
{
    if (start.sent || start.dropped)
        return start.sent;
    if (job.parked.waiting) {
        if (!wait && !job.slots[job.parked.slot].encoder.done())
            return false;
        send_parked_page(job);
        // The loop would have stopped here, before this page.
        if (printer_stream_failed()) {
            start.dropped = true;
            return false;
        }
    }
    send_start_page(job, start);
    return true;
}

// A page whose image is complete: started if it is not yet, then parked until
// it is compressed; on one thread it is sent at once.
Next end_page(Job &job, PageSlot &slot, PageStart &start, const GDI_SEND_PAGE_PARAM &send, uint32_t coverage)
{
    if (!start_when_ready(job, start, true)) {
        slot.encoder.abandon();
        --g_page;
        return Next::EndJob;
    }
    gImageCoverage += coverage;
    ParkedPage &parked = job.parked;
    parked.waiting = true;
    parked.slot = static_cast<int>(&slot - job.slots);
    parked.page = g_page;
    parked.sendToDevice = gSendDataToDevice;
    parked.sendPageParam = send;
    fill_end_page_param(&parked.endPageParam, job.header, job.prntFuncInfo, g_page);
    if (job.pool.threads() == nullptr)
        send_parked_page(job);
    return Canceled != 0 ? Next::EndJob : Next::Page;
}

// Half turn for duplex, quarter turn for long-edge A5, on the whole gray page.
// Returns the width of real image data per line after the turns, or 0 when the
// page could not be turned.
uint32_t turn_gray_page(Job &job, unsigned feedEdge, uint32_t *W, uint32_t *H)
{
    unsigned char *gray = job.buffers.pGrayImgBuf.data();
    if (half_turn(job, feedEdge) == 1 && Rotate180(gray, *W, *H) == 0)
        report("main() :: Rotate 180 Fail. \n");
    if (feedEdge != 0x40)
        return std::min(job.header.cupsBytesPerLine, *W);
    if (Rotate90(gray, *W, *H) == 0) {
        report("main() :: Rotate 90 Fail. \n");
        return 0;
    }
    std::swap(*W, *H);
    return std::min(job.header.cupsHeight, *W);
}

// A page that needs the whole gray page: rows in, turns, dither.
Next print_gray_page(Job &job, const PageShape &shape, PageSlot &slot, PageStart &start)
{
    const uint32_t rows = read_rows(job, shape, [&](uint32_t y, const unsigned char *row) {
        put_gray_row(job.buffers, shape, y, row);
        start_when_ready(job, start, false);
    });
    whiten_gray_rows(job.buffers, shape, rows);
    if (Canceled != 0 && job.platform == PLATFORM_M) {
        start_when_ready(job, start, true);
        return Next::CleanUp;
    }
    // The dither adds to the dot count that the page start resets.
    if (!start_when_ready(job, start, true)) {
        --g_page;
        return Next::EndJob;
    }
    uint32_t W = shape.W, H = shape.H;
    const uint32_t realWidth = turn_gray_page(job, start.param.feedEdge, &W, &H);
    if (realWidth == 0) {
        std::fputs("ERROR: Not enough memory to turn the page.\n", stderr);
        job.failed = true;
        return Next::EndJob;
    }
    unsigned char *mono = slot.pMonoImgBuf.data();
    HalftoneDither(job.buffers.pGrayImgBuf.data(), W, H, mono, realWidth, feature(job, NEGATIVEPRINT),
                   feature(job, DPI1200), job.platform);
    GDI_SEND_PAGE_PARAM send;
    fill_send_page_param(&send, W, H, job.b2Bit, job.header, job.platform, mono);
    slot.encoder.begin(send, job.platform);
    return end_page(job, slot, start, send, 0);
}

// Any other page: each row is halftoned as it is read, and compressed alongside.
Next print_streamed_page(Job &job, const PageShape &shape, PageSlot &slot, PageStart &start)
{
    StreamedPage page;
    page.buffers = &job.buffers;
    page.image = slot.pMonoImgBuf.data();
    page.encoder = &slot.encoder;
    page.setup = line_dither_for(shape.W, std::min(job.header.cupsBytesPerLine, shape.W),
                                 feature(job, NEGATIVEPRINT), feature(job, DPI1200), job.platform);
    page.H = shape.H;
    page.halfTurn = half_turn_needed(job.prntFuncInfo, g_page, job.platform, job.mDuplexType,
                                     start.param.feedEdge) == 1;
    GDI_SEND_PAGE_PARAM send;
    fill_send_page_param(&send, shape.W, shape.H, job.b2Bit, job.header, job.platform, page.image);
    slot.encoder.begin(send, job.platform);
    read_rows(job, shape, [&](uint32_t y, const unsigned char *row) {
        take_row(page, y, row);
        start_when_ready(job, start, false);
    });
    if (Canceled != 0 && job.platform == PLATFORM_M) {
        start_when_ready(job, start, true);
        abandon_rows(page);
        return Next::CleanUp;
    }
    finish_rows(page);
    half_turn(job, start.param.feedEdge);
    return end_page(job, slot, start, send, page.coverage);
}

// One page from its accepted header until it is parked (or sent, on one thread).
Next print_page(Job &job)
{
    ++g_page;
    evaluate_page(job);
    if (job.platform == PLATFORM_NONE)
        return refuse_page(job, "ERROR: The printer's PPD names no Varkon printer platform; nothing can be printed.\n");
    const char *problem = nullptr;
    if (compute_page_geometry(&job.header, job.paperSizeArray, job.options.num_option, job.options.options,
                              job.prntFuncInfo, job.platform, &job.geometry, &problem, job.run.limits) == 0)
        return refuse_page(job, problem);
    std::fprintf(stderr, "PAGE: %d %d\n", g_page, static_cast<int>(job.header.NumCopies));
    if (g_page == 1 && !start_job(job))
        return Next::CleanUp;
    if (g_page > 1 && feature(job, MANUALDUPLEX) == 1)
        gSendDataToDevice = (g_page % 2 == 1) ? 1 : 0;
    const PageShape shape = page_shape(job);
    PageSlot &slot = job.slots[job.parked.waiting ? 1 - job.parked.slot : 0];
    if (!allocate_page_buffers(job, slot, shape))
        return Next::EndJob;
    PageStart start;
    fill_start_page_param(&start.param, job.geometry, job.header, job.prntFuncInfo, job.platform, job.b2Bit,
                          g_page);
    if (job.pool.threads() == nullptr)
        send_start_page(job, start);
    return shape.wholeGrayPage ? print_gray_page(job, shape, slot, start)
                               : print_streamed_page(job, shape, slot, start);
}

// The page loop. Returns where the job goes once no further page is read.
Next page_loop(Job &job)
{
    for (;;) {
        // libcups clears the header it fails to read; the blank page and the
        // manual-duplex replay still need the last page's.
        cups_page_header2_t nextHeader;
        job.input->header_read_starts();
        if (pfcupsRasterReadHeader2(job.ras.get(), &nextHeader) == 0) {
            std::fputs("DEBUG: cupsRasterReadHeader2 return failure/end-of-file.\n", stderr);
            if (g_page > 0 && !job.input->ended_between_pages()) {
                std::fputs("ERROR: The raster data end inside a page header or with data that are no page; "
                           "a page may be missing.\n",
                           stderr);
                job.failed = true;
            }
            break;
        }
        normalise_copies(&nextHeader);
        job.header = nextHeader;
        std::fputs("DEBUG: cupsRasterReadHeader2 return OK.\n", stderr);
        log_page_header2(&job.header);
        if (Canceled != 0)
            break;
        if (const char *problem = raster_header_problem(job.header, job.run.limits)) {
            std::fputs(problem, stderr);
            job.failed = true;
            break;
        }
        const Next next = print_page(job);
        if (next != Next::Page)
            return next;
        // A backend that stopped reading cannot take more pages.
        if (printer_stream_failed())
            break;
    }
    return g_page > 0 ? Next::EndJob : Next::CleanUp;
}

void replay_spools(Job &job)
{
    const bool manual = feature(job, MANUALDUPLEX) == 1;
    if (spool_write_failed()) {
        std::fputs("ERROR: A spool file could not be written; copies and back sides are not sent.\n", stderr);
        job.failed = true;
        // The last page may have gone to the spool only; the job end is the printer's.
        gSendDataToDevice = 1;
        return;
    }
    if (feature(job, COLLATE) == 1 && job.iCopies > 1 && !manual && gCollateFile != 0)
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

void end_job(Job &job)
{
    if (feature(job, AUTODUPLEX) != 0 && g_page % 2 == 1)
        InsertBlankPage(job.header, &job.startPageParam, job.platform);
    g_ismiddlepage = 1;
    if (Canceled == 0 && !printer_stream_failed())
        replay_spools(job);
    g_ismiddlepage = 1;
    fill_end_doc_param(&job.endDocParam, job.prntFuncInfo, g_page);
    if (Prnt_EndDoc(&job.endDocParam, job.platform) == 0)
        report("main() :: End doc Fail ! \n");
}

// The manual-duplex wait, cut short by a cancellation.
void wait_for_manual_duplex(int seconds)
{
    timespec remaining{seconds, 0};
    while (Canceled == 0 && nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

int clean_up(Job &job)
{
    if (job.run.ownSignals)
        set_keep_alive_timer(0);
    job.ppd.reset();
    job.ras.reset();
    if (job.fd > 0)
        close(job.fd);
    close_spool_files();
    release_cups_libraries();
    if (feature(job, MANUALDUPLEX) == 1)
        wait_for_manual_duplex(job.run.manualDuplexWaitSeconds);
    g_ismiddlepage = 0;
    if (printer_stream_failed()) {
        std::fprintf(stderr, "ERROR: The printer data could not be sent: %s\n",
                     std::strerror(printer_stream_errno()));
        return 1;
    }
    if (job.failed)
        return 1;
    if (g_page > 0) {
        std::fputs("INFO: Ready to print.\n", stderr);
        return 0;
    }
    std::fputs("ERROR: No pages found!\n", stderr);
    return 1;
}

// The process state as at program start, for a process that runs more than one job.
void reset_process_state()
{
    g_page = 0;
    Canceled = 0;
    gPPDFile[0] = '\0';
    prntLastError[0] = '\0';
    gSendDataToDevice = 1;
    g_ismiddlepage = 1;
    gCollateFile = gManualDuplexOddFile = gManualDuplexEvenFile = 0;
    gCacheSize.clear();
    gImageCoverage = 0;
    gImageChecksum = 0;
    reset_sink_failures();
}

} // namespace

int run_job(int argc, char *argv[], const JobRun &run)
{
    reset_process_state();
    Job job(argc, argv, run);
    InitCUPSIMAGEDLL();
    InitCUPSDLL();
    std::setbuf(stderr, nullptr);
    int status = 1;
    if (!start_up(job, &status)) {
        release_cups_libraries();
        return status;
    }
    const Next next = page_loop(job);
    // A page still being compressed goes out before anything that ends the job.
    send_parked_page(job);
    if (next == Next::EndJob)
        end_job(job);
    return clean_up(job);
}

} // namespace varkon
