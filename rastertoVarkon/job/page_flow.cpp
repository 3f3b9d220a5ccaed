// SPDX-License-Identifier: GPL-2.0-or-later
// The flow of a page through the job: its start, its raster lines (halftoned
// as they come, or gathered into a whole gray page where a quarter turn needs
// one, and compressed alongside), its end. With helper threads the next page
// is read while the one before is still being compressed: that page is parked
// and sent, with the page number and sink state it was read with, as soon as
// it is done and before anything that follows it.
#include "raster_job_state.h"

#include "dither.h"
#include "image_transfer.h"
#include "page_transforms.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace varkon {

namespace {

// A page that cannot be printed ends the job before any of its bytes is sent.
Next refuse_page(RasterJobState &job, const char *problem)
{
    job_log(problem);
    --job.context.g_page;
    job.failed = true;
    return job.context.g_page > 0 ? Next::EndJob : Next::CleanUp;
}

// The page's buffers, and whether it needs the whole gray page: a quarter turn
// does, and lines that do not start on a byte cannot be dithered one by one.
PageShape page_shape(const RasterJobState &job)
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

bool allocate_page_buffers(RasterJobState &job, PageSlot &slot, const PageShape &shape)
{
    if (prepare_page_buffers(job.buffers, slot.pMonoImgBuf, shape))
        return true;
    std::snprintf(job.context.prntLastError, sizeof job.context.prntLastError, "%s",
                  "main() :: Malloc pGrayImgLineBuf or pMonoImgLineBuf or pMonoImgBuf Fail ! \n");
    job_log(job.context.prntLastError);
    return false;
}

int half_turn(const RasterJobState &job, unsigned feedEdge)
{
    const int page = job.context.g_page;
    const int rotate180 = half_turn_needed(job.prntFuncInfo, page, job.platform, job.mDuplexType, feedEdge);
    job_logf("DEBUG: ##page is %d, rotate180 is %d\n", page, rotate180);
    return rotate180;
}

void send_start_page(RasterJobState &job, PageStart &start)
{
    job.startPageParam = start.param; // the blank page of the job end reuses the last one
    job.context.g_ismiddlepage = 1;
    if (Prnt_StartPage(&job.startPageParam, job.platform) == 0)
        report("main() :: Start page Fail ! \n");
    job.context.g_ismiddlepage = 0;
    start.sent = true;
}

// Sends the page start once the page before is out: with `wait`, after waiting
// for it; without, only if it is compressed already. False while not sent.
bool start_when_ready(RasterJobState &job, PageStart &start, bool wait)
{
    if (start.sent || start.dropped)
        return start.sent;
    if (job.parked.waiting) {
        if (!wait && !job.slots[job.parked.slot].encoder.done())
            return false;
        send_parked_page(job);
        // The job would have stopped here, before this page.
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
Next park_page(RasterJobState &job, PageSlot &slot, PageStart &start, const GDI_SEND_PAGE_PARAM &send,
               uint32_t coverage)
{
    JobContext &context = job.context;
    if (!start_when_ready(job, start, true)) {
        slot.encoder.abandon();
        --context.g_page;
        return Next::EndJob;
    }
    context.gImageCoverage += coverage;
    ParkedPage &parked = job.parked;
    parked.waiting = true;
    parked.slot = static_cast<int>(&slot - job.slots);
    parked.page = context.g_page;
    parked.sendToDevice = context.gSendDataToDevice;
    parked.sendPageParam = send;
    fill_end_page_param(&parked.endPageParam, job.header, job.prntFuncInfo, context.g_page);
    if (job.pool.threads() == nullptr)
        send_parked_page(job);
    return context.Canceled != 0 ? Next::EndJob : Next::Page;
}

// Half turn for duplex, quarter turn for long-edge A5, on the whole gray page.
// Returns the width of real image data per line after the turns, or 0 when the
// page could not be turned.
uint32_t turn_gray_page(RasterJobState &job, unsigned feedEdge, uint32_t *W, uint32_t *H)
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

// A page on the whole gray page, all its rows in: turns, dither.
Next complete_gray_page(RasterJobState &job)
{
    OpenPage &page = job.page;
    whiten_gray_rows(job.buffers, page.shape, page.rowsTaken);
    if (job.context.Canceled != 0 && job.platform == PLATFORM_M) {
        start_when_ready(job, page.start, true);
        return Next::CleanUp;
    }
    // The dither adds to the dot count that the page start resets.
    if (!start_when_ready(job, page.start, true)) {
        --job.context.g_page;
        return Next::EndJob;
    }
    uint32_t W = page.shape.W, H = page.shape.H;
    const uint32_t realWidth = turn_gray_page(job, page.start.param.feedEdge, &W, &H);
    if (realWidth == 0) {
        job_log("ERROR: Not enough memory to turn the page.\n");
        job.failed = true;
        return Next::EndJob;
    }
    unsigned char *mono = page.slot->pMonoImgBuf.data();
    HalftoneDither(job.buffers.pGrayImgBuf.data(), W, H, mono, realWidth, feature(job, NEGATIVEPRINT),
                   feature(job, DPI1200), job.platform);
    GDI_SEND_PAGE_PARAM send;
    fill_send_page_param(&send, W, H, job.b2Bit, job.header, job.platform, mono);
    page.slot->encoder.begin(send, job.platform);
    return park_page(job, *page.slot, page.start, send, 0);
}

// A page halftoned row by row, all its rows in.
Next complete_streamed_page(RasterJobState &job)
{
    OpenPage &page = job.page;
    if (job.context.Canceled != 0 && job.platform == PLATFORM_M) {
        start_when_ready(job, page.start, true);
        abandon_rows(page.streamed);
        return Next::CleanUp;
    }
    finish_rows(page.streamed);
    half_turn(job, page.start.param.feedEdge);
    return park_page(job, *page.slot, page.start, page.sendParam, page.streamed.coverage);
}

// Each row is halftoned as it is read, and compressed alongside.
void begin_streamed_page(RasterJobState &job)
{
    OpenPage &page = job.page;
    StreamedPage &streamed = page.streamed;
    streamed = StreamedPage{};
    streamed.buffers = &job.buffers;
    streamed.image = page.slot->pMonoImgBuf.data();
    streamed.encoder = &page.slot->encoder;
    streamed.setup = line_dither_for(page.shape.W, std::min(job.header.cupsBytesPerLine, page.shape.W),
                                     feature(job, NEGATIVEPRINT), feature(job, DPI1200), job.platform);
    streamed.H = page.shape.H;
    streamed.halfTurn = half_turn_needed(job.prntFuncInfo, job.context.g_page, job.platform, job.mDuplexType,
                                         page.start.param.feedEdge) == 1;
    fill_send_page_param(&page.sendParam, page.shape.W, page.shape.H, job.b2Bit, job.header, job.platform,
                         streamed.image);
    page.slot->encoder.begin(page.sendParam, job.platform);
}

} // namespace

Next begin_page(RasterJobState &job)
{
    JobContext &context = job.context;
    ++context.g_page;
    evaluate_page(job);
    if (job.platform == PLATFORM_NONE)
        return refuse_page(job, "ERROR: The printer's PPD names no Varkon printer platform; nothing can be printed.\n");
    const char *problem = nullptr;
    if (compute_page_geometry(&job.header, job.paperSizeArray, job.options.num_option, job.options.options,
                              job.prntFuncInfo, job.platform, &job.geometry, &problem, job.params.limits) == 0)
        return refuse_page(job, problem);
    job_logf("PAGE: %d %d\n", context.g_page, static_cast<int>(job.header.NumCopies));
    if (context.g_page == 1 && !start_job(job))
        return Next::CleanUp;
    if (context.g_page > 1 && feature(job, MANUALDUPLEX) == 1)
        context.gSendDataToDevice = (context.g_page % 2 == 1) ? 1 : 0;
    OpenPage &page = job.page;
    page.shape = page_shape(job);
    page.slot = &job.slots[job.parked.waiting ? 1 - job.parked.slot : 0];
    if (!allocate_page_buffers(job, *page.slot, page.shape))
        return Next::EndJob;
    page.start = PageStart{};
    fill_start_page_param(&page.start.param, job.geometry, job.header, job.prntFuncInfo, job.platform, job.b2Bit,
                          context.g_page);
    if (job.pool.threads() == nullptr)
        send_start_page(job, page.start);
    page.rowsRead = 0;
    page.rowsTaken = 0;
    if (!page.shape.wholeGrayPage)
        begin_streamed_page(job);
    page.open = true;
    return Next::Page;
}

// Line rowsRead - 1 is in the line buffer: lines wider than the device image
// are centred, rows beyond it are read and dropped.
void take_line(RasterJobState &job)
{
    OpenPage &page = job.page;
    const uint32_t y = page.rowsRead - 1;
    if (y >= page.shape.H)
        return;
    const unsigned char *row = device_row(job.buffers, page.shape);
    if (page.shape.wholeGrayPage)
        put_gray_row(job.buffers, page.shape, y, row);
    else
        take_row(page.streamed, y, row);
    page.rowsTaken = y + 1;
    start_when_ready(job, page.start, false);
}

Next complete_page(RasterJobState &job)
{
    job.page.open = false;
    return job.page.shape.wholeGrayPage ? complete_gray_page(job) : complete_streamed_page(job);
}

void send_parked_page(RasterJobState &job)
{
    ParkedPage &parked = job.parked;
    if (!parked.waiting)
        return;
    parked.waiting = false;
    JobContext &context = job.context;
    JBIG_BIH bih;
    const int encoded = job.slots[parked.slot].encoder.finish(bih, job.compressed);
    // The page goes out as it was read: its number and whether the printer gets it.
    const int page = context.g_page, sendToDevice = context.gSendDataToDevice;
    context.g_page = parked.page;
    context.gSendDataToDevice = parked.sendToDevice;
    job.sendPageParam = parked.sendPageParam;
    job.endPageParam = parked.endPageParam;
    context.g_ismiddlepage = 1;
    if (send_encoded_page(&job.sendPageParam, bih, encoded, job.compressed, job.platform) == 0)
        report("main() :: Send page Fail!\n");
    if (Prnt_EndPage(&job.endPageParam, job.platform) == 0)
        report("main() :: End page Fail ! \n");
    mark_spool_page_end();
    context.g_ismiddlepage = 0;
    context.g_page = page;
    context.gSendDataToDevice = sendToDevice;
}

} // namespace varkon
