// SPDX-License-Identifier: GPL-2.0-or-later
// What a raster job holds between the calls of its caller: the job's own
// values and those of the page under way. Shared by the job's start and end
// (raster_job.cpp) and its page flow (page_flow.cpp); nothing else includes it.
#pragma once

#include "raster_job.h"

#include "job_options.h"
#include "output_sink.h"
#include "page_encoder.h"
#include "page_geometry.h"
#include "page_pipeline.h"
#include "paper_tables.h"
#include "platform.h"
#include "prnt.h"

#include <cups/cups.h>

#include <memory>
#include <vector>

namespace varkon {

// What comes after the call that has just returned.
enum class Next {
    Page,    // the job goes on
    EndJob,  // the job ends with its job end (blank page, replays, job end)
    CleanUp, // the job ends without one: nothing was started, or platform M was cancelled in a page
};

// The job options parsed for the current page, freed when replaced.
struct ParsedOptions {
    int num_option = 0;
    cups_option_t *options = nullptr;
    ParsedOptions() = default;
    ParsedOptions(const ParsedOptions &) = delete;
    ParsedOptions &operator=(const ParsedOptions &) = delete;
    ~ParsedOptions();
    void parse(const char *text);
    // Adds the options of `text` to those already parsed.
    void add(const char *text);
};

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

// The page between start_page and end_page.
struct OpenPage {
    bool open = false;
    PageShape shape;
    PageSlot *slot = nullptr;
    PageStart start;
    StreamedPage streamed;          // pages halftoned row by row
    GDI_SEND_PAGE_PARAM sendParam;  // their send record, filled before the rows
    uint32_t rowsRead = 0;          // raster lines given, dropped ones included
    uint32_t rowsTaken = 0;         // lines of the device image among them
};

struct RasterJobState {
    RasterJobState(const RasterJobParams &p, PrinterSink *printer);

    RasterJobParams params;
    JobContext context;
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
    Next next = Next::Page;
    bool finished = false;
    // Kept from page to page: pages of one size reuse memory and threads.
    PageBuffers buffers;
    EncoderPool pool;
    PageSlot slots[2]{PageSlot(pool), PageSlot(pool)};
    ParkedPage parked;
    OpenPage page;
    std::vector<unsigned char> compressed;
    std::unique_ptr<KeepAliveThread> keepAlive;
};

int feature(const RasterJobState &job, FuncName name);

// The job's failure report: its own text in front of what the failing operation left.
void report(const char *text);

// The page flow (page_flow.cpp).
// From an accepted header to the page's first line; anything but Next::Page ends the job.
Next begin_page(RasterJobState &job);
void take_line(RasterJobState &job);
// From the page's last line until it is parked (or sent, on one thread).
Next complete_page(RasterJobState &job);
// Data and end of the parked page, once it is compressed.
void send_parked_page(RasterJobState &job);

// The job's start and end (raster_job.cpp).
void evaluate_page(RasterJobState &job);
bool start_job(RasterJobState &job);

} // namespace varkon
