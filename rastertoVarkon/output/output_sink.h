// SPDX-License-Identifier: GPL-2.0-or-later
// The output sink: the one path by which printer data leave the raster core,
// with the spool files for collated copies and manual duplex and the
// keep-alive between command sequences. Its state is the bound job's.
#pragma once

#include "job_context.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Sends `count` bytes to the printer (when gSendDataToDevice is 1) and, with
// bCache 1, to the open spool files. 1 when the last destination accepted them;
// 0 for absent data (with prntLastError set) and for a zero-length write.
int SendDataToFile(const unsigned char *pData, size_t count, int bCache);

// Two zero bytes through the sink, cached. 1 on success.
int Insert00();

// SIGALRM handler of the filter: the keep-alive of platforms C and Z. Writes
// two zero bytes straight to descriptor 1 (never spooled) when the filter's job
// has g_ismiddlepage 0.
void SendDummyCommand(int sig);

namespace varkon {

// The period of the keep-alive of platforms C and Z.
constexpr int kKeepAliveSeconds = 10;

// The job the filter's signal handlers act on: SendDummyCommand, and CancelJob,
// which raises its Canceled. nullptr: none. The one piece of job state a
// process keeps, since a handler cannot be given an argument.
void set_signal_job(JobContext *job);
JobContext *signal_job();

// The keep-alive of a job run without process signals: a thread that sends
// the same two zero bytes through the job's printer sink every period, under
// the sink's lock and only while g_ismiddlepage is 0. Stops when destroyed.
class KeepAliveThread {
public:
    KeepAliveThread(JobContext &job, std::chrono::milliseconds period);
    ~KeepAliveThread();
    KeepAliveThread(const KeepAliveThread &) = delete;
    KeepAliveThread &operator=(const KeepAliveThread &) = delete;

private:
    void run(std::chrono::milliseconds period);

    JobContext &job_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// Sticky failure flags of the bound job: a write to the printer came up short
// (the backend is gone, the disk is full), or a spool file lost bytes.
bool printer_stream_failed();
int printer_stream_errno(); // errno of the first short write to the printer
bool spool_write_failed();

// Marks the end of a page in the collation and odd-page spools, so that a
// replay that is cancelled still ends its page. Called after each page end.
void mark_spool_page_end();
// The page ends marked in the collation and in the odd-page spool, in bytes
// from the start of the file; cleared when a job's spool files are set up.
const std::vector<uint64_t> &collate_page_ends();
const std::vector<uint64_t> &odd_page_ends();
void reset_spool_page_ends();

} // namespace varkon
