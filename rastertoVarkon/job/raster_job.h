// SPDX-License-Identifier: GPL-2.0-or-later
// A job of the host-based printers as a library: one object owns everything
// the job holds from its first page to its end; the caller pushes page headers
// and raster lines in, and every printer byte goes to the caller's sink. The
// CUPS filter is one caller (job_loop.h); a print server is another, running
// many jobs at once, one per thread, without process signals.
#pragma once

#include "job_context.h"
#include "page_geometry.h"

#include <cups/raster.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace varkon {

struct RasterJobState;

// Who sends the keep-alive of platforms C and Z while the job runs.
enum class KeepAlive {
    Thread, // a thread of the job, through the printer sink
    Signal, // the filter's SIGALRM timer, straight to descriptor 1
    None,   // nobody: jobs run inside tests
};

struct RasterJobParams {
    // The printer. The model name (a PPD's ModelName) chooses the platform and
    // the paper table; for a model the table does not know, the PlatForm text
    // ("PLATFORM_Z", ...) does.
    std::string modelName;
    std::string platformText;
    bool supportsManualDuplex = false; // platform Z without a duplexer prints duplex by hand
    std::string manualDuplexMessage;   // shown when the user must turn the stack

    // The job, in the words of the CUPS filter command line.
    std::string jobId = "1";
    std::string user;
    std::string title;
    std::string options; // CUPS option text: "Density=4 Collate=True ..."
    // A job whose page headers do not carry copies and collation gives them
    // here: 0 and empty leave the headers' NumCopies and the options' Collate.
    unsigned copies = 0;
    std::optional<bool> collate;
    std::string hostName; // the PJL job owner; empty: this machine's name
    // Platform Z: completes the options text from the printer's defaults
    // before each page (the filter reads them from its PPD); `parameters` has
    // room for 8192 bytes and starts empty.
    std::function<void(const char *options, char *parameters)> completeOptions;

    // Running.
    unsigned encoderThreads = 0; // 0: encoder_thread_count()
    int manualDuplexWaitSeconds = 10;
    KeepAlive keepAlive = KeepAlive::Thread;
    std::chrono::milliseconds keepAlivePeriod{std::chrono::seconds(10)};
    PageLimits limits;
    std::function<void(const char *line)> log; // empty: standard error
};

class RasterJob {
public:
    // `printer` receives every printer byte and must outlive the job; nullptr: descriptor 1.
    RasterJob(const RasterJobParams &params, PrinterSink *printer);
    ~RasterJob();
    RasterJob(const RasterJob &) = delete;
    RasterJob &operator=(const RasterJob &) = delete;

    // Starts a page from its header (8-bit gray, 0 = black). False when the
    // page is refused or the job has ended (cancelled, the printer stream
    // broke): feed nothing more and call finish().
    bool start_page(const cups_page_header2_t &header);
    // Whether the page takes another line.
    bool wants_line() const;
    // Room for one raster line of the page started, for reading the next line
    // straight into it before write_line(line_buffer()).
    unsigned char *line_buffer();
    // The page's next line, cupsBytesPerLine bytes; nullptr: a white line.
    // False once the page takes no more (all lines given, or cancelled).
    bool write_line(const unsigned char *line);
    // Ends the page. A page given fewer lines than its header has is completed
    // white and fails the job. False when the job has ended.
    bool end_page();
    // The caller's input failed (a raster cut inside a header, say): the job
    // goes on to its end but does not pass as printed.
    void fail();
    // Ends the job: the page still in flight, the blank back side, collated
    // copies and the second pass of manual duplex, the job end. Returns the exit
    // status the filter gives: 0 when every page was printed whole, else 1.
    int finish();
    // From any thread: the job ends after the page under way, with the job end
    // its platform expects, as SIGTERM ends the filter.
    void cancel();
    bool canceled() const;

    // Pages accepted so far (g_page).
    int page() const;
    JobContext &context();

private:
    std::unique_ptr<RasterJobState> impl_;
};

} // namespace varkon
