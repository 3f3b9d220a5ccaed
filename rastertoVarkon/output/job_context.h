// SPDX-License-Identifier: GPL-2.0-or-later
// The state of one raster job, which every layer of the raster core reaches:
// the page counter, the cancel flag, the failure text, the output sink and its
// spool files, the page's coverage and checksum. Each job owns one; while the
// job runs on a thread, it is bound to that thread, so that the command
// language keeps its plain operations (Prnt_StartDoc, SendDataToFile, ...)
// and two jobs on two threads share nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace varkon {

// Where the printer's bytes go: descriptor 1 for the filter, the device for a
// print server, memory for tests. Returns the bytes it accepted; fewer count
// as a failed write, with errno as the writer leaves it.
class PrinterSink {
public:
    virtual ~PrinterSink() = default;
    virtual size_t write(const unsigned char *data, size_t count) = 0;
};

// Bytes in a spool file and where its pages end, so that a cancelled replay
// still ends its page.
struct SpoolPages {
    uint64_t bytes = 0;
    std::vector<uint64_t> ends;
    void mark()
    {
        if (ends.empty() || ends.back() != bytes)
            ends.push_back(bytes);
    }
};

struct JobContext {
    // Number of page headers accepted so far; while a page is processed, its 1-based number.
    int g_page = 0;
    // Raised to 1 when the job is cancelled (SIGTERM in the filter, a call in a
    // server), never reset. Atomic: the handler and other threads raise it.
    std::atomic<int> Canceled{0};
    // The printer's model name, the key of the model table.
    char gPPDFile[1024] = {};
    // Text of the last failure: failing operations put their own text in front of it.
    char prntLastError[1024] = {};

    // The output sink. 1: data goes to the printer; 0: it is only spooled (even
    // pages of manual duplex).
    int gSendDataToDevice = 1;
    // 1 while a command sequence or page is being produced. The keep-alive
    // writes only while it is 0, so its bytes never land inside a frame.
    std::atomic<int> g_ismiddlepage{1};
    // Spool file descriptors; 0 means none.
    int gCollateFile = 0;
    int gManualDuplexOddFile = 0;
    int gManualDuplexEvenFile = 0;
    // Byte length of each even page in the even spool file: entry k holds page 2(k+1).
    std::vector<int32_t> gCacheSize;

    // Printed dots of the current page (C and Z coverage frames), and the
    // checksum of the compressed page that the C image checksum frame carries.
    uint32_t gImageCoverage = 0;
    uint32_t gImageChecksum = 0;

    // Sticky failures of the sink: a write to the printer came up short (with
    // the errno of the first), or a spool file lost bytes.
    bool printerStreamFailed = false;
    int printerStreamErrno = 0;
    bool spoolFailed = false;
    SpoolPages collatePages;
    SpoolPages oddPages;
    // nullptr: descriptor 1.
    PrinterSink *printer = nullptr;
    // Taken around every write to the printer while a keep-alive thread runs.
    std::mutex printerLock;
    bool printerShared = false;

    // The PJL job owner; empty: this machine's host name.
    char hostName[33] = {};
    // Where log lines go; empty: standard error.
    std::function<void(const char *line)> log;

    static_assert(std::atomic<int>::is_always_lock_free, "Canceled and g_ismiddlepage are used by signal handlers");
};

// The job bound to this thread. Calling it on a thread without one is a
// programming error: the process is stopped with a message.
JobContext &job_context();
// Whether a job is bound to this thread.
bool job_bound();

// Binds a job to this thread for its lifetime, then restores the one before.
class JobBinding {
public:
    explicit JobBinding(JobContext &job);
    ~JobBinding();
    JobBinding(const JobBinding &) = delete;
    JobBinding &operator=(const JobBinding &) = delete;

private:
    JobContext *previous_;
};

// Puts `text` in front of the bound job's prntLastError, keeping at most 1023
// bytes plus the terminator; when both do not fit, the older text is cut at its end.
void prepend_last_error(const char *text);

// One log line of the bound job, written whole (a job without a logger writes
// to standard error); printf-style in the second form.
void job_log(const char *text);
void job_logf(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace varkon
